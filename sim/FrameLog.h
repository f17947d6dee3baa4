#pragma once
// One line of the verbose frame trace: transport, direction, command byte and
// name, and the bytes in hexadecimal.
#include "types.h"

#include <QString>

QString FrameLogLine(const QString& transport, const char* direction, uint8_t command, const TByteArray& bytes,
    const QString& note = {});
