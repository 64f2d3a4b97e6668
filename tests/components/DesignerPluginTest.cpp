#include <QColor>
#include <QFileInfo>
#include <QPluginLoader>
#include <QRegularExpression>
#include <QSlider>
#include <QWidget>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace {

struct Expected
{
    QSize geometry;
    std::map<const char*, QVariant> properties;
};

QSize domGeometry(const QString& xml)
{
    const QRegularExpression re(QStringLiteral("<width>(\\d+)</width>\\s*<height>(\\d+)</height>"));
    const QRegularExpressionMatch m = re.match(xml);
    return m.hasMatch() ? QSize(m.captured(1).toInt(), m.captured(2).toInt()) : QSize();
}

} // namespace

TEST(DesignerPlugin, OffersTheFourSamplesEachCreatable)
{
    QPluginLoader loader(QStringLiteral(CORVANE_DESIGNER_PLUGIN));
    ASSERT_TRUE(loader.load()) << loader.errorString().toStdString();
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader.instance());
    ASSERT_NE(collection, nullptr);

    const std::map<QString, Expected> expected = {
        {"corvane::TSlider",
         {{150, 45},
          {{"orientation", QVariant::fromValue(Qt::Horizontal)},
           {"maximum", 10},
           {"pageStep", 2}}}},
        {"corvane::TPhaseScope",
         {{100, 100},
          {{"phase", 0.0f}, {"ampl", 0.0f}, {"showText", true}, {"backColor", QColor(Qt::white)}}}},
        {"corvane::TCampo", {{121, 22}, {{"dataField", QString()}, {"text", QString()}}}},
        {"corvane::TCampoMemo", {{121, 22}, {{"text", QString()}}}},
    };

    const QList<QDesignerCustomWidgetInterface*> widgets = collection->customWidgets();
    ASSERT_EQ(widgets.size(), 4);
    for (QDesignerCustomWidgetInterface* w : widgets) {
        const QString name = w->name();
        SCOPED_TRACE(name.toStdString());
        const auto it = expected.find(name);
        ASSERT_NE(it, expected.end());
        EXPECT_EQ(w->group(), QStringLiteral("Samples"));
        EXPECT_FALSE(w->icon().isNull());
        EXPECT_FALSE(w->toolTip().isEmpty());
        EXPECT_FALSE(w->whatsThis().isEmpty());
        EXPECT_FALSE(w->isContainer());
        // The header uic will include is one of the library's.
        EXPECT_TRUE(QFileInfo::exists(QStringLiteral(CORVANE_SOURCE_DIR "/components/") +
                                      w->includeFile()));
        EXPECT_TRUE(w->domXml().contains(QStringLiteral("class=\"%1\"").arg(name)));
        EXPECT_EQ(domGeometry(w->domXml()), it->second.geometry);

        std::unique_ptr<QWidget> widget(w->createWidget(nullptr));
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), name.toLatin1().constData());
        for (const auto& [property, value] : it->second.properties)
            EXPECT_EQ(widget->property(property), value) << property;
    }
}
