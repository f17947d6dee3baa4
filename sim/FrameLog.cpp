#include "FrameLog.h"

#include "HXT_commands.h"

QString FrameLogLine(const QString& transport, const char* direction, uint8_t command, const TByteArray& bytes,
    const QString& note)
{
    QString hex;
    hex.reserve(static_cast<qsizetype>(bytes.size() * 3));
    for (uint8_t b : bytes) {
        if (!hex.isEmpty())
            hex += u' ';
        hex += QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    }
    QString line = QStringLiteral("[%1] %2 %3h %4: %5")
                       .arg(transport, QLatin1String(direction))
                       .arg(command, 2, 16, QLatin1Char('0'))
                       .arg(QString::fromStdString(CommandName(command)), hex);
    if (!note.isEmpty())
        line += QStringLiteral(" (%1)").arg(note);
    return line;
}
