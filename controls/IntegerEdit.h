#pragma once
// Single-line edit for a 32-bit integer, decimal or hexadecimal (the syntax of
// IntegerLiteral.h), within an optional range. Every change of the text, by
// typing or by code, validates it at once: an invalid text is drawn with
// ErrorFont on ErrorBkgColor, and Value can be read only while it is valid.
//
// Range rule: with MinValue and MaxValue both 0 any 32-bit integer is valid;
// otherwise the text is valid when MinValue < MaxValue and MinValue <= value
// <= MaxValue (so MinValue >= MaxValue, not both 0, accepts nothing).
#include "NumericEdit.h"

#include <cstdint>
#include <functional>

class TIntegerEdit : public TNumericEdit {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TIntegerEdit* sender)>;

    explicit TIntegerEdit(QWidget* parent = nullptr);

    int32_t MinValue() const { return FMinValue; }
    int32_t MaxValue() const { return FMaxValue; }
    // Store the bound, validate the text again and recolour.
    void SetMinValue(int32_t value);
    void SetMaxValue(int32_t value);

    // The number of the current text. Throws std::invalid_argument with
    // "TIntegerEdit.value: the text property is not a valid integer value"
    // when the text is not valid.
    int32_t Value() const;
    // Sets the text to the signed decimal form of `value`.
    void SetValue(int32_t value);

    // Fired after a change of the text when it is valid and its value differs
    // from the value last reported this way.
    TNotifyEvent OnNumericChange;
    // Fired after every change of the text, once validity and colours are
    // up to date.
    TNotifyEvent OnChange;

private:
    bool Validate(int32_t& value) const;
    void Revalidate();
    void TextChanged();

    int32_t FMinValue = 0;
    int32_t FMaxValue = 0;
    int32_t FValue = 0;
    int32_t FLastReported = 2147483647;
};
