#include "FloatEdit.h"

#include <QLocale>

#include <cfloat>
#include <charconv>
#include <stdexcept>
#include <string>

namespace {

bool IsBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// Converts `text` by the float syntax with `separator` as the only decimal
// separator; false when it does not match or is out of range.
bool ParseFloat(const QString& text, const QString& separator, long double& value)
{
    qsizetype pos = 0;
    const qsizetype size = text.size();
    while (pos < size && IsBlank(text[pos]))
        ++pos;
    std::string plain;
    if (pos < size && (text[pos] == u'+' || text[pos] == u'-')) {
        if (text[pos] == u'-')
            plain += '-';
        ++pos;
    }
    int mantissaDigits = 0;
    bool separatorSeen = false;
    while (pos < size) {
        if (IsDigit(text[pos])) {
            plain += static_cast<char>(text[pos].unicode());
            ++mantissaDigits;
            ++pos;
        } else if (!separatorSeen && !separator.isEmpty() && QStringView(text).mid(pos).startsWith(separator)) {
            plain += '.';
            separatorSeen = true;
            pos += separator.size();
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return false;
    if (pos < size && (text[pos] == u'e' || text[pos] == u'E')) {
        plain += 'e';
        ++pos;
        if (pos < size && (text[pos] == u'+' || text[pos] == u'-')) {
            plain += static_cast<char>(text[pos].unicode());
            ++pos;
        }
        int exponentDigits = 0;
        while (pos < size && IsDigit(text[pos])) {
            plain += static_cast<char>(text[pos].unicode());
            ++exponentDigits;
            ++pos;
        }
        if (exponentDigits == 0)
            return false;
    }
    while (pos < size && IsBlank(text[pos]))
        ++pos;
    if (pos != size)
        return false;
    long double parsed = 0;
    const char* first = plain.data();
    const char* last = first + plain.size();
    const auto [end, error] = std::from_chars(first, last, parsed);
    if (error != std::errc() || end != last)
        return false;
    value = parsed;
    return true;
}

// Value "last reported" before the first report: 1.1E+4932, the top of the
// extended range, so practically every first valid value is reported. Where
// long double is no wider than double the largest value stands in for it.
#if LDBL_MAX_10_EXP >= 4932
constexpr long double NothingReported = 1.1e4932L;
#else
constexpr long double NothingReported = LDBL_MAX;
#endif

} // namespace

TFloatEdit::TFloatEdit(QWidget* parent)
    : TNumericEdit(parent)
    , FLastReported(NothingReported)
{
    connect(this, &QLineEdit::textChanged, this, &TFloatEdit::TextChanged);
    Revalidate();
}

void TFloatEdit::SetMinValue(long double value)
{
    FMinValue = value;
    Revalidate();
}

void TFloatEdit::SetMaxValue(long double value)
{
    FMaxValue = value;
    Revalidate();
}

bool TFloatEdit::Validate(long double& value) const
{
    const QString localeSeparator = QLocale().decimalPoint();
    QString source = text();
    if (FDecSeparator != TDecSeparator::dsDefault) {
        const QChar typed = FDecSeparator == TDecSeparator::dsPoint ? u'.' : u',';
        if (const qsizetype at = source.indexOf(typed); at >= 0)
            source.replace(at, 1, localeSeparator);
    }
    long double parsed = 0;
    if (!ParseFloat(source, localeSeparator, parsed))
        return false;
    const bool noRange = FMinValue == 0 && FMaxValue == 0;
    if (!noRange && !(FMinValue < FMaxValue && FMinValue <= parsed && parsed <= FMaxValue))
        return false;
    value = parsed;
    return true;
}

void TFloatEdit::Revalidate()
{
    long double value = 0;
    const bool valid = Validate(value);
    if (valid)
        FValue = value;
    ShowValidity(valid);
}

long double TFloatEdit::Value() const
{
    long double value = 0;
    if (!Validate(value))
        throw std::invalid_argument("TFloatEdit.value: the text property is not a valid float value");
    return value;
}

void TFloatEdit::SetValue(long double value)
{
    QString number = QString::number(static_cast<double>(value), 'g', 15);
    number.replace(u'.', QLocale().decimalPoint());
    setText(number);
}

void TFloatEdit::TextChanged()
{
    Revalidate();
    if (IsValid() && OnNumericChange && FValue != FLastReported) {
        OnNumericChange(this);
        FLastReported = FValue;
    }
    if (OnChange)
        OnChange(this);
}
