// Named bitmaps of the controls ("GLYPH1A", "ARROWUP", ...), loaded from the
// controls' resources with magenta as the see-through colour.
#pragma once

#include <QPixmap>
#include <QString>

namespace ControlBitmaps {

// The bitmap with the given resource name; a null pixmap for an unknown name.
QPixmap Load(const QString& name);

}
