// The built Designer plugin loaded the way Designer loads it: four controls on the "Samples"
// page, each creatable, each with an icon, help texts and a header uic can include.
#include <QFileInfo>
#include <QPluginLoader>
#include <QWidget>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <gtest/gtest.h>
#include <memory>

TEST(DesignerPlugin, OffersTheFourSamplesEachCreatable)
{
    QPluginLoader loader(QStringLiteral(CORVANE_DESIGNER_PLUGIN));
    ASSERT_TRUE(loader.load()) << loader.errorString().toStdString();
    auto* collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(loader.instance());
    ASSERT_NE(collection, nullptr);
    QStringList names;
    for (QDesignerCustomWidgetInterface* w : collection->customWidgets()) {
        const QString name = w->name();
        names << name;
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(w->group(), QStringLiteral("Samples"));
        EXPECT_FALSE(w->icon().isNull() || w->toolTip().isEmpty() || w->whatsThis().isEmpty());
        EXPECT_TRUE(QFileInfo::exists(QStringLiteral(CORVANE_SOURCE_DIR "/components/") +
                                      w->includeFile()));
        EXPECT_TRUE(w->domXml().contains(QStringLiteral("class=\"%1\"").arg(name)));
        std::unique_ptr<QWidget> widget(w->createWidget(nullptr));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->metaObject()->className(), name);
    }
    EXPECT_EQ(names, (QStringList{"corvane::TSlider", "corvane::TPhaseScope", "corvane::TCampo",
                                  "corvane::TCampoMemo"}));
}
