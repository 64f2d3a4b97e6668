#pragma once

#include <QDir>
#include <QFile>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace corvane::fuzz {

// The readers take a path, so each input goes to a file of this process's own, rewritten for
// every run. suffix decides how the readers take it (".wav" through libsndfile, ".u8" raw).
inline QString writeInput(const std::uint8_t* data, std::size_t size, const char* suffix)
{
    const QString path = QDir::temp().filePath(
        QStringLiteral("corvane-fuzz-%1%2").arg(::getpid()).arg(QLatin1String(suffix)));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    return path;
}

// Takes settings from the front of an input, one byte at a time; zeros when it runs out.
class Bytes
{
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t next()
    {
        if (size_ == 0)
            return 0;
        --size_;
        return *data_++;
    }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

} // namespace corvane::fuzz
