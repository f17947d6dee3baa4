#include "CliDecode.h"

#include "CliOptions.h"
#include "CliRunner.h"
#include "FrameScanner.h"
#include "HXT_commands.h"
#include "IntegerLiteral.h"
#include "PacketDecoder.h"
#include "UsageError.h"
#include "stat.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <bitset>
#include <cstdio>

namespace {

const QString Usage = QStringLiteral("usage: krm-cli decode [--json] [--format auto|binary|hex|csv|candump] [--can-id N] [FILE|-]");

QString Hex(const uint8_t* bytes, size_t count)
{
    QString text;
    text.reserve(static_cast<qsizetype>(count * 3));
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += QLatin1Char(' ');
        text += QString::asprintf("%02X", bytes[i]);
    }
    return text;
}

QString Hex(const TPacket& p) { return Hex(p.data.data(), static_cast<size_t>(p.ValidLength())); }

// The packet as the command log shows it with command names and status
// identifiers: "ID=20h (HOMING), Length=2: 1A 00 (E_CMD_PENDING)".
QString PacketText(const TPacket& p, bool received)
{
    const auto command = static_cast<uint8_t>(p.command & 0xFF);
    QString text = QString::asprintf("ID=%02Xh (", command) + QString::fromStdString(CommandName(command))
        + QStringLiteral("), Length=%1").arg(p.length);
    const int length = p.ValidLength();
    if (length == 0)
        return text;
    text += QLatin1Char(':');
    int from = 0;
    if (received && length >= 2) {
        text += QLatin1Char(' ') + Hex(p.data.data(), 2) + QStringLiteral(" (")
            + QString::fromStdString(StatusName(p.data[0])) + QLatin1Char(')');
        from = 2;
    }
    if (length > from)
        text += QLatin1Char(' ') + Hex(p.data.data() + from, static_cast<size_t>(length - from));
    return text;
}

// Whether a request of `command` may carry `length` payload bytes.
bool RequestLength(uint8_t command, int length)
{
    switch (command) {
    case CMD_HOMING:
    case CMD_OVERDRIVE_MODE:
    case CMD_GET_GRASPING_STATS:
        return length == 1;
    case CMD_GOTO:
        return length == 9;
    case CMD_FAST_STOP_ACK:
        return length == 3;
    case CMD_GRASP_RAW:
    case CMD_RELEASE_RAW:
    case CMD_SET_SOFT_LIMITS:
        return length == 8;
    case CMD_GRASP_PROFILE:
        return length == 16;
    case CMD_RELEASE_PROFILE:
        return length == 12;
    case CMD_SET_ACCELERATION:
    case CMD_SET_FORCE_LIMIT:
        return length == 4;
    case CMD_SET_DEVICE_TAG:
        return length >= 1 && length <= 64;
    default:
        return IsReportCommand(command) ? length == 0 || length == 3 : length == 0;
    }
}

// Tells requests from answers in a stream that carries both: a packet that
// starts with a status word is an answer when its command waits for one or
// when a request of that command could not be of its length.
class TDirectionGuess {
public:
    bool Received(const TPacket& p)
    {
        const auto command = static_cast<uint8_t>(p.command & 0xFF);
        const int length = p.ValidLength();
        const bool statusWord = length >= 2 && p.data[1] == 0 && p.data[0] < StatCount;
        // A request that switches reports off carries no period (00 00 00),
        // so 00 00 and a value is a report.
        const bool report = IsReportCommand(command) && length == 3 && p.data[0] == 0 && p.data[2] != 0;
        if (statusWord && (FAwaiting.test(command) || report || !RequestLength(command, length))) {
            FAwaiting.reset(command);
            return true;
        }
        FAwaiting.set(command);
        return false;
    }

private:
    std::bitset<256> FAwaiting;
};

struct TOutputItem {
    int line = 0; // input line of the first byte (0 for binary input)
    QString time;
    QString text;
    QJsonObject json;
};

const char* KindName(TScanItem::TKind kind)
{
    switch (kind) {
    case TScanItem::TKind::Packet:
        return "packet";
    case TScanItem::TKind::ChecksumMismatch:
        return "checksum_mismatch";
    case TScanItem::TKind::CutShort:
        return "cut_short";
    case TScanItem::TKind::BetweenFrames:
        return "between_frames";
    }
    return "";
}

void DescribePacket(const TPacket& p, bool received, QJsonObject& json)
{
    const auto command = static_cast<uint8_t>(p.command & 0xFF);
    json[QStringLiteral("command")] = QString::asprintf("0x%02X", command);
    json[QStringLiteral("name")] = QString::fromStdString(CommandName(command));
    json[QStringLiteral("length")] = p.length;
    if (received && p.ValidLength() >= 2)
        json[QStringLiteral("status")] = QString::fromStdString(StatusName(p.data[0]));
    const std::string meaning = DecodePacket(p, received);
    if (!meaning.empty())
        json[QStringLiteral("decoded")] = QString::fromStdString(meaning);
    json[QStringLiteral("payload")] = Hex(p);
}

