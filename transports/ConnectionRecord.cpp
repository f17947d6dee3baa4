#include "ConnectionRecord.h"

#include "CANDevice.h"
#include "IniFile.h"
#include "SerialDevice.h"

#include <algorithm>

namespace {

const QString KeyInterface = QStringLiteral("Interface");
const QString KeyPortName = QStringLiteral("PortName");
const QString KeyBaudrate = QStringLiteral("Baudrate");
const QString KeyHost = QStringLiteral("Host");
const QString KeyTcpPort = QStringLiteral("TcpPort");
const QString KeyCanPlugin = QStringLiteral("CanPlugin");
const QString KeyCanInterface = QStringLiteral("CanInterface");
const QString KeyBitrate = QStringLiteral("Bitrate");
const QString KeyTargetId = QStringLiteral("TargetId");

const QString SerialKind = QStringLiteral("uart");
const QString TcpKind = QStringLiteral("tcp");
const QString CanKind = QStringLiteral("can");

const TCANDevice::TBitrate* BitrateByCode(uint32_t code)
{
    const auto& rates = TCANDevice::Bitrates;
    const auto found = std::find_if(rates.begin(), rates.end(), [code](const auto& r) { return r.Code == code; });
    return found == rates.end() ? nullptr : &*found;
}

const TCANDevice::TBitrate* BitrateByKBits(int32_t kbits)
{
    const auto& rates = TCANDevice::Bitrates;
    const auto found = std::find_if(rates.begin(), rates.end(), [kbits](const auto& r) { return r.KBits == kbits; });
    return found == rates.end() ? nullptr : &*found;
}

// Where a serial port name leads: a bare name is a device of /dev, as the
// serial port opens it.
QString SerialLocation(const QString& portName)
{
#ifdef Q_OS_WIN
    return portName;
#else
    return portName.contains(QLatin1Char('/')) ? portName : QStringLiteral("/dev/") + portName;
#endif
}

struct TDescriber {
    QString operator()(const TSerialParams& p) const
    {
        return QStringLiteral("Serial %1 %2").arg(SerialLocation(p.PortName)).arg(p.Baudrate);
    }
    QString operator()(const TTCPParams& p) const { return QStringLiteral("TCP %1:%2").arg(p.Host).arg(p.Port); }
    QString operator()(const TCANParams& p) const
    {
        const TCANDevice::TBitrate* rate = BitrateByCode(p.BitrateCode);
        const QString bitrate = rate ? QString::fromLatin1(rate->Text) : QStringLiteral("bit-rate code %1").arg(p.BitrateCode);
        return QStringLiteral("CAN %1:%2 %3 id %4").arg(p.Interface.Plugin, p.Interface.Name, bitrate).arg(p.TargetId);
    }
};

// The keys of a record, written as one group.
struct TRecord {
    std::optional<TIniValues> operator()(const TSerialParams& p) const
    {
        return TIniValues{{KeyInterface, SerialKind}, {KeyPortName, p.PortName}, {KeyBaudrate, QString::number(p.Baudrate)}};
    }
    std::optional<TIniValues> operator()(const TTCPParams& p) const
    {
        return TIniValues{{KeyInterface, TcpKind}, {KeyHost, p.Host}, {KeyTcpPort, QString::number(p.Port)}};
    }
    std::optional<TIniValues> operator()(const TCANParams& p) const
    {
        const TCANDevice::TBitrate* rate = BitrateByCode(p.BitrateCode);
        if (!rate)
            return std::nullopt;
        return TIniValues{{KeyInterface, CanKind}, {KeyCanPlugin, p.Interface.Plugin}, {KeyCanInterface, p.Interface.Name},
            {KeyBitrate, QString::number(rate->KBits)}, {KeyTargetId, QString::number(p.TargetId)}};
    }
};

} // namespace

QString DescribeConnection(const TConnectionParams& params)
{
    return std::visit(TDescriber{}, params);
}

bool WriteConnection(TIniFile& ini, const QString& section, const TConnectionParams& params)
{
    const std::optional<TIniValues> record = std::visit(TRecord{}, params);
    return record && ini.Write(section, *record);
}

std::optional<TConnectionParams> ReadConnection(const TIniFile& ini, const QString& section)
{
    const QString kind = ini.ReadString(section, KeyInterface, QString());
    if (kind.compare(SerialKind, Qt::CaseInsensitive) == 0) {
        TSerialParams serial;
        serial.PortName = ini.ReadString(section, KeyPortName, QString());
        serial.Baudrate = ini.ReadInteger(section, KeyBaudrate, 0);
        if (serial.PortName.isEmpty() || TSerialDevice::LineSpeedIndex(serial.Baudrate) < 0)
            return std::nullopt;
        return serial;
    }
    if (kind.compare(TcpKind, Qt::CaseInsensitive) == 0) {
        TTCPParams tcp;
        tcp.Host = ini.ReadString(section, KeyHost, QString());
        tcp.Port = ini.ReadInteger(section, KeyTcpPort, 0);
        if (tcp.Host.isEmpty() || tcp.Port < 1 || tcp.Port > 65535)
            return std::nullopt;
        return tcp;
    }
    if (kind.compare(CanKind, Qt::CaseInsensitive) == 0) {
        TCANParams can;
        can.Interface.Plugin = ini.ReadString(section, KeyCanPlugin, QString());
        can.Interface.Name = ini.ReadString(section, KeyCanInterface, QString());
        const TCANDevice::TBitrate* rate = BitrateByKBits(ini.ReadInteger(section, KeyBitrate, 0));
        constexpr int32_t missing = -1;
        can.TargetId = ini.ReadInteger(section, KeyTargetId, missing);
        if (can.Interface.Plugin.isEmpty() || can.Interface.Name.isEmpty() || !rate || can.TargetId < 0)
            return std::nullopt;
        can.BitrateCode = rate->Code;
        return can;
    }
    return std::nullopt;
}
