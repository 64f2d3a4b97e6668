#include "WidgetInterfaces.h"

#include "TCampo.h"
#include "TCampoMemo.h"
#include "TPhaseScope.h"
#include "TSlider.h"

#include <QPainter>
#include <QPixmap>

namespace corvane::designer {

namespace {

constexpr int kIconSize = 22;

QIcon paintedIcon(const std::function<void(QPainter&)>& paint)
{
    QPixmap pixmap(kIconSize, kIconSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    paint(p);
    return QIcon(pixmap);
}

QIcon sliderIcon()
{
    return paintedIcon([](QPainter& p) {
        p.setPen(QPen(Qt::darkGray, 2));
        p.drawLine(2, 9, 20, 9);
        for (int x = 3; x <= 19; x += 4)
            p.drawLine(x, 15, x, 18);
        p.setPen(Qt::black);
        p.setBrush(QColor(200, 200, 200));
        p.drawPolygon(QPolygon({{9, 4}, {14, 4}, {14, 11}, {11, 14}, {9, 11}}));
    });
}

QIcon scopeIcon()
{
    return paintedIcon([](QPainter& p) {
        p.setPen(QPen(Qt::gray, 1.5));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(1.5, 1.5, 19, 19));
        p.setPen(QPen(QColor(255, 64, 64), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(11, 11), QPointF(6, 4));
    });
}

QIcon fieldIcon(const QColor& fill, const QString& text)
{
    return paintedIcon([fill, text](QPainter& p) {
        p.setPen(Qt::darkGray);
        p.setBrush(fill);
        p.drawRect(QRectF(0.5, 5.5, 21, 11));
        QFont font = p.font();
        font.setPixelSize(9);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(QRect(2, 5, 19, 12), Qt::AlignLeft | Qt::AlignVCenter, text);
    });
}

} // namespace

WidgetInterface::WidgetInterface(WidgetDescription description, QObject* parent)
    : QObject(parent), m_d(std::move(description))
{}

QIcon WidgetInterface::icon() const
{
    if (m_icon.isNull())
        m_icon = m_d.icon();
    return m_icon;
}

QString WidgetInterface::domXml() const
{
    return QStringLiteral(R"(<ui language="c++">
 <widget class="%1" name="%2">
  <property name="geometry">
   <rect><x>0</x><y>0</y><width>%3</width><height>%4</height></rect>
  </property>
  <property name="toolTip"><string/></property>
 </widget>
</ui>
)")
        .arg(m_d.className, m_d.defaultName)
        .arg(m_d.defaultSize.width())
        .arg(m_d.defaultSize.height());
}

QList<WidgetDescription> sampleWidgets()
{
    return {
        {QStringLiteral("corvane::TSlider"), QStringLiteral("TSlider.h"),
         QStringLiteral("Slider with track-bar keys"),
         QStringLiteral("A horizontal slider that never shows a selection band. Left/Up lower "
                        "and Right/Down raise by one, Page Up/Page Down by a page, Home/End go "
                        "to the ends; a click in the channel moves one page toward it."),
         QStringLiteral("slider"), QSize(150, 45), sliderIcon,
         [](QWidget* parent) -> QWidget* { return new TSlider(parent); }},
        {QStringLiteral("corvane::TPhaseScope"), QStringLiteral("TPhaseScope.h"),
         QStringLiteral("Phase scope: a dial with a needle"),
         QStringLiteral("A round dial with 32 ticks. The needle's direction is the phase in "
                        "radians (0 up, counter-clockwise) and its length the amplitude."),
         QStringLiteral("phaseScope"), QSize(100, 100), scopeIcon,
         [](QWidget* parent) -> QWidget* { return new TPhaseScope(parent); }},
        {QStringLiteral("corvane::TCampo"), QStringLiteral("TCampo.h"),
         QStringLiteral("Navigating data field, upper case"),
         QStringLiteral("An edit field bound to a model column (dataSource, dataField) that "
                        "shows upper case, turns yellow while focused, and moves on with "
                        "Enter/Down, back with Up; Escape closes the window."),
         QStringLiteral("campo"), QSize(121, 22),
         [] { return fieldIcon(QColor(255, 255, 0), QStringLiteral("AB")); },
         [](QWidget* parent) -> QWidget* { return new TCampo(parent); }},
        {QStringLiteral("corvane::TCampoMemo"), QStringLiteral("TCampoMemo.h"),
         QStringLiteral("Navigating edit field"),
         QStringLiteral("An edit field that turns light blue while focused and moves on with "
                        "Enter/Down, back with Up; Escape closes the window."),
         QStringLiteral("campoMemo"), QSize(121, 22),
         [] { return fieldIcon(QColor(160, 224, 255), QStringLiteral("ab")); },
         [](QWidget* parent) -> QWidget* { return new TCampoMemo(parent); }},
    };
}

} // namespace corvane::designer
