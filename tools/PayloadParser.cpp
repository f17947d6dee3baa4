#include "PayloadParser.h"

#include "Framing.h"
#include "IntegerLiteral.h"
#include "convert.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

constexpr QChar Blank = u' ';
constexpr QChar Quote = u'"';

bool HasHexPrefix(const QString& element)
{
    return element.startsWith(u"0x") || element.startsWith(u"0X") || element.startsWith(u'$')
        || element.startsWith(u'x') || element.startsWith(u'X');
}

bool IsFloatElement(const QString& element)
{
    return (element.endsWith(u'f') || element.endsWith(u'F')) && !HasHexPrefix(element);
}

// Appends the characters of a quoted string, one byte each. Characters
// without an 8-bit code cannot be sent as one byte and make the text invalid.
bool AppendString(QStringView chars, TByteArray& bytes)
{
    for (const QChar c : chars) {
        if (c.unicode() > 0xFF)
            return false;
        bytes.push_back(static_cast<uint8_t>(c.unicode()));
    }
    return true;
}

bool AppendFloat(QString number, TByteArray& bytes)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::RejectGroupSeparator);
    const qsizetype point = number.indexOf(u'.');
    if (point >= 0)
        number.replace(point, 1, locale.decimalPoint());
    bool ok = false;
    const double value = locale.toDouble(number, &ok);
    if (!ok || !std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
        return false;
    for (const uint8_t b : SingleToBytes(static_cast<float>(value)))
        bytes.push_back(b);
    return true;
}

bool AppendInteger(const QString& element, TByteArray& bytes)
{
    const auto value = ParseIntegerLiteral(element);
    if (!value || *value < 0 || *value > 255)
        return false;
    bytes.push_back(static_cast<uint8_t>(*value));
    return true;
}

bool AppendElement(const QString& element, TByteArray& bytes)
{
    if (IsFloatElement(element))
        return AppendFloat(element.chopped(1), bytes);
    return AppendInteger(element, bytes);
}

bool Parse(const QString& text, TByteArray& bytes, QString& failed)
{
    const QString padded = text + Blank;
    qsizetype pos = 0;
    while (pos < padded.size()) {
        bool ok = true;
        if (padded[pos] == Quote) {
            const qsizetype close = padded.indexOf(Quote, pos + 1);
            if (close < 0) {
                failed = text.mid(pos);
                return false;
            }
            ok = AppendString(QStringView(padded).mid(pos + 1, close - pos - 1), bytes);
            if (!ok)
                failed = padded.mid(pos, close - pos + 1);
            pos = close + 1;
        } else {
            // The appended blank guarantees that every element ends in one.
            const qsizetype blank = padded.indexOf(Blank, pos);
            const QString element = padded.mid(pos, blank - pos).trimmed();
            pos = blank + 1;
            ok = element.isEmpty() || AppendElement(element, bytes);
            if (!ok)
                failed = element;
        }
        if (!ok || bytes.size() > static_cast<size_t>(MaxPayload))
            return false;
    }
    return true;
}

} // namespace

int ParsePayload(const QString& text, TByteArray& bytes, QString* failedElement)
{
    bytes.clear();
    QString failed;
    if (!Parse(text, bytes, failed)) {
        bytes.clear();
        if (failedElement)
            *failedElement = failed;
        return -1;
    }
    return static_cast<int>(bytes.size());
}
