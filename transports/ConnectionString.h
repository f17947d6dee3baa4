#pragma once
// The connection string: one text for every transport, taken by the C++
// library, its Python module and krm-cli (--connect, KRM_CONNECT):
//
//   tcp:HOST:PORT                        tcp:[::1]:1000 for an IPv6 address
//   serial:PATH[@BAUD]                   BAUD a serial line speed, default 115200
//   can:PLUGIN:INTERFACE[@KBITS][#ID]    default 250 kbit/s, identifier 100
#include "ConnectionParams.h"

#include <QString>

#include <stdexcept>

// The line speed of a serial connection string without @BAUD.
constexpr int32_t DefaultConnectionBaudrate = 115200;

// A malformed connection string; what() names the part that is wrong.
class TConnectionStringError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Throws TConnectionStringError.
TConnectionParams ParseConnectionString(const QString& text);

// The kbit/s of a CAN bit-rate code (250 for a code not offered).
int CanKbitsOfCode(uint32_t code);
