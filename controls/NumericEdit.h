#pragma once
// Common part of the numeric edit fields TIntegerEdit and TFloatEdit: the
// validity flag and the error look. The normal colour and font are the ones
// the control has when it is constructed; while the text is invalid it is
// drawn with ErrorFont in ErrorFontColor on ErrorBkgColor instead.
#include <QColor>
#include <QFont>
#include <QLineEdit>

class TNumericEdit : public QLineEdit {
    Q_OBJECT
public:
    QColor ErrorBkgColor() const { return FErrorBkgColor; }
    // Takes effect at the next change of the text or of a bound.
    void SetErrorBkgColor(const QColor& color) { FErrorBkgColor = color; }
    QFont ErrorFont() const { return FErrorFont; }
    void SetErrorFont(const QFont& font) { FErrorFont = font; }
    // Text colour of the error font; the normal text colour after
    // construction. Takes effect at the next change of the text or of a bound.
    QColor ErrorFontColor() const { return FErrorFontColor; }
    void SetErrorFontColor(const QColor& color) { FErrorFontColor = color; }

    // Validity of the text as of its last change (or bound change).
    bool IsValid() const { return FValid; }

protected:
    explicit TNumericEdit(QWidget* parent);

    // Stores the outcome of a validation and shows it: the normal colour and
    // font when valid, the error ones otherwise.
    void ShowValidity(bool valid);

private:
    QColor FErrorBkgColor;
    QFont FErrorFont;
    QColor FErrorFontColor;
    QColor FNormalColor;
    QColor FNormalFontColor;
    QFont FNormalFont;
    bool FValid = false;
};
