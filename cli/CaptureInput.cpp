#include "CaptureInput.h"

#include "PcapInput.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <set>

namespace {

struct TFormatName {
    TCaptureFormat format;
    const char* name;
};
constexpr TFormatName FormatNames[] = {{TCaptureFormat::Auto, "auto"},
                                       {TCaptureFormat::Binary, "binary"},
                                       {TCaptureFormat::Hex, "hex"},
                                       {TCaptureFormat::Csv, "csv"},
                                       {TCaptureFormat::Candump, "candump"},
                                       {TCaptureFormat::Pcap, "pcap"}};

const QRegularExpression& CandumpLog()
{
    // (1712345678.123456) can0 064#AAAAAA2000 (CAN FD: 064##1AAAA, remote: 064#R)
    static const QRegularExpression re(
        QStringLiteral("^\\s*\\(([^)]*)\\)\\s+(\\S+)\\s+([0-9A-Fa-f]{1,8})#(#[0-9A-Fa-f])?([0-9A-Fa-f.]*|R\\d*)\\s*$"));
    return re;
}

const QRegularExpression& CandumpScreen()
{
    // [(1712345678.123456)]  can0  064   [8]  AA AA AA 20 01 00 00 B0 (any time
    // stamp candump writes in the brackets: -ta, -tA, -td, -tz)
    static const QRegularExpression re(QStringLiteral(
        "^\\s*(?:\\(([^)]*)\\)\\s+)?(\\S+)\\s+([0-9A-Fa-f]{1,8})\\s+\\[(\\d+)\\]\\s*((?:[0-9A-Fa-f]{2}(?:\\s+|$))*)(.*)$"));
    return re;
}

bool IsHex(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (!isxdigit(c.unicode() < 128 ? c.toLatin1() : 'x'))
            return false;
    return true;
}

// Appends the bytes of an even number of hex digits.
void AppendHexBytes(QStringView digits, TByteArray& bytes)
{
    for (qsizetype i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(digits.mid(i, 2).toUInt(nullptr, 16)));
}

std::optional<bool> DirectionWord(QString word)
{
    if (word.endsWith(QLatin1Char(':')))
        word.chop(1);
    word = word.toUpper();
    if (word == QLatin1String("TX") || word == QLatin1String(">") || word == QLatin1String("->"))
        return false;
    if (word == QLatin1String("RX") || word == QLatin1String("<") || word == QLatin1String("<-"))
        return true;
    return std::nullopt;
}

// A byte as a dump's ASCII column shows it.
QChar Printable(uint8_t b) { return b >= 0x20 && b < 0x7F ? QChar(b) : QChar(u'.'); }

// Drops the bytes that a dump's ASCII column added: the column shows the
// line's bytes, so when the line ends with the rendering of its first k
// bytes, and the hex digits before it are those k bytes, the rest was text.
void DropAsciiColumn(const QString& line, TByteArray& bytes)
{
    const QString text = line.trimmed();
    for (size_t k = bytes.size(); k > 0; --k) {
        QString rendering;
        QString digits;
        for (size_t i = 0; i < k; ++i) {
            rendering += Printable(bytes[i]);
            digits += QString::asprintf("%02X", bytes[i]);
        }
        if (!text.endsWith(rendering))
            continue;
        QString before = text.chopped(rendering.size()).toUpper();
        before.remove(QRegularExpression(QStringLiteral("\\s")));
        if (before.endsWith(digits)) {
            bytes.resize(k);
            return;
        }
    }
}

struct THexLine {
    int number;
    std::optional<bool> received; // a direction word
    bool offset;                  // a dump line with an offset
    bool indented;
    TByteArray bytes;
};

THexLine ParseHexLine(QString line, int number, QStringList& problems)
{
    THexLine parsed{number, std::nullopt, false, line.startsWith(QLatin1Char(' ')) || line.startsWith(QLatin1Char('\t')), {}};
    // hexdump -C puts the ASCII column between bars.
    if (const qsizetype bar = line.indexOf(QLatin1Char('|')); bar >= 0)
        line.truncate(bar);
    line.replace(QLatin1Char(','), QLatin1Char(' ')).replace(QLatin1Char(';'), QLatin1Char(' '));
    const QStringList tokens = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    qsizetype at = 0;
    const auto takeDirection = [&] {
        if (!parsed.received && at < tokens.size())
            if ((parsed.received = DirectionWord(tokens[at])))
                ++at;
    };
    takeDirection();
    // A line offset: "0010:" or "00000010" followed by single bytes.
    if (at + 1 < tokens.size()) {
        const QString& first = tokens[at];
        const bool colon = first.endsWith(QLatin1Char(':')) && IsHex(QStringView(first).chopped(1));
        const bool bare = first.size() >= 4 && IsHex(first) && tokens[at + 1].size() == 2 && IsHex(tokens[at + 1]);
        if (colon || bare) {
            parsed.offset = true;
            ++at;
        }
    }
    takeDirection();
    for (; at < tokens.size(); ++at) {
        QStringView token = tokens[at];
        if (token.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
            token = token.mid(2);
        if (IsHex(token) && token.size() % 2 == 0) {
            AppendHexBytes(token, parsed.bytes);
            continue;
        }
        // After an offset, the first word that is not hex bytes starts the
        // dump's ASCII column.
        if (!parsed.offset)
            problems << QStringLiteral("line %1: \"%2\" is not hex bytes").arg(number).arg(tokens[at]);
        break;
    }
    if (parsed.offset)
        DropAsciiColumn(line, parsed.bytes);
    return parsed;
}


// Raw frames hold control bytes (the length's high byte is mostly 0) and
// their preamble, which is no text in any encoding.
bool IsBinary(const QByteArray& start)
{
    for (const char c : start) {
        const auto b = static_cast<uint8_t>(c);
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\r')
            return true;
    }
    return start.contains("\xAA\xAA\xAA");
}

QString WithoutLineEnd(QByteArray bytes)
{
    while (bytes.endsWith('\n') || bytes.endsWith('\r'))
        bytes.chop(1);
    return QString::fromLatin1(bytes);
}

// The whole lines of the input's start (its last line may be cut: it is left
// out), without a byte order mark.
QStringList StartLines(const QByteArray& start)
{
    QByteArray text = start.startsWith("\xEF\xBB\xBF") ? start.mid(3) : start;
    if (!text.endsWith('\n'))
        text.truncate(text.lastIndexOf('\n') + 1);
    QStringList lines;
    for (const QByteArray& line : text.split('\n'))
        lines.append(WithoutLineEnd(line));
    return lines;
}

TCaptureFormat Detect(const QByteArray& start)
{
    if (IsPcapStart(start))
        return TCaptureFormat::Pcap;
    if (IsBinary(start))
        return TCaptureFormat::Binary;
    QStringList lines = StartLines(start);
    if (lines.isEmpty() || (lines.size() == 1 && lines.front().isEmpty()))
        lines = QStringList{WithoutLineEnd(start.startsWith("\xEF\xBB\xBF") ? start.mid(3) : start)};
    for (const QString& line : lines) {
        if (line.trimmed().isEmpty())
            continue;
        if (IsPacketLogHeader(line))
            return TCaptureFormat::Csv;
        if (CandumpLog().match(line).hasMatch() || CandumpScreen().match(line).hasMatch())
            return TCaptureFormat::Candump;
        return TCaptureFormat::Hex;
    }
    return TCaptureFormat::Hex;
}

// Calls `take(line, number, piece)` for every line of the input without its
// line end: `piece` is 0 for a line of at most MaxLineBytes, and 1, 2, ...
// for the pieces of a longer one, so no line is ever held whole.
template <typename TTake>
void ForEachLine(QIODevice& in, TTake take)
{
    int number = 0;
    int piece = 0;
    bool continuing = false;
    while (!in.atEnd()) {
        const QByteArray bytes = in.readLine(MaxLineBytes);
        if (bytes.isEmpty())
            break;
        const bool cut = !bytes.endsWith('\n') && bytes.size() >= MaxLineBytes - 1;
        if (!continuing)
            ++number;
        piece = cut || continuing ? piece + 1 : 0;
        continuing = cut;
        QString line = WithoutLineEnd(bytes);
        if (number == 1 && piece <= 1 && line.startsWith(QLatin1String("\xEF\xBB\xBF")))
            line.remove(0, 3);
        take(line, number, piece);
    }
}

// Bytes of hex digits spread over the pieces of a long line: digits pair up
// across the pieces' borders; blanks part bytes.
class THexPieces {
public:
    void Add(QStringView text, int number, TByteArray& bytes, TCaptureSink& sink)
    {
        for (const QChar c : text) {
            const int digit = c.unicode() < 128 && isxdigit(c.toLatin1()) ? QStringView(&c, 1).toInt(nullptr, 16) : -1;
            if (digit >= 0) {
                if (FHigh < 0) {
                    FHigh = digit;
                } else {
                    bytes.push_back(static_cast<uint8_t>(FHigh << 4 | digit));
                    FHigh = -1;
                }
            } else if (c.isSpace() || c == QLatin1Char(',') || c == QLatin1Char(';')) {
                Odd(number, sink);
            } else if (!FBadReported) {
                FBadReported = true;
                sink.Problem(QStringLiteral("line %1: \"%2\" is not hex bytes").arg(number).arg(c));
            }
        }
    }
    // The line has ended.
    void End(int number, TCaptureSink& sink)
    {
        Odd(number, sink);
        FBadReported = false;
    }

private:
    void Odd(int number, TCaptureSink& sink)
    {
        if (FHigh >= 0 && !FBadReported) {
            FBadReported = true;
            sink.Problem(QStringLiteral("line %1: odd number of hex digits").arg(number));
        }
        FHigh = -1;
    }

    int FHigh = -1;
    bool FBadReported = false;
};

QString StreamName(std::optional<bool> received)
{
    return received ? (*received ? QStringLiteral("RX") : QStringLiteral("TX")) : QStringLiteral("bytes");
}

bool IsCommentLine(const QString& line)
{
    const QString trimmed = line.trimmed();
    return trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')) || trimmed.startsWith(QLatin1String("//"));
}

void ReadHex(QIODevice& in, const QByteArray& start, TCaptureSink& sink)
{
    // A stream's hex dump as Wireshark follows it indents the server's
    // lines: the gripper's answers.
    bool indented = false;
    bool flush = false;
    QStringList ignored;
    for (const QString& line : StartLines(start)) {
        if (IsCommentLine(line))
            continue;
        const THexLine parsed = ParseHexLine(line, 0, ignored);
        if (!parsed.received && parsed.offset)
            (parsed.indented ? indented : flush) = true;
    }
    const bool byIndent = indented && flush;
    THexPieces pieces;
    bool inLongLine = false;
    int longNumber = 0;
    std::optional<bool> longDirection;
    ForEachLine(in, [&](const QString& line, int number, int piece) {
        if (piece == 0) {
            if (inLongLine)
                pieces.End(longNumber, sink);
            inLongLine = false;
            if (IsCommentLine(line))
                return;
            QStringList problems;
            const THexLine parsed = ParseHexLine(line, number, problems);
            for (const QString& problem : problems)
                sink.Problem(problem);
            std::optional<bool> received = parsed.received;
            if (!received && byIndent && parsed.offset)
                received = parsed.indented;
            sink.Bytes(StreamName(received), received, parsed.bytes.data(), parsed.bytes.size(), number, std::nullopt);
            return;
        }
        // A line too long for a dump: plain hex bytes after a direction word.
        QStringView text(line);
        if (piece == 1) {
            inLongLine = true;
            longNumber = number;
            const QString first = line.section(QRegularExpression(QStringLiteral("\\s+")), 0, 0, QString::SectionSkipEmpty);
            longDirection = DirectionWord(first);
            if (longDirection)
                text = text.mid(line.indexOf(first) + first.size());
        }
        TByteArray bytes;
        pieces.Add(text, number, bytes, sink);
        sink.Bytes(StreamName(longDirection), longDirection, bytes.data(), bytes.size(), number, std::nullopt);
    });
    if (inLongLine)
        pieces.End(longNumber, sink);
}

// A candump time stamp ("1712345678.123456") in microseconds.
std::optional<qint64> CandumpTime(const QString& text)
{
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    bool ok = false;
    const qint64 seconds = text.left(dot < 0 ? text.size() : dot).toLongLong(&ok);
    if (!ok || seconds < 0 || seconds > (qint64(1) << 40))
        return std::nullopt;
    qint64 micro = 0;
    if (dot >= 0) {
        const QString fraction = text.mid(dot + 1).left(6).leftJustified(6, QLatin1Char('0'));
        micro = fraction.toLongLong(&ok);
        if (!ok || micro < 0)
            return std::nullopt;
    }
    return seconds * 1000000 + micro;
}

struct TCanFrame {
    int id = 0;
    QString data; // hex digits
    QString time;
};

// One candump line as a frame; nothing (with `problem` set, or empty for a
// remote frame) when it carries no data.
std::optional<TCanFrame> CandumpFrame(const QString& line, int number, QString& problem)
{
    TCanFrame frame;
    if (const auto log = CandumpLog().match(line); log.hasMatch()) {
        frame.time = log.captured(1);
        frame.id = static_cast<int>(log.captured(3).toUInt(nullptr, 16));
        frame.data = log.captured(5);
        if (frame.data.startsWith(QLatin1Char('R')))
            return std::nullopt; // a remote request carries no data
        frame.data.remove(QLatin1Char('.'));
        if (frame.data.size() % 2 != 0) {
            problem = QStringLiteral("line %1: odd number of hex digits").arg(number);
            return std::nullopt;
        }
        return frame;
    }
    if (const auto screen = CandumpScreen().match(line); screen.hasMatch()) {
        frame.time = screen.captured(1);
        frame.id = static_cast<int>(screen.captured(3).toUInt(nullptr, 16));
        if (screen.captured(6).contains(QLatin1String("remote"), Qt::CaseInsensitive))
            return std::nullopt;
        frame.data = screen.captured(5).remove(QRegularExpression(QStringLiteral("\\s")));
        if (frame.data.size() / 2 != screen.captured(4).toInt()) {
            problem = QStringLiteral("line %1: %2 data bytes, the frame says %3")
                          .arg(number).arg(frame.data.size() / 2).arg(screen.captured(4));
            return std::nullopt;
        }
        return frame;
    }
    problem = QStringLiteral("line %1: not a candump line").arg(number);
    return std::nullopt;
}

QString CanIdText(int id) { return QStringLiteral("0x") + QString::number(id, 16).toUpper().rightJustified(3, u'0'); }

void ReadCandump(QIODevice& in, const QByteArray& start, std::optional<int> canId, TCaptureSink& sink)
{
    int gripper = canId.value_or(DefaultCanId);
    if (!canId) {
        std::set<int> ids;
        QString ignored;
        for (const QString& line : StartLines(start))
            if (const auto frame = CandumpFrame(line, 0, ignored))
                ids.insert(frame->id);
        if (!ids.count(DefaultCanId) && !ids.count(DefaultCanId + 1))
            for (const int id : ids)
                if (ids.count(id + 1)) {
                    gripper = id;
                    break;
                }
    }
    bool matched = false;
    ForEachLine(in, [&](const QString& line, int number, int piece) {
        if (piece > 1 || line.trimmed().isEmpty())
            return;
        if (piece == 1) {
            sink.Problem(QStringLiteral("line %1: longer than %2 characters, not a candump line").arg(number).arg(MaxLineBytes));
            return;
        }
        QString problem;
        const std::optional<TCanFrame> frame = CandumpFrame(line, number, problem);
        if (!problem.isEmpty())
            sink.Problem(problem);
        if (!frame)
            return;
        TByteArray bytes;
        AppendHexBytes(frame->data, bytes);
        const bool request = frame->id == gripper;
        const bool answer = frame->id == gripper + 1;
        matched = matched || request || answer;
        const QString name = request ? QStringLiteral("TX") : answer ? QStringLiteral("RX") : QStringLiteral("id ") + CanIdText(frame->id);
        const std::optional<bool> received = request || answer ? std::optional<bool>(answer) : std::nullopt;
        sink.Bytes(name, received, bytes.data(), bytes.size(), number, CandumpTime(frame->time));
    });
    if (canId && !matched)
        sink.Problem(QStringLiteral("--can-id %1: no CAN frame has the identifier %2 or its answers' %3")
                         .arg(*canId).arg(CanIdText(*canId), CanIdText(*canId + 1)));
}

void ReadBinary(QIODevice& in, TCaptureSink& sink)
{
    while (!in.atEnd()) {
        const QByteArray piece = in.read(LookAheadBytes);
        if (piece.isEmpty())
            break;
        sink.Bytes(QStringLiteral("bytes"), std::nullopt, reinterpret_cast<const uint8_t*>(piece.constData()),
                   static_cast<size_t>(piece.size()), 0, std::nullopt);
    }
}

// The device as a C stream, for libpcap; closing the stream leaves the
// device open.
std::FILE* CStream(QIODevice& in)
{
    cookie_io_functions_t functions{};
    functions.read = [](void* cookie, char* buffer, size_t size) -> ssize_t {
        const qint64 got = static_cast<QIODevice*>(cookie)->read(buffer, static_cast<qint64>(size));
        return got < 0 ? -1 : static_cast<ssize_t>(got);
    };
    return fopencookie(&in, "r", functions);
}

} // namespace

QString CaptureFormatName(TCaptureFormat format)
{
    for (const TFormatName& entry : FormatNames)
        if (entry.format == format)
            return QLatin1String(entry.name);
    return {};
}

std::optional<TCaptureFormat> CaptureFormatNamed(const QString& name)
{
    for (const TFormatName& entry : FormatNames)
        if (name == QLatin1String(entry.name))
            return entry.format;
    return std::nullopt;
}

bool ReadCapture(QIODevice& input, TCaptureFormat& format, std::optional<int> canId, TCaptureSink& sink, QString& error)
{
    const QByteArray start = input.peek(LookAheadBytes);
    if (format == TCaptureFormat::Auto)
        format = Detect(start);
    switch (format) {
    case TCaptureFormat::Binary:
    case TCaptureFormat::Auto:
        ReadBinary(input, sink);
        return true;
    case TCaptureFormat::Hex:
        ReadHex(input, start, sink);
        return true;
    case TCaptureFormat::Candump:
        ReadCandump(input, start, canId, sink);
        return true;
    case TCaptureFormat::Csv:
        return ReadPacketLogRows(input, [&sink](TLogRecord&& record, int line) {
            sink.Record(std::move(record), line);
            return true;
        }, error);
    case TCaptureFormat::Pcap: {
        std::FILE* stream = CStream(input);
        if (!stream) {
            error = QStringLiteral("cannot read the capture");
            return false;
        }
        return ReadPcap(stream, sink, error);
    }
    }
    return false;
}
