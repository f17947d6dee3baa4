#include "PacketCsvLog.h"

#include "CliFields.h"
#include "HXT_commands.h"
#include "stat.h"

#include <cerrno>
#include <cstring>

TPacketCsvLog::TPacketCsvLog(const QElapsedTimer& clock)
    : FClock(clock)
{
}

bool TPacketCsvLog::Open(const QString& path, QString& error)
{
    FFile.setFileName(path);
    if (!FFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        error = FFile.errorString();
        return false;
    }
    Failing(FFile.write("time_ms,direction,command,name,length,status,payload\n") < 0 || !FFile.flush());
    return true;
}

bool TPacketCsvLog::Write(bool received, const TPacket& packet)
{
    if (!FFile.isOpen() || FFailed)
        return !FFailed;
    const QByteArray row = Row(static_cast<double>(FClock.nsecsElapsed() / 1000) / 1000.0, received, packet).toUtf8() + '\n';
    return !Failing(FFile.write(row) != row.size() || !FFile.flush());
}

bool TPacketCsvLog::Failing(bool failed)
{
    // The system's reason, taken before anything else can change errno.
    const int error = errno;
    if (failed && !FFailed) {
        FFailed = true;
        FError = QString::fromLocal8Bit(std::strerror(error));
    }
    return FFailed;
}

QString TPacketCsvLog::Row(double timeMs, bool received, const TPacket& packet)
{
    const uint8_t command = static_cast<uint8_t>(packet.command & 0xFF);
    const int32_t length = packet.ValidLength();
    const QString status = received && length >= 2 ? QString::fromStdString(StatusName(packet.data[0])) : QString();
    const QStringList cells{QString::number(timeMs, 'f', 3), received ? QStringLiteral("RX") : QStringLiteral("TX"),
        QString::asprintf("0x%02X", command), QString::fromStdString(CommandName(command)), QString::number(packet.length),
        status, HexText(packet.data.data(), static_cast<size_t>(length))};
    return cells.join(u',');
}
