#pragma once

#include <QIcon>
#include <QObject>
#include <QString>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <functional>

namespace corvane::designer {

// What Designer needs to know about one control; the four controls differ only in data.
struct WidgetDescription
{
    QString className;
    QString includeFile;
    QString toolTip;
    QString whatsThis;
    QString defaultName;
    QSize defaultSize;
    std::function<QIcon()> icon;
    std::function<QWidget*(QWidget*)> create;
};

class WidgetInterface : public QObject, public QDesignerCustomWidgetInterface
{
    Q_OBJECT
    Q_INTERFACES(QDesignerCustomWidgetInterface)

public:
    WidgetInterface(WidgetDescription description, QObject* parent);

    QString name() const override { return m_d.className; }
    QString group() const override { return QStringLiteral("Samples"); }
    QString toolTip() const override { return m_d.toolTip; }
    QString whatsThis() const override { return m_d.whatsThis; }
    QString includeFile() const override { return m_d.includeFile; }
    QIcon icon() const override;
    bool isContainer() const override { return false; }
    QWidget* createWidget(QWidget* parent) override { return m_d.create(parent); }
    bool isInitialized() const override { return m_initialized; }
    void initialize(QDesignerFormEditorInterface*) override { m_initialized = true; }
    QString domXml() const override;

private:
    WidgetDescription m_d;
    mutable QIcon m_icon;
    bool m_initialized = false;
};

QList<WidgetDescription> sampleWidgets();

} // namespace corvane::designer
