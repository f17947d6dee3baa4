#include "ControlBitmaps.h"

#include <QBitmap>
#include <QColor>

// The resources live in a static library, so they must be registered
// explicitly before the first lookup; this runs outside any namespace as
// Q_INIT_RESOURCE requires.
static void RegisterControlResources()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(controls);
        return true;
    }();
    (void)registered;
}

namespace ControlBitmaps {

QPixmap Load(const QString& name)
{
    RegisterControlResources();
    QPixmap pixmap(QStringLiteral(":/") + name);
    if (!pixmap.isNull())
        pixmap.setMask(pixmap.createMaskFromColor(QColor(255, 0, 255)));
    return pixmap;
}

}
