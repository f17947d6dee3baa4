// Fuzz target for the integer-literal parser. The input, read as UTF-8, is
// the text. A literal is accepted exactly when it has one of the two
// documented forms (checked here independently), its value is the one those
// forms give, and the value formatted in decimal and in hexadecimal parses
// back to itself.
#include "FuzzSupport.h"
#include "IntegerLiteral.h"

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

int HexValue(QChar c)
{
    if (IsDigit(c))
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

// What the text means by the documented syntax: nothing, or the value.
std::optional<int32_t> Expected(const QString& text)
{
    qsizetype at = 0;
    while (at < text.size() && (text[at] == u' ' || text[at] == u'\t'))
        ++at;
    QStringView rest = QStringView(text).mid(at);
    qsizetype prefix = 0;
    if (rest.startsWith(u"0x") || rest.startsWith(u"0X"))
        prefix = 2;
    else if (rest.startsWith(u'$') || rest.startsWith(u'x') || rest.startsWith(u'X'))
        prefix = 1;
    if (prefix > 0) {
        rest = rest.mid(prefix);
        if (rest.isEmpty() || rest.size() > 8)
            return std::nullopt;
        uint32_t pattern = 0;
        for (const QChar c : rest) {
            if (HexValue(c) < 0)
                return std::nullopt;
            pattern = pattern * 16 + static_cast<uint32_t>(HexValue(c));
        }
        return static_cast<int32_t>(pattern);
    }
    const bool negative = rest.startsWith(u'-');
    if (negative || rest.startsWith(u'+'))
        rest = rest.mid(1);
    if (rest.isEmpty())
        return std::nullopt;
    long double magnitude = 0; // exact far enough to tell in range from out of range
    for (const QChar c : rest) {
        if (!IsDigit(c))
            return std::nullopt;
        magnitude = magnitude * 10 + (c.unicode() - u'0');
    }
    const long double value = negative ? -magnitude : magnitude;
    if (value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const std::optional<int32_t> value = ParseIntegerLiteral(text);
    Check(value == Expected(text));
    if (value) {
        Check(ParseIntegerLiteral(QString::number(*value)) == value);
        Check(ParseIntegerLiteral(QStringLiteral("$") + QString::number(static_cast<uint32_t>(*value), 16)) == value);
        Check(ParseIntegerLiteral(QStringLiteral(" \t0X") + QString::number(static_cast<uint32_t>(*value), 16).toUpper())
            == value);
    }
    return 0;
}
