#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <functional>

namespace corvane {

// Writing output files so that a failure never passes for success and never costs the user a
// good file. The new content goes to a temporary file beside the target, is written, flushed
// and synced with every step checked, and only then renamed over the target. On any failure the
// temporary file is removed, the old file stays as it was, and the error names the file and the
// system's reason (e.g. "cannot write 'p.png': No space left on device").
//
// Only regular files are replaced. A device node, FIFO or directory (or a symbolic link to
// one) is refused: writing into those is only done when the user asks for standard output.
// A symbolic link to a regular file keeps being a link; its target gets the new content.

// True when writeFileSafely may write path (it is absent or a regular file, or a link to one);
// otherwise false with the reason in *error. Lets a program refuse before long work.
bool canReplaceFile(const QString& path, QString* error);

// Fills the open temporary file descriptor; returns false and sets *reason on failure.
using FileFiller = std::function<bool(int fd, QString* reason)>;

bool writeFileSafely(const QString& path, const FileFiller& fill, QString* error);
bool writeFileSafely(const QString& path, const QByteArray& bytes, QString* error);

// Writes all of size bytes to fd, retrying after interruptions and short writes. On failure
// returns false with errno telling why.
bool writeAll(int fd, const void* data, std::size_t size);

// Temporary files a signal must not leave behind (a half-written output of hundreds of MB). A
// temporary is registered while it exists; once removeTemporariesOnSignals() has run, SIGINT,
// SIGTERM and SIGHUP remove every registered one before the process ends as the signal would
// have ended it. For command-line tools; the window program ends in an orderly way instead.
void registerTemporary(const QByteArray& path);
void unregisterTemporary(const QByteArray& path);
void removeTemporariesOnSignals();

// Writes bytes to standard output and flushes it; false (with the reason in *error) when the
// output cannot take them, e.g. a full disk or a closed pipe.
bool writeStandardOutput(const QByteArray& bytes, QString* error = nullptr);

} // namespace corvane
