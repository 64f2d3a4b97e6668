#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace corvane {

// A small window beside parent saying how far reading the recording `name` has got. It appears
// only when the reading takes more than half a second and leaves the other windows usable.
// Returns what to tell it with: the percent read, and done once reading has ended.
std::function<void(int percent, bool done)> readingProgressView(QWidget* parent,
                                                                const QString& name);

} // namespace corvane