QString WithMeaning(const TPacket& p, bool received)
{
    const std::string meaning = DecodePacket(p, received);
    return PacketText(p, received) + (meaning.empty() ? QString() : QStringLiteral(" = ") + QString::fromStdString(meaning));
}

void AddStreamItems(const TCaptureStream& stream, std::vector<TOutputItem>& out, int& faults)
{
    TDirectionGuess guess;
    for (const TScanItem& item : ScanFrames(stream.bytes)) {
        TOutputItem o;
        if (item.offset < stream.lines.size())
            o.line = stream.lines[item.offset];
        if (item.offset < stream.times.size())
            o.time = stream.times[item.offset];
        const bool framed = item.kind == TScanItem::TKind::Packet || item.kind == TScanItem::TKind::ChecksumMismatch;
        const bool received = stream.received ? *stream.received : framed && guess.Received(item.packet);
        const QString direction = stream.received ? stream.name : (received ? QStringLiteral("RX?") : QStringLiteral("TX?"));
        QJsonObject& j = o.json;
        j[QStringLiteral("kind")] = QLatin1String(KindName(item.kind));
        j[QStringLiteral("stream")] = stream.name;
        if (framed) {
            j[QStringLiteral("direction")] = received ? QStringLiteral("RX") : QStringLiteral("TX");
            if (!stream.received)
                j[QStringLiteral("direction_guessed")] = true;
        }
        j[QStringLiteral("offset")] = static_cast<qint64>(item.offset);
        j[QStringLiteral("size")] = static_cast<qint64>(item.size);
        if (o.line > 0)
            j[QStringLiteral("line")] = o.line;
        if (!o.time.isEmpty())
            j[QStringLiteral("time")] = o.time;
        const QString where = QStringLiteral("%1 @%2").arg(framed ? direction : stream.name).arg(item.offset)
            + (o.line > 0 ? QStringLiteral(" line %1").arg(o.line) : QString());
        switch (item.kind) {
        case TScanItem::TKind::Packet:
            DescribePacket(item.packet, received, j);
            o.text = where + QStringLiteral(": ") + WithMeaning(item.packet, received);
            break;
        case TScanItem::TKind::ChecksumMismatch:
            ++faults;
            DescribePacket(item.packet, received, j);
            j[QStringLiteral("checksum")] = QString::asprintf("0x%04X", item.checksum);
            j[QStringLiteral("expected_checksum")] = QString::asprintf("0x%04X", item.expected);
            o.text = where + QString::asprintf(": checksum mismatch (received %04Xh, computed %04Xh): ", item.checksum, item.expected)
                + WithMeaning(item.packet, received);
            break;
        case TScanItem::TKind::CutShort: {
            ++faults;
            const uint8_t* bytes = stream.bytes.data() + item.offset;
            j[QStringLiteral("bytes")] = Hex(bytes, item.size);
            if (item.frameSize > 0)
                j[QStringLiteral("frame_size")] = static_cast<qint64>(item.frameSize);
            o.text = where + QStringLiteral(": frame cut short after %1 ").arg(item.size)
                + (item.frameSize > 0 ? QStringLiteral("of %1 bytes").arg(item.frameSize) : QStringLiteral("bytes, in its header"))
                + QStringLiteral(": ") + Hex(bytes, item.size);
            break;
        }
        case TScanItem::TKind::BetweenFrames:
            ++faults;
            j[QStringLiteral("bytes")] = Hex(item.packet);
            o.text = where + QStringLiteral(": %1 byte%2 between frames: ").arg(item.size).arg(item.size == 1 ? "" : "s") + Hex(item.packet);
            break;
        }
        out.push_back(std::move(o));
    }
}

void AddRecordItems(const std::vector<TLogRecord>& records, std::vector<TOutputItem>& out)
{
    int line = 1; // the header
    for (const TLogRecord& r : records) {
        TOutputItem o;
        o.line = ++line;
        if (r.wallMs)
            o.time = PacketLogTime(*r.wallMs);
        const QString direction = r.received ? QStringLiteral("RX") : QStringLiteral("TX");
        QJsonObject& j = o.json;
        j[QStringLiteral("kind")] = QStringLiteral("packet");
        j[QStringLiteral("direction")] = direction;
        j[QStringLiteral("line")] = o.line;
        if (!o.time.isEmpty())
            j[QStringLiteral("time")] = o.time;
        j[QStringLiteral("ms_since_connect")] = static_cast<double>(r.sinceConnectUs) / 1000.0;
        DescribePacket(r.packet, r.received, j);
        o.text = QStringLiteral("%1 line %2: ").arg(direction).arg(o.line) + WithMeaning(r.packet, r.received);
        out.push_back(std::move(o));
    }
}

