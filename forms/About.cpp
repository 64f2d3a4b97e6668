#include "About.h"

#include "FormFonts.h"

#include <QDate>
#include <QLocale>
#include <QScreen>
#include <QTextBlock>
#include <QTextCursor>

namespace corvane {

TFormAbout::TFormAbout(QWidget* parent) : QDialog(parent)
{
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(356, 297);
    setFont(formFont(11));
    Label1->setFont(formFont(13, true));
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);

    // __DATE__ is when this file was compiled ("Dec  7 2026"; SOURCE_DATE_EPOCH fixes it for
    // reproducible builds), shown in the window's own "10 Apr, 2001" form.
    const QDate built =
        QDate::fromString(QString::fromLatin1(__DATE__).simplified(), QStringLiteral("MMM d yyyy"));
    Label5->setText(QStringLiteral("Version %1 - %2")
                        .arg(QStringLiteral(CORVANE_VERSION),
                             QLocale::c().toString(built, QStringLiteral("d MMM, yyyy"))));
    LabelHelp->setText(
        QStringLiteral("<a href=\"help\">Help: connecting, tuning, settings (F1)</a>"));
    connect(LabelHelp, &QLabel::linkActivated, this, &TFormAbout::helpRequested);

    // Label6 is a borderless, read-only memo on the window's colour, its lines centred.
    QPalette memoPalette = Label6->palette();
    memoPalette.setColor(QPalette::Base, memoPalette.color(QPalette::Window));
    Label6->setPalette(memoPalette);
    Label6->document()->setDocumentMargin(0);
    Label6->setPlainText(QStringLiteral("A receiver for narrow-band, mechanically scanned TV\n"
                                        "Copyright the Corvane developers\n"
                                        "GNU General Public License, version 3 or later\n"
                                        "No warranty: see the LICENSE file"));
    QTextCursor cursor(Label6->document());
    cursor.select(QTextCursor::Document);
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignHCenter);
    cursor.mergeBlockFormat(centred);
}

void TFormAbout::showEvent(QShowEvent* event)
{
    if (const QScreen* where = screen())
        move(where->geometry().center() - rect().center());
    QDialog::showEvent(event);
}

} // namespace corvane
