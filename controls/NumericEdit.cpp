#include "NumericEdit.h"

#include <QPalette>

TNumericEdit::TNumericEdit(QWidget* parent)
    : QLineEdit(parent)
    , FErrorBkgColor(palette().color(QPalette::Base))
    , FErrorFontColor(palette().color(QPalette::Text))
    , FNormalColor(palette().color(QPalette::Base))
    , FNormalFontColor(palette().color(QPalette::Text))
    , FNormalFont(font())
{
}

void TNumericEdit::ShowValidity(bool valid)
{
    FValid = valid;
    QPalette colours = palette();
    colours.setColor(QPalette::Base, valid ? FNormalColor : FErrorBkgColor);
    colours.setColor(QPalette::Text, valid ? FNormalFontColor : FErrorFontColor);
    setPalette(colours);
    setFont(valid ? FNormalFont : FErrorFont);
    update();
}