QString Plural(int count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

QString ReadInput(const QString& path, QByteArray& input)
{
    QFile file;
    const bool ok = path == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly) : (file.setFileName(path), file.open(QIODevice::ReadOnly));
    if (!ok)
        return file.errorString();
    input = file.readAll();
    return file.error() == QFileDevice::NoError ? QString() : file.errorString();
}

} // namespace

bool IsDecodeCommand(const QStringList& args)
{
    return FirstCommandWord(args) == QLatin1String("decode");
}

QString DecodeCaptureText(const TCapture& capture, bool json, int& faults)
{
    faults = 0;
    std::vector<TOutputItem> items;
    for (const TCaptureStream& stream : capture.streams)
        AddStreamItems(stream, items, faults);
    AddRecordItems(capture.records, items);
    // Streams of one input interleave as their lines do.
    std::stable_sort(items.begin(), items.end(), [](const TOutputItem& a, const TOutputItem& b) { return a.line < b.line; });
    QString text;
    int packets = 0;
    for (const TOutputItem& item : items) {
        packets += item.json[QStringLiteral("kind")] == QLatin1String("packet") ? 1 : 0;
        if (json)
            text += QString::fromUtf8(QJsonDocument(item.json).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
        else
            text += (item.time.isEmpty() ? QString() : item.time + QLatin1Char(' ')) + item.text + QLatin1Char('\n');
    }
    if (!json)
        text += QStringLiteral("%1 (%2); %3 found\n")
                    .arg(Plural(packets, "packet", "packets"), CaptureFormatName(capture.format),
                         Plural(faults, "fault", "faults"));
    return text;
}

int RunDecode(const QStringList& args)
{
    bool json = false;
    TCaptureFormat format = TCaptureFormat::Auto;
    std::optional<int> canId;
    QString path;
    try {
        bool seenDecode = false;
        for (qsizetype i = 0; i < args.size(); ++i) {
            const QString& arg = args[i];
            const auto value = [&]() -> QString {
                if (i + 1 >= args.size())
                    throw TUsageError(QStringLiteral("decode: %1: missing value").arg(arg));
                return args[++i];
            };
            if (arg == QLatin1String("--json")) {
                json = true;
            } else if (arg == QLatin1String("decode") && !seenDecode) {
                seenDecode = true;
            } else if (!seenDecode && arg != QLatin1String("--can-id")) {
                const QString option = arg.section(u'=', 0, 0);
                if (option == QLatin1String("--tcp") || option == QLatin1String("--serial") || option == QLatin1String("--can"))
                    throw TUsageError(QStringLiteral("decode: %1: decode reads a recording and needs no connection").arg(option));
                throw TUsageError(QStringLiteral("decode: %1: not an option of decode (%2)").arg(option, Usage));
            } else if (arg == QLatin1String("--format")) {
                const QString name = value();
                const auto named = CaptureFormatNamed(name);
                if (!named)
                    throw TUsageError(QStringLiteral("decode: --format: \"%1\" is not one of auto, binary, hex, csv, candump").arg(name));
                format = *named;
            } else if (arg == QLatin1String("--can-id")) {
                const QString text = value();
                const auto id = ParseIntegerLiteral(text);
                if (!id || *id < 0 || *id > 0x1FFFFFFE)
                    throw TUsageError(QStringLiteral("decode: --can-id: N \"%1\" is not an identifier from 0 to 0x1FFFFFFE").arg(text));
                canId = *id;
            } else if (arg.startsWith(QLatin1String("--"))) {
                throw TUsageError(QStringLiteral("decode: %1: unknown option (%2)").arg(arg, Usage));
            } else if (!path.isEmpty()) {
                throw TUsageError(QStringLiteral("decode: \"%1\": only one input may be given (%2)").arg(arg, Usage));
            } else {
                path = arg;
            }
        }
    } catch (const TUsageError& error) {
        std::fprintf(stderr, "krm-cli: %s\n", qPrintable(error.Message()));
        return ExitUsage;
    }
    if (path.isEmpty())
        path = QStringLiteral("-");
    QByteArray input;
    QString error = ReadInput(path, input);
    TCapture capture;
    if (error.isEmpty() && !ReadCapture(input, format, canId, capture, error))
        error = QStringLiteral("not a packet log: ") + error;
    if (!error.isEmpty()) {
        std::fprintf(stderr, "krm-cli: decode: %s: %s\n", qPrintable(path), qPrintable(error));
        return ExitUsage;
    }
    int faults = 0;
    const QByteArray text = DecodeCaptureText(capture, json, faults).toUtf8();
    std::fwrite(text.constData(), 1, static_cast<size_t>(text.size()), stdout);
    for (const QString& problem : capture.problems)
        std::fprintf(stderr, "krm-cli: decode: %s: %s\n", qPrintable(path), qPrintable(problem));
    return faults > 0 || !capture.problems.isEmpty() ? ExitCommandFailed : ExitSuccess;
}
