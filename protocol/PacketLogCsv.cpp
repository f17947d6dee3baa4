#include "PacketLogCsv.h"

#include "HXT_commands.h"
#include "PacketDecoder.h"
#include "stat.h"

#include <QDateTime>
#include <QIODevice>
#include <QStringList>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace {

// Where a layout keeps the fields that are read back; -1 = it has none.
struct TLayout {
    const char* header;
    int columns;
    int time;
    int since;
    bool sinceInMsDecimal; // "12.345" rather than whole milliseconds
    int direction;
    int command;
    int length;
    int payload;
    int decoded;
};

const TLayout Current{"time,ms_since_connect,direction,command_byte,command_name,length,status_name,decoded,payload_hex",
                      9, 0, 1, true, 2, 3, 5, 8, 7};
// The command log window's own layout before the one above.
const TLayout CommandLog{"time,direction,command byte,name,length,status,payload hex,decoded,ms since connect",
                         9, 0, 8, false, 1, 2, 4, 6, 7};
// krm-cli's --log before the one above: milliseconds since the program
// started, which came right before the connect.
const TLayout CliLog{"time_ms,direction,command,name,length,status,payload", 7, -1, 0, true, 1, 2, 4, 6, -1};
const TLayout* const Layouts[] = {&Current, &CommandLog, &CliLog};
const QString ChecksumFaultText = QStringLiteral("FAULT: wrong checksum");
const QString StrayFaultText = QStringLiteral("FAULT: stray bytes");

// A row longer than this is not one of ours (a payload length field holds at
// most 65535 bytes, three characters each).
constexpr qint64 MaxRowLength = 1 << 20;

