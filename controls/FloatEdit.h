#pragma once
// Single-line edit for a floating-point number within an optional range, with
// a choice of the decimal separator the operator types. Every change of the
// text validates it at once: an invalid text is drawn with ErrorFont on
// ErrorBkgColor, and Value can be read only while it is valid.
//
// Accepted text: optional blanks, an optional sign, digits with at most one
// decimal separator (the locale's), an optional exponent (E or e, optional
// sign, digits), optional trailing blanks; no thousands separators. With
// dsPoint the first "." and with dsComma the first "," stands for the locale's
// separator, which is always accepted as well.
//
// Range rule: with both bounds 0 any number is valid; otherwise the value must
// satisfy MinValue < MaxValue and MinValue <= value <= MaxValue.
#include "NumericEdit.h"

#include <functional>

enum class TDecSeparator { dsDefault, dsPoint, dsComma };

class TFloatEdit : public TNumericEdit {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TFloatEdit* sender)>;

    explicit TFloatEdit(QWidget* parent = nullptr);

    TDecSeparator DecSeparator() const { return FDecSeparator; }
    // Takes effect at the next change of the text or of a bound.
    void SetDecSeparator(TDecSeparator separator) { FDecSeparator = separator; }

    long double MinValue() const { return FMinValue; }
    long double MaxValue() const { return FMaxValue; }
    // Store the bound, validate the text again and recolour.
    void SetMinValue(long double value);
    void SetMaxValue(long double value);

    // The number of the current text. Throws std::invalid_argument with
    // "TFloatEdit.value: the text property is not a valid float value" when
    // the text is not valid.
    long double Value() const;
    // Sets the text to `value` in general format with up to 15 significant
    // digits and the locale's decimal separator.
    void SetValue(long double value);

    // Fired after a change of the text when it is valid and its value differs
    // from the value last reported this way.
    TNotifyEvent OnNumericChange;
    // Fired after every change of the text, once validity and colours are
    // up to date.
    TNotifyEvent OnChange;

private:
    bool Validate(long double& value) const;
    void Revalidate();
    void TextChanged();

    TDecSeparator FDecSeparator = TDecSeparator::dsDefault;
    long double FMinValue = 0;
    long double FMaxValue = 0;
    long double FValue = 0;
    long double FLastReported;
};
