#include "CliDecode.h"

#include "CliOptions.h"
#include "CliRunner.h"
#include "CliSignals.h"
#include "DecodeInput.h"
#include "FrameScanner.h"
#include "HXT_commands.h"
#include "IntegerLiteral.h"
#include "PacketDecoder.h"
#include "UsageError.h"
#include "stat.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <map>
#include <unistd.h>

namespace {

const QString Usage = QStringLiteral("usage: krm-cli decode [--json] [--format auto|binary|hex|csv|candump|pcap] [--can-id N] [FILE|-]");

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

QString Plural(int count, const char* one, const char* many)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? one : many));
}

// A time as decode prints it, for every input alike: local time in ISO 8601
// with microseconds and the offset from UTC ("2026-12-07T17:04:51.058123+01:00").
QString IsoTime(qint64 us)
{
    const qint64 seconds = us >= 0 ? us / 1000000 : -((-us + 999999) / 1000000);
    const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds);
    const int offset = local.offsetFromUtc();
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QString::asprintf(".%06lld", us - seconds * 1000000)
        + QString::asprintf("%c%02d:%02d", offset < 0 ? '-' : '+', std::abs(offset) / 3600, std::abs(offset) / 60 % 60);
}

// A run of bytes as hex, at most TFrameScanner::KeptBetweenBytes of them and
// then its length: "01 02 ... (70000 bytes)".
QString ShortHex(const uint8_t* bytes, size_t kept, size_t size)
{
    kept = std::min(kept, TFrameScanner::KeptBetweenBytes);
    return Hex(bytes, kept) + (size > kept ? QStringLiteral(" ... (%1 bytes)").arg(size) : QString());
}

// Prints what the readers hand on as soon as it is decided: the items of
// each byte stream (through a frame scanner of its own) and the packets of
// a packet log, one line or JSON object each, with the time and the time
// since the item before.
class TDecodePrinter : public TCaptureSink {
public:
    TDecodePrinter(bool json, QString path) : FJson(json), FPath(std::move(path)) {}
    ~TDecodePrinter() override { Flush(); }

    void Bytes(const QString& name, std::optional<bool> received, const uint8_t* data, size_t size, int line,
               std::optional<qint64> timeUs) override
    {
        TStream& stream = StreamNamed(name, received);
        if (stream.marks.empty() || stream.marks.back().line != line || stream.marks.back().timeUs != timeUs)
            stream.marks.push_back({stream.fed, line, timeUs});
        stream.fed += size;
        std::vector<TScanItem> items;
        stream.scanner.Feed(data, size, items);
        for (const TScanItem& item : items)
            PrintItem(stream, item);
    }

    void Record(TLogRecord&& r, int line) override
    {
        const QString direction = r.received ? QStringLiteral("RX") : QStringLiteral("TX");
        QJsonObject j;
        j[QStringLiteral("kind")] = QStringLiteral("packet");
        j[QStringLiteral("direction")] = direction;
        j[QStringLiteral("line")] = line;
        j[QStringLiteral("ms_since_connect")] = static_cast<double>(r.sinceConnectUs) / 1000.0;
        const QString where = QStringLiteral("%1 line %2: ").arg(direction).arg(line);
        QString text;
        // Rows the logger marked as faulty: bytes that belonged to no frame,
        // a frame with a wrong checksum.
        if (r.fault == TLogFault::Stray) {
            ++FFaults;
            const size_t size = r.packet.data.size();
            j[QStringLiteral("kind")] = QLatin1String(KindName(TScanItem::TKind::BetweenFrames));
            j[QStringLiteral("bytes")] = ShortHex(r.packet.data.data(), size, size);
            text = where + QStringLiteral("%1 between frames: ").arg(Plural(static_cast<int>(size), "byte", "bytes"))
                + ShortHex(r.packet.data.data(), size, size);
        } else {
            DescribePacket(r.packet, r.received, j);
            text = where + WithMeaning(r.packet, r.received);
            if (r.fault == TLogFault::Checksum) {
                ++FFaults;
                j[QStringLiteral("kind")] = QLatin1String(KindName(TScanItem::TKind::ChecksumMismatch));
                text = where + QStringLiteral("checksum mismatch: ") + WithMeaning(r.packet, r.received);
            } else {
                ++FPackets;
            }
        }
        // Logs without the wall-clock time still tell the time between rows.
        Print(j, r.wallMs ? std::optional<qint64>(*r.wallMs * 1000) : std::nullopt,
              r.wallMs ? std::nullopt : std::optional<qint64>(r.sinceConnectUs), text);
    }