QString Quoted(const QString& field)
{
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\n')))
        return field;
    QString text = field;
    text.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// Splits one row into fields (quoted fields may hold commas and doubled
// quotes); false on an unterminated quote or text after a closing quote.
bool SplitRow(const QString& row, QStringList& fields)
{
    fields.clear();
    QString field;
    int i = 0;
    const int size = static_cast<int>(row.size());
    while (true) {
        field.clear();
        if (i < size && row[i] == QLatin1Char('"')) {
            ++i;
            while (true) {
                if (i >= size)
                    return false;
                if (row[i] == QLatin1Char('"')) {
                    if (i + 1 < size && row[i + 1] == QLatin1Char('"')) {
                        field += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += row[i++];
            }
            if (i < size && row[i] != QLatin1Char(','))
                return false;
        } else {
            while (i < size && row[i] != QLatin1Char(','))
                field += row[i++];
        }
        fields << field;
        if (i >= size)
            return true;
        ++i; // the comma
    }
}

QString HexBytes(const TPacket& p)
{
    QString text;
    const int length = p.ValidLength();
    for (int i = 0; i < length; ++i) {
        if (i > 0)
            text += QLatin1Char(' ');
        text += QStringLiteral("%1").arg(p.data[static_cast<size_t>(i)], 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

// Milliseconds with three decimals ("12.345").
QString MsText(qint64 us)
{
    return QStringLiteral("%1.%2").arg(us / 1000).arg(us % 1000, 3, 10, QLatin1Char('0'));
}

// Reads the fields of one row of `layout` into a record; an empty result
// means success, otherwise it says what is wrong.
QString ParseRow(const TLayout& layout, const QStringList& f, TLogRecord& r)
{
    if (f.size() != layout.columns)
        return QStringLiteral("%1 fields, %2 expected").arg(f.size()).arg(layout.columns);
    if (layout.time >= 0 && !f[layout.time].isEmpty()) {
        const QDateTime time = QDateTime::fromString(f[layout.time], Qt::ISODateWithMs);
        if (!time.isValid())
            return QStringLiteral("time \"%1\" is not a date and time").arg(f[layout.time]);
        r.wallMs = time.toMSecsSinceEpoch();
    }
    const QString& direction = f[layout.direction];
    if (direction != QLatin1String("TX") && direction != QLatin1String("RX"))
        return QStringLiteral("direction \"%1\" is neither TX nor RX").arg(direction);
    r.received = direction == QLatin1String("RX");
    bool ok = false;
    const QString& commandText = f[layout.command];
    const uint command = commandText.startsWith(QLatin1String("0x")) ? commandText.mid(2).toUInt(&ok, 16) : 0;
    if (!ok || command > 0xFF || commandText.size() != 4)
        return QStringLiteral("command byte \"%1\" is not of the form 0x00 to 0xFF").arg(commandText);
    const int length = f[layout.length].toInt(&ok);
    if (!ok || length < 0 || length > 0xFFFF)
        return QStringLiteral("length \"%1\" is not a number from 0 to 65535").arg(f[layout.length]);
    TByteArray data;
    for (const QString& token : f[layout.payload].split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const uint value = token.size() == 2 ? token.toUInt(&ok, 16) : 0;
        if (token.size() != 2 || !ok)
            return QStringLiteral("payload byte \"%1\" is not two hex digits").arg(token);
        data.push_back(static_cast<uint8_t>(value));
    }
    if (static_cast<int>(data.size()) != length)
        return QStringLiteral("%1 payload bytes, length says %2").arg(data.size()).arg(length);
    const QString& since = f[layout.since];
    if (layout.sinceInMsDecimal) {
        const double ms = since.toDouble(&ok);
        ok = ok && std::isfinite(ms) && ms >= 0 && ms < 9e12;
        r.sinceConnectUs = ok ? std::llround(ms * 1000) : 0;
    } else {
        r.sinceConnectUs = since.toLongLong(&ok) * 1000;
        ok = ok && r.sinceConnectUs >= 0 && since.size() < 13;
    }
    if (!ok)
        return QStringLiteral("milliseconds since connect \"%1\" is not a number").arg(since);
    if (layout.decoded >= 0 && f[layout.decoded] == ChecksumFaultText)
        r.fault = TLogFault::Checksum;
    else if (layout.decoded >= 0 && f[layout.decoded] == StrayFaultText)
        r.fault = TLogFault::Stray;
    r.packet.command = static_cast<int32_t>(command);
    r.packet.length = length;
    r.packet.data = std::move(data);
    return {};
}

// The layout whose header is `row`, or null.
const TLayout* LayoutOf(const QString& row)
{
    for (const TLayout* layout : Layouts)
        if (row == QLatin1String(layout->header))
            return layout;
    return nullptr;
}

} // namespace

QString PacketLogHeader() { return QLatin1String(Current.header); }

QString PacketLogTime(qint64 wallMs)
{
    // Local time with its offset from UTC, so that reading it back gives the
    // same instant in any time zone.
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(wallMs);
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

bool IsPacketLogHeader(const QString& line) { return LayoutOf(line) != nullptr; }

QString PacketLogRow(const TLogRecord& r)
{
    const TPacket& p = r.packet;
    const uint8_t command = static_cast<uint8_t>(p.command & 0xFF);
    const bool fault = r.fault != TLogFault::None;
    const bool hasStatus = r.received && p.ValidLength() >= 2 && !fault;
    const QString decoded = r.fault == TLogFault::Checksum ? ChecksumFaultText
        : r.fault == TLogFault::Stray                      ? StrayFaultText
                                                           : QString::fromStdString(DecodePacket(p, r.received));
    QStringList fields;
    fields << (r.wallMs ? PacketLogTime(*r.wallMs) : QString()) << MsText(r.sinceConnectUs) << (r.received ? QStringLiteral("RX") : QStringLiteral("TX"))
           << QString::asprintf("0x%02X", command)
           << (r.fault == TLogFault::Stray ? QString() : QString::fromStdString(CommandName(command)))
           << QString::number(p.length) << (hasStatus ? QString::fromStdString(StatusName(p.data[0])) : QString())
           << decoded << HexBytes(p);
    for (QString& field : fields)
        field = Quoted(field);
    return fields.join(QLatin1Char(','));
}

bool ReadPacketLog(QIODevice& in, std::vector<TLogRecord>& records, QString& error)
{
    records.clear();
    const bool read = ReadPacketLogRows(in, [&records](TLogRecord&& record, int) {
        records.push_back(std::move(record));
        return true;
    }, error);
    if (!read)
        records.clear();
    return read;
}

bool ReadPacketLogRows(QIODevice& in, const std::function<bool(TLogRecord&&, int)>& take, QString& error)
{
    int lineNumber = 0;
    const TLayout* layout = nullptr;
    const auto fail = [&](const QString& what) {
        error = QStringLiteral("line %1: %2").arg(lineNumber).arg(what);
        return false;
    };
    while (!in.atEnd()) {
        ++lineNumber;
        const QByteArray bytes = in.readLine(MaxRowLength);
        if (bytes.size() >= MaxRowLength - 1 && !bytes.endsWith('\n'))
            return fail(QStringLiteral("row too long"));
        QString row = QString::fromUtf8(bytes);
        while (row.endsWith(QLatin1Char('\n')) || row.endsWith(QLatin1Char('\r')))
            row.chop(1);
        if (lineNumber == 1) {
            if (row.startsWith(QChar(0xFEFF)))
                row.remove(0, 1);
            layout = LayoutOf(row);
            if (!layout && (row.startsWith(QLatin1String("sample_time_s,")) || row.startsWith(QLatin1String("time_s,position_mm,"))))
                return fail(QStringLiteral("a table of plot samples, not a packet log"));
            if (!layout)
                return fail(QStringLiteral("not a packet log (the first line must be \"%1\")").arg(PacketLogHeader()));
            continue;
        }
        if (row.isEmpty())
            continue;
        QStringList fields;
        if (!SplitRow(row, fields))
            return fail(QStringLiteral("unbalanced quotes"));
        TLogRecord record;
        const QString problem = ParseRow(*layout, fields, record);
        if (!problem.isEmpty())
            return fail(problem);
        if (!take(std::move(record), lineNumber))
            return true;
    }
    if (lineNumber == 0) {
        lineNumber = 1;
        return fail(QStringLiteral("empty file, not a packet log"));
    }
    return true;
}

bool TPacketLogFile::Open(const QString& path, QString& error)
{
    FFile.setFileName(path);
    if (!FFile.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        error = FFile.errorString();
        return false;
    }
    const QByteArray header = PacketLogHeader().toUtf8() + '\n';
    Failing(FFile.write(header) != header.size() || !FFile.flush());
    FSinceConnect.invalidate();
    return true;
}

void TPacketLogFile::MarkConnected() { FSinceConnect.start(); }

bool TPacketLogFile::Write(const TPacket& packet, bool received, TLogFault fault)
{
    if (!FFile.isOpen() || FFailed)
        return !FFailed;
    if (!FSinceConnect.isValid())
        FSinceConnect.start();
    TLogRecord record;
    record.packet = packet;
    record.packet.command &= 0xFF;
    record.received = received;
    record.fault = fault;
    record.wallMs = QDateTime::currentMSecsSinceEpoch();
    record.sinceConnectUs = FSinceConnect.nsecsElapsed() / 1000;
    const QByteArray row = PacketLogRow(record).toUtf8() + '\n';
    return !Failing(FFile.write(row) != row.size() || !FFile.flush());
}

bool TPacketLogFile::Failing(bool failed)
{
    // The system's reason, taken before anything else can change errno.
    const int error = errno;
    if (failed && !FFailed) {
        FFailed = true;
        FError = QString::fromLocal8Bit(std::strerror(error));
    }
    return FFailed;
}
