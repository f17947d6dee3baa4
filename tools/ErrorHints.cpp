#include "ErrorHints.h"

namespace {

constexpr uint32_t ReferencedFlag = 0x1;
constexpr uint32_t FastStopFlag = 0x1000;

}

QString ErrorHint(TStat status, uint32_t systemState)
{
    if (status == E_ACCESS_DENIED && (systemState & FastStopFlag) != 0)
        return QStringLiteral("The gripper is in fast stop: acknowledge it with Commands > Acknowledge an "
                              "Emergency Stop.");
    if (status == E_NOT_INITIALIZED && (systemState & ReferencedFlag) == 0)
        return QStringLiteral("The fingers are not referenced yet: run Commands > Homing first.");
    return {};
}

QString PayloadErrorHint(const QString& element)
{
    if (element.isEmpty())
        return QStringLiteral("The payload is longer than a packet can carry.");
    return QStringLiteral("Cannot read \"%1\": use 15, 0x0F, $0F, 10.4f or \"text\".").arg(element);
}

QString WithHint(const QString& text, const QString& hint)
{
    return hint.isEmpty() ? text : text + QLatin1Char('\n') + hint;
}
