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
#include <QColor>
#include <QFont>
#include <QLineEdit>

#include <functional>

enum class TDecSeparator { dsDefault, dsPoint, dsComma };

class TFloatEdit : public QLineEdit {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TFloatEdit* sender)>;

    explicit TFloatEdit(QWidget* parent = nullptr);

    QColor ErrorBkgColor() const { return FErrorBkgColor; }
    // Takes effect at the next change of the text or of a bound.
    void SetErrorBkgColor(const QColor& color) { FErrorBkgColor = color; }
    QFont ErrorFont() const { return FErrorFont; }
    void SetErrorFont(const QFont& font) { FErrorFont = font; }
    TDecSeparator DecSeparator() const { return FDecSeparator; }
    // Takes effect at the next change of the text or of a bound.
    void SetDecSeparator(TDecSeparator separator) { FDecSeparator = separator; }

    long double MinValue() const { return FMinValue; }
    long double MaxValue() const { return FMaxValue; }
    // Store the bound, validate the text again and recolour.
    void SetMinValue(long double value);
    void SetMaxValue(long double value);

    // Validity of the text as of its last change (or bound change).
    bool IsValid() const { return FValid; }

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
    void Recolour();
    void TextChanged();

    QColor FErrorBkgColor;
    QFont FErrorFont;
    QColor FNormalColor;
    QFont FNormalFont;
    TDecSeparator FDecSeparator = TDecSeparator::dsDefault;
    long double FMinValue = 0;
    long double FMaxValue = 0;
    bool FValid = false;
    long double FValue = 0;
    long double FLastReported;
};
