#include "IntegerEdit.h"

#include "IntegerLiteral.h"

#include <stdexcept>

TIntegerEdit::TIntegerEdit(QWidget* parent)
    : TNumericEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, &TIntegerEdit::TextChanged);
    Revalidate();
}

void TIntegerEdit::SetMinValue(int32_t value)
{
    FMinValue = value;
    Revalidate();
}

void TIntegerEdit::SetMaxValue(int32_t value)
{
    FMaxValue = value;
    Revalidate();
}

bool TIntegerEdit::Validate(int32_t& value) const
{
    const auto parsed = ParseIntegerLiteral(text());
    if (!parsed)
        return false;
    const bool noRange = FMinValue == 0 && FMaxValue == 0;
    if (!noRange && !(FMinValue < FMaxValue && FMinValue <= *parsed && *parsed <= FMaxValue))
        return false;
    value = *parsed;
    return true;
}

void TIntegerEdit::Revalidate()
{
    int32_t value = 0;
    const bool valid = Validate(value);
    if (valid)
        FValue = value;
    ShowValidity(valid);
}

int32_t TIntegerEdit::Value() const
{
    int32_t value = 0;
    if (!Validate(value))
        throw std::invalid_argument("TIntegerEdit.value: the text property is not a valid integer value");
    return value;
}

void TIntegerEdit::SetValue(int32_t value)
{
    setText(QString::number(value));
}

void TIntegerEdit::TextChanged()
{
    Revalidate();
    if (IsValid() && OnNumericChange && FValue != FLastReported) {
        OnNumericChange(this);
        FLastReported = FValue;
    }
    if (OnChange)
        OnChange(this);
}
