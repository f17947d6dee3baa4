#pragma once
// The parameters of a connection as the operator reads them, and as a record
// in a section of a settings file, so that a connection can be made again
// after the program was restarted.
#include "ConnectionParams.h"

#include <QString>

#include <optional>

class TIniFile;

// "TCP 127.0.0.1:1000", "Serial /dev/ttyUSB0 115200",
// "CAN virtualcan:can0 250 kBit/s id 100".
QString DescribeConnection(const TConnectionParams& params);

// Writes `params` into `section` of `ini`, all keys in one write, so the
// file holds the whole record or the one before; false when the file could
// not be written.
[[nodiscard]] bool WriteConnection(TIniFile& ini, const QString& section, const TConnectionParams& params);

// The connection stored in `section`; empty when there is none or it is not
// usable (unknown interface, a line speed or bit rate not offered, a TCP port
// outside 1 to 65535, an empty host or port name).
std::optional<TConnectionParams> ReadConnection(const TIniFile& ini, const QString& section);
