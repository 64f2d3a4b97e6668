#pragma once

#include "ui_About.h"

#include <QDialog>

namespace corvane {

// The About window: a borderless panel of texts with a Close button, shown modally and centred
// on the screen. It has no handlers of its own; Close ends the modal display with "OK".
class TFormAbout : public QDialog, public Ui::TFormAbout
{
    Q_OBJECT

public:
    explicit TFormAbout(QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
};

} // namespace corvane
