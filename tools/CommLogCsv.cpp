#include "CommLogCsv.h"

#include "HXT_commands.h"
#include "PacketDecoder.h"
#include "stat.h"

#include <QDateTime>
#include <QIODevice>
#include <QStringList>

namespace {

constexpr int ColumnCount = 9;
enum TColumn { ColTime, ColDirection, ColCommand, ColName, ColLength, ColStatus, ColPayload, ColDecoded, ColSince };
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

// Reads the fields of one row into a record; an empty result means success,
// otherwise it says what is wrong.
QString ParseRow(const QStringList& f, TLogRecord& r)
{
    if (f.size() != ColumnCount)
        return QStringLiteral("%1 fields, %2 expected").arg(f.size()).arg(ColumnCount);
    const QDateTime time = QDateTime::fromString(f[ColTime], Qt::ISODateWithMs);
    if (!time.isValid())
        return QStringLiteral("time \"%1\" is not a date and time").arg(f[ColTime]);
    r.wallMs = time.toMSecsSinceEpoch();
    if (f[ColDirection] != QLatin1String("TX") && f[ColDirection] != QLatin1String("RX"))
        return QStringLiteral("direction \"%1\" is neither TX nor RX").arg(f[ColDirection]);
    r.received = f[ColDirection] == QLatin1String("RX");
    bool ok = false;
    const uint command = f[ColCommand].startsWith(QLatin1String("0x")) ? f[ColCommand].mid(2).toUInt(&ok, 16) : 0;
    if (!ok || command > 0xFF || f[ColCommand].size() != 4)
        return QStringLiteral("command byte \"%1\" is not of the form 0x00 to 0xFF").arg(f[ColCommand]);
    const int length = f[ColLength].toInt(&ok);
    if (!ok || length < 0 || length > 0xFFFF)
        return QStringLiteral("length \"%1\" is not a number from 0 to 65535").arg(f[ColLength]);
    TByteArray data;
    for (const QString& token : f[ColPayload].split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const uint value = token.size() == 2 ? token.toUInt(&ok, 16) : 0;
        if (token.size() != 2 || !ok)
            return QStringLiteral("payload byte \"%1\" is not two hex digits").arg(token);
        data.push_back(static_cast<uint8_t>(value));
    }
    if (static_cast<int>(data.size()) != length)
        return QStringLiteral("%1 payload bytes, length says %2").arg(data.size()).arg(length);
    r.sinceConnectMs = f[ColSince].toLongLong(&ok);
    if (!ok || r.sinceConnectMs < 0)
        return QStringLiteral("milliseconds since connect \"%1\" is not a number").arg(f[ColSince]);
    r.packet.command = command;
    r.packet.length = length;
    r.packet.data = std::move(data);
    return {};
}

} // namespace

QString CsvLogHeader()
{
    return QStringLiteral("time,direction,command byte,name,length,status,payload hex,decoded,ms since connect");
}

QString CsvLogRow(const TLogRecord& r)
{
    const TPacket& p = r.packet;
    const uint8_t command = static_cast<uint8_t>(p.command & 0xFF);
    const bool hasStatus = r.received && p.ValidLength() >= 2;
    QStringList fields;
    // Local time with its offset from UTC, so that reading it back gives
    // the same instant in any time zone.
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(r.wallMs);
    fields << local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs)
           << (r.received ? QStringLiteral("RX") : QStringLiteral("TX"))
           << QStringLiteral("0x") + QString::number(command, 16).toUpper().rightJustified(2, QLatin1Char('0'))
           << QString::fromStdString(CommandName(command)) << QString::number(p.length)
           << (hasStatus ? QString::fromStdString(StatusName(p.data[0])) : QString()) << HexBytes(p)
           << QString::fromStdString(DecodePacket(p, r.received)) << QString::number(r.sinceConnectMs);
    for (QString& field : fields)
        field = Quoted(field);
    return fields.join(QLatin1Char(','));
}

bool ReadCsvLog(QIODevice& in, std::vector<TLogRecord>& records, QString& error)
{
    records.clear();
    int lineNumber = 0;
    const auto fail = [&](const QString& what) {
        records.clear();
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
            if (row != CsvLogHeader())
                return fail(QStringLiteral("not a command log (the first line must be \"%1\")").arg(CsvLogHeader()));
            continue;
        }
        if (row.isEmpty())
            continue;
        QStringList fields;
        if (!SplitRow(row, fields))
            return fail(QStringLiteral("unbalanced quotes"));
        TLogRecord record;
        const QString problem = ParseRow(fields, record);
        if (!problem.isEmpty())
            return fail(problem);
        records.push_back(std::move(record));
    }
    if (lineNumber == 0) {
        lineNumber = 1;
        return fail(QStringLiteral("empty file, not a command log"));
    }
    return true;
}
