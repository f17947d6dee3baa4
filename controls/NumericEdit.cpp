#include "NumericEdit.h"

#include <QPalette>

TNumericEdit::TNumericEdit(QWidget* parent)
    : QLineEdit(parent)
    , FErrorBkgColor(palette().color(QPalette::Base))
    , FNormalColor(palette().color(QPalette::Base))
    , FNormalFont(font())
{
}

void TNumericEdit::ShowValidity(bool valid)
{
    FValid = valid;
    QPalette colours = palette();
    colours.setColor(QPalette::Base, valid ? FNormalColor : FErrorBkgColor);
    setPalette(colours);
    setFont(valid ? FNormalFont : FErrorFont);
    update();
}
