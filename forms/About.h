#pragma once

#include "ui_About.h"

#include <QDialog>

namespace corvane {

// The About window: a borderless panel of texts with a Close button, shown modally and centred
// on the screen. Close ends the modal display with "OK"; the help link asks for the help page,
// which whoever opens help (the main window) shows.
class TFormAbout : public QDialog, public Ui::TFormAbout
{
    Q_OBJECT

public:
    explicit TFormAbout(QWidget* parent = nullptr);

signals:
    void helpRequested();

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace corvane