    void Problem(const QString& problem) override
    {
        ++FProblems;
        Flush();
        std::fprintf(stderr, "krm-cli: decode: %s: %s\n", qPrintable(FPath), qPrintable(problem));
    }

    // The input has ended: what the streams held back is decided.
    void Finish()
    {
        for (auto& [name, stream] : FStreams) {
            std::vector<TScanItem> items;
            stream.scanner.Finish(items);
            for (const TScanItem& item : items)
                PrintItem(stream, item);
        }
        Flush();
    }

    int Packets() const { return FPackets; }
    int Faults() const { return FFaults; }
    int Problems() const { return FProblems; }

    void Flush()
    {
        std::fwrite(FOut.constData(), 1, static_cast<size_t>(FOut.size()), stdout);
        std::fflush(stdout);
        FOut.clear();
    }

private:
    // Where a stream's bytes came from: from its `offset` on, the input line
    // and the time.
    struct TMark {
        size_t offset;
        int line;
        std::optional<qint64> timeUs;
    };
    struct TStream {
        QString name;
        std::optional<bool> received;
        TFrameScanner scanner;
        TDirectionGuess guess;
        std::deque<TMark> marks;
        size_t fed = 0;
    };

    TStream& StreamNamed(const QString& name, std::optional<bool> received)
    {
        const auto known = FStreams.find(name);
        if (known != FStreams.end())
            return known->second;
        TStream& stream = FStreams[name];
        stream.name = name;
        stream.received = received;
        return stream;
    }

    // The mark of the stream's byte at `offset`; the marks before it are
    // dropped, as items come in stream order.
    static TMark MarkAt(TStream& stream, size_t offset)
    {
        while (stream.marks.size() > 1 && stream.marks[1].offset <= offset)
            stream.marks.pop_front();
        return stream.marks.empty() ? TMark{offset, 0, std::nullopt} : stream.marks.front();
    }

    void PrintItem(TStream& stream, const TScanItem& item)
    {
        const QString& name = stream.name;
        const TMark mark = MarkAt(stream, item.offset);
        const bool framed = item.kind == TScanItem::TKind::Packet || item.kind == TScanItem::TKind::ChecksumMismatch;
        const bool received = stream.received ? *stream.received : framed && stream.guess.Received(item.packet);
        const QString direction = stream.received ? name : (received ? QStringLiteral("RX?") : QStringLiteral("TX?"));
        QJsonObject j;
        j[QStringLiteral("kind")] = QLatin1String(KindName(item.kind));
        j[QStringLiteral("stream")] = name;
        if (framed) {
            j[QStringLiteral("direction")] = received ? QStringLiteral("RX") : QStringLiteral("TX");
            if (!stream.received)
                j[QStringLiteral("direction_guessed")] = true;
        }
        j[QStringLiteral("offset")] = static_cast<qint64>(item.offset);
        j[QStringLiteral("size")] = static_cast<qint64>(item.size);
        if (mark.line > 0)
            j[QStringLiteral("line")] = mark.line;
        const QString where = QStringLiteral("%1 @%2").arg(framed ? direction : name).arg(item.offset)
            + (mark.line > 0 ? QStringLiteral(" line %1").arg(mark.line) : QString());
        QString text;
        switch (item.kind) {
        case TScanItem::TKind::Packet:
            ++FPackets;
            DescribePacket(item.packet, received, j);
            text = where + QStringLiteral(": ") + WithMeaning(item.packet, received);
            break;
        case TScanItem::TKind::ChecksumMismatch:
            ++FFaults;
            DescribePacket(item.packet, received, j);
            j[QStringLiteral("checksum")] = QString::asprintf("0x%04X", item.checksum);
            j[QStringLiteral("expected_checksum")] = QString::asprintf("0x%04X", item.expected);
            text = where + QString::asprintf(": checksum mismatch (received %04Xh, computed %04Xh): ", item.checksum, item.expected)
                + WithMeaning(item.packet, received);
            break;
        case TScanItem::TKind::CutShort: {
            ++FFaults;
            const QString bytes = ShortHex(item.bytes.data(), item.bytes.size(), item.size);
            j[QStringLiteral("bytes")] = bytes;
            if (item.frameSize > 0)
                j[QStringLiteral("frame_size")] = static_cast<qint64>(item.frameSize);
            text = where + QStringLiteral(": frame cut short after %1 ").arg(item.size)
                + (item.frameSize > 0 ? QStringLiteral("of %1 bytes").arg(item.frameSize) : QStringLiteral("bytes, in its header"))
                + QStringLiteral(": ") + bytes;
            break;
        }
        case TScanItem::TKind::BetweenFrames: {
            ++FFaults;
            const QString bytes = ShortHex(item.packet.data.data(), item.packet.data.size(), item.size);
            j[QStringLiteral("bytes")] = bytes;
            text = where + QStringLiteral(": %1 byte%2 between frames: ").arg(item.size).arg(item.size == 1 ? "" : "s") + bytes;
            break;
        }
        }
        Print(j, mark.timeUs, std::nullopt, text);
    }

