#include "ConnectionString.h"

#include "CANDevice.h"
#include "IntegerLiteral.h"
#include "SerialDevice.h"

#include <QStringList>

#include <algorithm>
#include <optional>

namespace {

constexpr int DefaultKbits = 250;
constexpr int32_t DefaultCanId = 100;
// Highest request identifier whose answer identifier (one more) still fits
// the 29 bits of an extended CAN frame.
constexpr int32_t MaxCanId = 0x1FFFFFFE;

[[noreturn]] void Refuse(const QString& message) { throw TConnectionStringError(message.toStdString()); }

// Decimal digits only, within [min, max].
std::optional<int> Decimal(const QString& text, int min, int max)
{
    if (text.isEmpty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); }))
        return std::nullopt;
    const int value = text.toInt();
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

template <class Values, class Get> QString Listed(const Values& values, Get get)
{
    QStringList texts;
    for (const auto& v : values)
        texts.append(QString::number(get(v)));
    return texts.join(QStringLiteral(", "));
}

TTCPParams ParseTcp(const QString& rest)
{
    const qsizetype colon = rest.lastIndexOf(u':');
    if (colon < 0)
        Refuse(QStringLiteral("\"%1\" is not HOST:PORT").arg(rest));
    QString host = rest.left(colon);
    if (host.startsWith(u'[')) {
        if (!host.endsWith(u']'))
            Refuse(QStringLiteral("HOST \"%1\" lacks its closing bracket").arg(host));
        host = host.mid(1, host.size() - 2);
    } else if (host.contains(u':')) {
        Refuse(QStringLiteral("HOST \"%1\" is an IPv6 address: write it in brackets, [%1]").arg(host));
    }
    if (host.isEmpty())
        Refuse(QStringLiteral("HOST is empty"));
    const auto port = Decimal(rest.mid(colon + 1), 1, 65535);
    if (!port)
        Refuse(QStringLiteral("PORT \"%1\" is not a number from 1 to 65535").arg(rest.mid(colon + 1)));
    return TTCPParams{host, *port};
}

TSerialParams ParseSerial(const QString& rest)
{
    const qsizetype at = rest.lastIndexOf(u'@');
    const QString path = at < 0 ? rest : rest.left(at);
    if (path.isEmpty())
        Refuse(QStringLiteral("PATH is empty"));
    int32_t baudrate = DefaultConnectionBaudrate;
    if (at >= 0) {
        const auto& speeds = TSerialDevice::LineSpeeds;
        const auto value = Decimal(rest.mid(at + 1), 1, INT32_MAX);
        if (!value || std::find(speeds.begin(), speeds.end(), *value) == speeds.end())
            Refuse(QStringLiteral("BAUD \"%1\" is not one of %2").arg(rest.mid(at + 1), Listed(speeds, [](int32_t v) { return v; })));
        baudrate = *value;
    }
    return TSerialParams{path, baudrate};
}

TCANParams ParseCan(const QString& rest)
{
    QString device = rest;
    int32_t id = DefaultCanId;
    if (const qsizetype hash = device.lastIndexOf(u'#'); hash >= 0) {
        const QString text = device.mid(hash + 1);
        const auto value = ParseIntegerLiteral(text);
        if (text.trimmed() != text || !value || *value < 0 || *value > MaxCanId)
            Refuse(QStringLiteral("ID \"%1\" is not an identifier from 0 to %2 (0x1FFFFFFE)").arg(text).arg(MaxCanId));
        id = *value;
        device = device.left(hash);
    }
    uint32_t code = NTCAN_BAUD_250;
    if (const qsizetype at = device.lastIndexOf(u'@'); at >= 0) {
        const QString text = device.mid(at + 1);
        const auto& rates = TCANDevice::Bitrates;
        const auto value = Decimal(text, 1, INT32_MAX);
        const auto* rate = std::find_if(rates.begin(), rates.end(), [&](const auto& r) { return value && r.KBits == *value; });
        if (rate == rates.end())
            Refuse(QStringLiteral("KBITS \"%1\" is not one of %2").arg(text, Listed(rates, [](const auto& r) { return r.KBits; })));
        code = rate->Code;
        device = device.left(at);
    }
    const qsizetype colon = device.indexOf(u':');
    if (colon <= 0 || colon == device.size() - 1)
        Refuse(QStringLiteral("\"%1\" is not PLUGIN:INTERFACE (for example socketcan:can0)").arg(device));
    return TCANParams{{device.left(colon), device.mid(colon + 1)}, code, id};
}

} // namespace

TConnectionParams ParseConnectionString(const QString& text)
{
    const qsizetype colon = text.indexOf(u':');
    const QString kind = text.left(colon);
    const QString rest = colon < 0 ? QString() : text.mid(colon + 1);
    if (colon >= 0 && kind == QLatin1String("tcp"))
        return ParseTcp(rest);
    if (colon >= 0 && kind == QLatin1String("serial"))
        return ParseSerial(rest);
    if (colon >= 0 && kind == QLatin1String("can"))
        return ParseCan(rest);
    Refuse(QStringLiteral("\"%1\" is not a kind of connection: use tcp:HOST:PORT, serial:PATH[@BAUD] or "
                          "can:PLUGIN:INTERFACE[@KBITS][#ID]")
               .arg(colon < 0 ? text : kind));
}

int CanKbitsOfCode(uint32_t code)
{
    for (const auto& rate : TCANDevice::Bitrates)
        if (rate.Code == code)
            return rate.KBits;
    return DefaultKbits;
}
