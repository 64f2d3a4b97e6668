#pragma once

#include <QString>
#include <cstdint>
#include <stdexcept>

namespace corvane {

// A settings box whose text is not an integer. what() is the message the user sees, UTF-8.
class ConversionError : public std::runtime_error
{
public:
    explicit ConversionError(const QString& text);
};

// Reads a settings box. Accepted: blanks around the number, an optional + or - sign, decimal
// digits, or hexadecimal digits after "$", "0x" or "0X" (the sign goes before the prefix).
// Anything else, an empty text or a value outside the signed 32-bit range throws
// ConversionError with "'<text>' is not a valid integer value", quoting the text as typed.
std::int32_t StrToInt(const QString& text);

} // namespace corvane
