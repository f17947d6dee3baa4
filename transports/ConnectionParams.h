#pragma once
// The parameters of one connection, one record per kind of device. A device
// opens with them directly (TDevice::OpenWith), hands out those of its
// current or last opening (TDevice::Params), and lets a parameter source
// (in the program: its dialog) fill them in at Open.
#include "NTCAN.h"

#include <QString>

#include <cstdint>
#include <variant>

// Serial line: the port (a platform name such as ttyUSB0, or a device path)
// and the line speed in baud, one of TSerialDevice::LineSpeeds.
struct TSerialParams {
    QString PortName;
    int32_t Baudrate = 1200;
    bool operator==(const TSerialParams&) const = default;
};

// TCP client: host name or address and port (1 to 65535).
struct TTCPParams {
    QString Host;
    int32_t Port = 1000;
    bool operator==(const TTCPParams&) const = default;
};

// CAN bus: the interface (QtSerialBus plugin and interface name), the
// bit-rate code (one of TCANDevice::Bitrates) and the identifier requests are
// sent with; answers come with the identifier + 1.
struct TCANParams {
    TCanInterface Interface;
    uint32_t BitrateCode = NTCAN_BAUD_250;
    int32_t TargetId = 100;
    bool operator==(const TCANParams&) const = default;
};

using TConnectionParams = std::variant<TSerialParams, TTCPParams, TCANParams>;
