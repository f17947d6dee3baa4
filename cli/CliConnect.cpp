#include "CliConnect.h"

#include "ConnectionString.h"
#include "NTCAN.h"

#include <array>
#include <utility>

namespace {

// The driver's code of each bit rate the CAN dialog offers, in kbit/s.
constexpr std::array<std::pair<int, uint32_t>, 8> BitrateCodes = {{
    {10, NTCAN_BAUD_10},
    {20, NTCAN_BAUD_20},
    {50, NTCAN_BAUD_50},
    {100, NTCAN_BAUD_100},
    {125, NTCAN_BAUD_125},
    {250, NTCAN_BAUD_250},
    {500, NTCAN_BAUD_500},
    {1000, NTCAN_BAUD_1000},
}};

uint32_t BitrateCode(int kbits)
{
    for (const auto& [rate, code] : BitrateCodes)
        if (rate == kbits)
            return code;
    return NTCAN_BAUD_250;
}

} // namespace

TConnectionParams CliConnectionParams(const TCliConnection& connection)
{
    switch (connection.Transport) {
    case TCliTransport::Serial:
        return TSerialParams{connection.SerialPort, connection.Baudrate};
    case TCliTransport::Can:
        return TCANParams{{connection.CanPlugin, connection.CanInterface}, BitrateCode(connection.CanKbits), connection.CanId};
    case TCliTransport::Tcp:
    case TCliTransport::None:
        break;
    }
    return TTCPParams{connection.Host, connection.Port};
}

TCliConnection CliConnectionFrom(const TConnectionParams& params)
{
    TCliConnection connection;
    if (const auto* tcp = std::get_if<TTCPParams>(&params)) {
        connection.Transport = TCliTransport::Tcp;
        connection.Host = tcp->Host;
        connection.Port = static_cast<uint16_t>(tcp->Port);
    } else if (const auto* serial = std::get_if<TSerialParams>(&params)) {
        connection.Transport = TCliTransport::Serial;
        connection.SerialPort = serial->PortName;
        connection.Baudrate = serial->Baudrate;
    } else if (const auto* can = std::get_if<TCANParams>(&params)) {
        connection.Transport = TCliTransport::Can;
        connection.CanPlugin = can->Interface.Plugin;
        connection.CanInterface = can->Interface.Name;
        connection.CanKbits = CanKbitsOfCode(can->BitrateCode);
        connection.CanId = can->TargetId;
    }
    return connection;
}

QString CliConnectionString(const TCliConnection& connection)
{
    switch (connection.Transport) {
    case TCliTransport::Serial:
        return QStringLiteral("serial:%1@%2").arg(connection.SerialPort).arg(connection.Baudrate);
    case TCliTransport::Can:
        return QStringLiteral("can:%1:%2@%3#%4").arg(connection.CanPlugin, connection.CanInterface).arg(connection.CanKbits).arg(connection.CanId);
    case TCliTransport::Tcp:
    case TCliTransport::None:
        break;
    }
    const QString host = connection.Host.contains(u':') ? QStringLiteral("[%1]").arg(connection.Host) : connection.Host;
    return QStringLiteral("tcp:%1:%2").arg(host).arg(connection.Port);
}
