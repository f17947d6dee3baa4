#pragma once
// A command that came over MQTT: one JSON object naming one of krm-cli's
// commands and its values by name, e.g.
//   {"command": "grasp", "width": 20, "speed": 100}
// Value names: position (goto), width (grasp, release), speed, value (accel,
// force-limit), direction (home), reset (stats, true or false). "fast_stop"
// and "force_limit" are taken for "fast-stop" and "force-limit".
//
// The object becomes krm-cli's words and is checked by krm-cli's own rules,
// so both take the same values. watch, raw and wait are not taken. With
// read-only on, only stop, fast-stop and the commands that only read are.
#include "CliCommand.h"

#include <QByteArray>
#include <QString>

#include <stdexcept>

class TCommandRefused : public std::runtime_error {
public:
    TCommandRefused(const QString& command, uint8_t status, const QString& message)
        : std::runtime_error(message.toStdString())
        , Command(command)
        , Status(status)
        , Message(message)
    {
    }
    QString Command; // as far as it could be read; may be empty
    uint8_t Status;  // E_CMD_FORMAT_ERROR, E_ACCESS_DENIED, E_CMD_UNKNOWN
    QString Message;
};

// Throws TCommandRefused for anything but a well-formed, allowed command.
TCliCommand ParseGatewayCommand(const QByteArray& payload, bool readOnly);
// Whether a command only reads (stats --reset does not).
bool ReadsOnly(const TCliCommand& command);
