#include "IntegerLiteral.h"

namespace {

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

std::optional<int32_t> ParseHex(const QString& text, qsizetype pos)
{
    const qsizetype digits = text.size() - pos;
    if (digits < 1 || digits > 8)
        return std::nullopt;
    uint32_t value = 0;
    for (qsizetype i = pos; i < text.size(); ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0)
            return std::nullopt;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return static_cast<int32_t>(value);
}

std::optional<int32_t> ParseDecimal(const QString& text, qsizetype pos)
{
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    if (pos >= text.size())
        return std::nullopt;
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t value = 0;
    for (; pos < text.size(); ++pos) {
        const char16_t u = text[pos].unicode();
        if (u < u'0' || u > u'9')
            return std::nullopt;
        value = value * 10 + (u - u'0');
        if (value > limit)
            return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

} // namespace

std::optional<int32_t> ParseIntegerLiteral(const QString& text)
{
    qsizetype pos = 0;
    while (pos < text.size() && (text[pos] == u' ' || text[pos] == u'\t'))
        ++pos;
    const QStringView rest = QStringView(text).mid(pos);
    if (rest.startsWith(u"0x") || rest.startsWith(u"0X"))
        return ParseHex(text, pos + 2);
    if (rest.startsWith(u'$') || rest.startsWith(u'x') || rest.startsWith(u'X'))
        return ParseHex(text, pos + 1);
    return ParseDecimal(text, pos);
}
