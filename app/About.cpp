#include "About.h"

#include <QtGlobal>

QString AboutText()
{
    return QStringLiteral("KRM Commander\nVersion %1\nBuild %2 (%3)\nQt %4 (built with Qt %5)")
        .arg(QStringLiteral(KRM_VERSION), QStringLiteral(KRM_COMMIT), QStringLiteral(KRM_BUILD_TYPE),
             QString::fromLatin1(qVersion()), QStringLiteral(QT_VERSION_STR));
}
