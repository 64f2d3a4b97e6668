#include "StrToInt.h"

#include <limits>

namespace corvane {

ConversionError::ConversionError(const QString& text)
    : std::runtime_error(
          QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString())
{}

namespace {
bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

int digitValue(QChar c, int base)
{
    int value = -1;
    if (c >= u'0' && c <= u'9')
        value = c.unicode() - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f')
        value = c.unicode() - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F')
        value = c.unicode() - u'A' + 10;
    return value;
}
} // namespace

std::int32_t StrToInt(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;

    bool negative = false;
    if (begin < end && (text[begin] == u'+' || text[begin] == u'-')) {
        negative = text[begin] == u'-';
        ++begin;
    }
    int base = 10;
    if (begin < end && text[begin] == u'$') {
        base = 16;
        ++begin;
    } else if (end - begin >= 2 && text[begin] == u'0' &&
               (text[begin + 1] == u'x' || text[begin + 1] == u'X')) {
        base = 16;
        begin += 2;
    }
    if (begin == end)
        throw ConversionError(text);

    // Accumulate the magnitude in 64 bits; one more than INT32_MAX is allowed for the minimum.
    const std::int64_t limit =
        static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + (negative ? 1 : 0);
    std::int64_t magnitude = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const int digit = digitValue(text[i], base);
        if (digit < 0)
            throw ConversionError(text);
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            throw ConversionError(text);
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

} // namespace corvane
