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
    // Only the enabled colour groups are set: a disabled field keeps the
    // palette's disabled colours and so looks like every other disabled control.
    QPalette colours = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        colours.setColor(group, QPalette::Base, valid ? FNormalColor : FErrorBkgColor);
        colours.setColor(group, QPalette::Text, valid ? FNormalFontColor : FErrorFontColor);
    }
    setPalette(colours);
    setFont(valid ? FNormalFont : FErrorFont);
    update();
}
