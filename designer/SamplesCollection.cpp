#include "SamplesCollection.h"

#include "WidgetInterfaces.h"

namespace corvane::designer {

SamplesCollection::SamplesCollection(QObject* parent) : QObject(parent)
{
    for (WidgetDescription& d : sampleWidgets())
        m_widgets.append(new WidgetInterface(std::move(d), this));
}

} // namespace corvane::designer