    // Adds the time columns and prints the item. `sinceUs` stands in for
    // the time where only the time since a start is known.
    void Print(QJsonObject& j, std::optional<qint64> timeUs, std::optional<qint64> sinceUs, const QString& text)
    {
        QString columns;
        const std::optional<qint64> at = timeUs ? timeUs : sinceUs;
        if (timeUs) {
            j[QStringLiteral("time")] = IsoTime(*timeUs);
            columns = IsoTime(*timeUs) + QLatin1Char(' ');
        }
        if (at) {
            const double dt = FLastUs ? static_cast<double>(*at - *FLastUs) / 1000.0 : 0.0;
            j[QStringLiteral("dt_ms")] = dt;
            columns += QString::asprintf("%+.3f ms ", dt);
            FLastUs = at;
        }
        if (FJson)
            FOut += QJsonDocument(j).toJson(QJsonDocument::Compact) + '\n';
        else
            FOut += (columns + text + QLatin1Char('\n')).toUtf8();
        if (FOut.size() >= (1 << 16))
            Flush();
    }

    const bool FJson;
    const QString FPath;
    std::map<QString, TStream> FStreams;
    std::optional<qint64> FLastUs;
    QByteArray FOut;
    int FPackets = 0;
    int FFaults = 0;
    int FProblems = 0;
};

// Opens the input: a file, or standard input for "-".
int OpenInput(const QString& path, QString& error)
{
    if (path == QLatin1String("-"))
        return STDIN_FILENO;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        error = QString::fromLocal8Bit(std::strerror(errno));
    return fd;
}

} // namespace

bool IsDecodeCommand(const QStringList& args)
{
    return FirstCommandWord(args) == QLatin1String("decode");
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
                    throw TUsageError(QStringLiteral("decode: --format: \"%1\" is not one of auto, binary, hex, csv, candump, pcap").arg(name));
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
    QString error;
    const int fd = OpenInput(path, error);
    if (fd < 0) {
        std::fprintf(stderr, "krm-cli: decode: %s: %s\n", qPrintable(path), qPrintable(error));
        return ExitUsage;
    }
    TDecodeInput input(fd);
    TDecodePrinter printer(json, path);
    const bool read = ReadCapture(input, format, canId, printer, error);
    printer.Finish();
    if (input.Interrupted()) {
        std::fprintf(stderr, "krm-cli: decode: %s: interrupted by %s\n", qPrintable(path), CliSignalName(CliLastSignal()));
        return ExitCommandFailed;
    }
    if (!read) {
        std::fprintf(stderr, "krm-cli: decode: %s: %s%s\n", qPrintable(path),
                     format == TCaptureFormat::Csv ? "not a packet log: " : "", qPrintable(error));
        return ExitUsage;
    }
    if (!json) {
        const QString summary = QStringLiteral("%1 (%2); %3 found\n")
                                    .arg(Plural(printer.Packets(), "packet", "packets"), CaptureFormatName(format),
                                         Plural(printer.Faults(), "fault", "faults"));
        std::fputs(summary.toUtf8().constData(), stdout);
    }
    return printer.Faults() > 0 || printer.Problems() > 0 ? ExitCommandFailed : ExitSuccess;
}
