#include "CaptureInput.h"

#include <QBuffer>
#include <QRegularExpression>

#include <algorithm>
#include <map>
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
                                       {TCaptureFormat::Candump, "candump"}};

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

// Raw frames hold control bytes (the length's high byte is mostly 0) and
// their preamble, which is no text in any encoding.
bool IsBinary(const QByteArray& input)
{
    for (const char c : input) {
        const auto b = static_cast<uint8_t>(c);
        if (b < 0x20 && b != '\t' && b != '\n' && b != '\r')
            return true;
    }
    return input.contains("\xAA\xAA\xAA");
}

QStringList Lines(const QByteArray& input)
{
    QString text = QString::fromLatin1(input);
    if (text.startsWith(QLatin1String("\xEF\xBB\xBF")))
        text.remove(0, 3);
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    return lines;
}

TCaptureFormat Detect(const QByteArray& input)
{
    const QByteArray bom("\xEF\xBB\xBF");
    const QByteArray text = input.startsWith(bom) ? input.mid(3) : input;
    if (IsBinary(text))
        return TCaptureFormat::Binary;
    for (const QString& line : Lines(text)) {
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

// The stream of a direction (or of none), made on first use.
class TStreams {
public:
    TCaptureStream& Of(const QString& name, std::optional<bool> received)
    {
        const auto known = FIndex.find(name);
        if (known != FIndex.end())
            return FStreams[known->second];
        FIndex[name] = FStreams.size();
        FStreams.push_back({name, received, {}, {}, {}});
        return FStreams.back();
    }
    std::vector<TCaptureStream> Take() { return std::move(FStreams); }

private:
    std::map<QString, size_t> FIndex;
    std::vector<TCaptureStream> FStreams;
};

void Append(TCaptureStream& stream, const TByteArray& bytes, int line, const QString& time = {})
{
    stream.bytes.insert(stream.bytes.end(), bytes.begin(), bytes.end());
    stream.lines.insert(stream.lines.end(), bytes.size(), line);
    if (!time.isEmpty())
        stream.times.insert(stream.times.end(), bytes.size(), time);
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

void ReadHex(const QByteArray& input, TCapture& capture)
{
    std::vector<THexLine> lines;
    int number = 0;
    for (const QString& line : Lines(input)) {
        ++number;
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#')) || trimmed.startsWith(QLatin1String("//")))
            continue;
        lines.push_back(ParseHexLine(line, number, capture.problems));
    }
    // A stream's hex dump as Wireshark follows it indents the server's
    // lines: the gripper's answers.
    const auto undirectedDump = [](bool indented) {
        return [indented](const THexLine& l) { return !l.received && l.offset && l.indented == indented; };
    };
    const bool byIndent = std::any_of(lines.begin(), lines.end(), undirectedDump(true))
        && std::any_of(lines.begin(), lines.end(), undirectedDump(false));
    TStreams streams;
    for (const THexLine& line : lines) {
        std::optional<bool> received = line.received;
        if (!received && byIndent && line.offset)
            received = line.indented;
        const QString name = received ? (*received ? QStringLiteral("RX") : QStringLiteral("TX")) : QStringLiteral("bytes");
        Append(streams.Of(name, received), line.bytes, line.number);
    }
    capture.streams = streams.Take();
}

void ReadCandump(const QByteArray& input, std::optional<int> canId, TCapture& capture)
{
    struct TFrame {
        int id;
        TByteArray bytes;
        int line;
        QString time;
    };
    std::vector<TFrame> frames;
    std::set<int> ids;
    int number = 0;
    for (const QString& line : Lines(input)) {
        ++number;
        if (line.trimmed().isEmpty())
            continue;
        TFrame frame{0, {}, number, {}};
        QString data;
        if (const auto log = CandumpLog().match(line); log.hasMatch()) {
            frame.time = log.captured(1);
            frame.id = static_cast<int>(log.captured(3).toUInt(nullptr, 16));
            data = log.captured(5);
            if (data.startsWith(QLatin1Char('R')))
                continue; // a remote request carries no data
            data.remove(QLatin1Char('.'));
            if (data.size() % 2 != 0) {
                capture.problems << QStringLiteral("line %1: odd number of hex digits").arg(number);
                continue;
            }
        } else if (const auto screen = CandumpScreen().match(line); screen.hasMatch()) {
            frame.time = screen.captured(1);
            frame.id = static_cast<int>(screen.captured(3).toUInt(nullptr, 16));
            if (screen.captured(6).contains(QLatin1String("remote"), Qt::CaseInsensitive))
                continue;
            data = screen.captured(5).remove(QRegularExpression(QStringLiteral("\\s")));
            if (data.size() / 2 != screen.captured(4).toInt()) {
                capture.problems << QStringLiteral("line %1: %2 data bytes, the frame says %3")
                                        .arg(number).arg(data.size() / 2).arg(screen.captured(4));
                continue;
            }
        } else {
            capture.problems << QStringLiteral("line %1: not a candump line").arg(number);
            continue;
        }
        AppendHexBytes(data, frame.bytes);
        ids.insert(frame.id);
        frames.push_back(std::move(frame));
    }
    int gripper = canId.value_or(DefaultCanId);
    if (!canId && !ids.count(DefaultCanId) && !ids.count(DefaultCanId + 1))
        for (const int id : ids)
            if (ids.count(id + 1)) {
                gripper = id;
                break;
            }
    TStreams streams;
    for (const TFrame& frame : frames) {
        const QString other = QStringLiteral("id 0x") + QString::number(frame.id, 16).toUpper().rightJustified(3, u'0');
        TCaptureStream& stream = frame.id == gripper ? streams.Of(QStringLiteral("TX"), false)
            : frame.id == gripper + 1                ? streams.Of(QStringLiteral("RX"), true)
                                                     : streams.Of(other, std::nullopt);
        Append(stream, frame.bytes, frame.line, frame.time);
    }
    capture.streams = streams.Take();
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

bool ReadCapture(const QByteArray& input, TCaptureFormat format, std::optional<int> canId, TCapture& capture,
                 QString& error)
{
    capture = {};
    capture.format = format == TCaptureFormat::Auto ? Detect(input) : format;
    switch (capture.format) {
    case TCaptureFormat::Binary:
    case TCaptureFormat::Auto: {
        TCaptureStream stream{QStringLiteral("bytes"), std::nullopt, TByteArray(input.begin(), input.end()), {}, {}};
        capture.streams.push_back(std::move(stream));
        return true;
    }
    case TCaptureFormat::Hex:
        ReadHex(input, capture);
        return true;
    case TCaptureFormat::Candump:
        ReadCandump(input, canId, capture);
        return true;
    case TCaptureFormat::Csv: {
        QBuffer buffer;
        buffer.setData(input);
        buffer.open(QIODevice::ReadOnly);
        return ReadPacketLog(buffer, capture.records, error);
    }
    }
    return false;
}
