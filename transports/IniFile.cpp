#include "IniFile.h"

#include "IntegerLiteral.h"
#include "RegularFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

QByteArrayView Trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && IsBlank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && IsBlank(text.back()))
        text.chop(1);
    return text;
}

// UTF-8 where the bytes are valid UTF-8, Latin-1 otherwise. A byte order
// mark inside a name or value is kept as a character: only the file's first
// one is skipped (by Text), so what is written reads back the same.
QString Decode(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

bool IsAscii(QByteArrayView bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool SameName(QByteArrayView bytes, const QString& name)
{
    // Names are mostly ASCII, and a large file has many of them: compare
    // those without decoding.
    if (IsAscii(bytes))
        return QLatin1StringView(bytes.data(), bytes.size()).compare(name, Qt::CaseInsensitive) == 0;
    return Decode(bytes).compare(name, Qt::CaseInsensitive) == 0;
}

// The name inside a "[name]" line, or nothing for other lines.
std::optional<QByteArrayView> SectionOf(QByteArrayView text)
{
    text = Trimmed(text);
    if (text.size() < 2 || text.front() != '[' || text.back() != ']')
        return std::nullopt;
    return Trimmed(text.sliced(1, text.size() - 2));
}

bool IsComment(QByteArrayView text)
{
    text = Trimmed(text);
    return !text.isEmpty() && (text.front() == ';' || text.front() == '#');
}

bool HasLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

// Where the value of a "key=value" line lies in its text: the bytes after
// the '=' without the surrounding blanks.
std::pair<qsizetype, qsizetype> ValueRange(QByteArrayView text)
{
    qsizetype from = text.indexOf('=') + 1;
    qsizetype to = text.size();
    while (from < to && IsBlank(text[from]))
        ++from;
    while (to > from && IsBlank(text[to - 1]))
        --to;
    return {from, to};
}

// Why SetValues refused `values`: the first one a file line cannot hold.
QString RefusalOf(const QString& section, const TIniValues& values)
{
    for (const auto& [key, value] : values) {
        if (TIniText().SetValue(section, key, value) == TIniText::TSetResult::Refused)
            return QStringLiteral("the value of \"%1\" cannot be stored in the file").arg(key);
    }
    return QStringLiteral("the values cannot be stored in the file");
}

} // namespace

TIniText::TIniText(QByteArray bytes)
    : FBytes(std::move(bytes))
{
}

TIniText::TIniText(QByteArray bytes, bool startsFile)
    : FBytes(std::move(bytes)), FStartsFile(startsFile)
{
}

TIniText::TLine TIniText::LineAt(qsizetype start) const
{
    const char* data = FBytes.constData();
    const qsizetype size = FBytes.size();
    qsizetype end = start;
    while (end < size && data[end] != '\n' && data[end] != '\r')
        ++end;
    qsizetype next = end;
    if (next < size)
        next += (data[next] == '\r' && next + 1 < size && data[next + 1] == '\n') ? 2 : 1;
    return {start, end, next};
}

TIniText::TLine TIniText::LastLine() const
{
    qsizetype end = FBytes.size();
    if (FBytes.endsWith("\r\n"))
        end -= 2;
    else if (FBytes.endsWith('\n') || FBytes.endsWith('\r'))
        end -= 1;
    qsizetype start = end;
    while (start > 0 && FBytes[start - 1] != '\n' && FBytes[start - 1] != '\r')
        --start;
    return {start, end, FBytes.size()};
}

QByteArrayView TIniText::Text(const TLine& line) const
{
    QByteArrayView text(FBytes.constData() + line.start, line.end - line.start);
    // Editors on some systems start the file with a byte order mark.
    if (FStartsFile && line.start == 0 && text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    return text;
}

std::optional<qsizetype> TIniText::NextBracketLine(qsizetype from) const
{
    const QByteArrayView bytes(FBytes);
    for (qsizetype bracket = bytes.indexOf('[', from); bracket >= 0; bracket = bytes.indexOf('[', bracket + 1)) {
        qsizetype start = bracket;
        while (start > from && IsBlank(bytes[start - 1]))
            --start;
        if (start == from || bytes[start - 1] == '\n' || bytes[start - 1] == '\r')
            return start;
        if (FStartsFile && from == 0 && start == 3 && bytes.startsWith("\xEF\xBB\xBF"))
            return 0;
    }
    return std::nullopt;
}

template <typename TVisit>
void TIniText::ForEachLineOf(const QString& section, bool& inSection, TVisit visit) const
{
    const QString wanted = section.trimmed();
    for (qsizetype at = 0; at < FBytes.size();) {
        if (!inSection) {
            // Outside the section only its next header matters.
            const std::optional<qsizetype> header = NextBracketLine(at);
            if (!header)
                return;
            at = *header;
        }
        const TLine line = LineAt(at);
        at = line.next;
        if (const auto name = SectionOf(Text(line))) {
            inSection = SameName(*name, wanted);
            if (inSection)
                visit(line, true);
        } else if (inSection) {
            visit(line, false);
        }
    }
}

TIniText::TSectionLines TIniText::Locate(const QString& section) const
{
    TSectionLines lines;
    bool inSection = false;
    ForEachLineOf(section, inSection, [&](const TLine& line, bool isHeader) {
        if (isHeader) {
            if (!lines.lastInSection)
                lines.lastInSection = line;
            return;
        }
        const QByteArrayView text = Text(line);
        if (Trimmed(text).isEmpty())
            return;
        lines.lastInSection = line;
        if (!IsComment(text) && text.contains('='))
            lines.keys.push_back(line);
    });
    return lines;
}

void TIniText::AppendLinesOf(const QString& section, bool& inSection, QByteArray& parts) const
{
    ForEachLineOf(section, inSection, [&](const TLine& line, bool) {
        parts.append(QByteArrayView(FBytes).sliced(line.start, line.next - line.start));
    });
}

std::optional<TIniText::TLine> TIniText::KeyLine(const QList<TLine>& lines, const QString& key) const
{
    for (const TLine& line : lines) {
        const QByteArrayView text = Text(line);
        if (SameName(Trimmed(text.first(text.indexOf('='))), key))
            return line;
    }
    return std::nullopt;
}

std::pair<qsizetype, qsizetype> TIniText::ValueAt(const TLine& line) const
{
    const QByteArrayView text = Text(line);
    const qsizetype offset = text.data() - FBytes.constData();
    const auto [from, to] = ValueRange(text);
    return {offset + from, offset + to};
}

TIniSection TIniText::Section(const QString& section) const
{
    TIniSection found;
    for (const TLine& line : Locate(section).keys) {
        const QByteArrayView text = Text(line);
        const auto [from, to] = ValueAt(line);
        found.FEntries.emplace_back(Trimmed(text.first(text.indexOf('='))).toByteArray(), FBytes.sliced(from, to - from));
    }
    return found;
}

std::optional<QString> TIniText::Value(const QString& section, const QString& key) const
{
    return Section(section).Value(key);
}

QString TIniText::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    return Section(section).ReadString(key, defaultValue);
}

int32_t TIniText::ReadInteger(const QString& section, const QString& key, int32_t defaultValue) const
{
    return Section(section).ReadInteger(key, defaultValue);
}

std::optional<QString> TIniSection::Value(const QString& key) const
{
    const QString wanted = key.trimmed();
    for (const auto& [name, value] : FEntries) {
        if (SameName(name, wanted))
            return Decode(value).left(TIniText::MaxStringLength);
    }
    return std::nullopt;
}

QString TIniSection::ReadString(const QString& key, const QString& defaultValue) const
{
    return Value(key).value_or(defaultValue);
}

int32_t TIniSection::ReadInteger(const QString& key, int32_t defaultValue) const
{
    const std::optional<QString> text = Value(key);
    return text ? ParseIntegerLiteral(*text).value_or(defaultValue) : defaultValue;
}

QByteArray TIniText::LineEnd() const
{
    // The last line end of the file: a "\n" after a lone CR there would
    // merge with it into one CR LF.
    qsizetype at = FBytes.size() - 1;
    while (at >= 0 && FBytes[at] != '\n' && FBytes[at] != '\r')
        --at;
    if (at < 0)
        return QByteArrayLiteral("\n");
    if (FBytes[at] == '\n' && at > 0 && FBytes[at - 1] == '\r')
        return QByteArrayLiteral("\r\n");
    return FBytes.sliced(at, 1);
}

QByteArray TIniText::OpenLastLine() const
{
    return !FBytes.isEmpty() && !FBytes.endsWith('\n') && !FBytes.endsWith('\r') ? LineEnd() : QByteArray();
}

TIniText::TSetResult TIniText::SetValue(const QString& section, const QString& key, const QString& value)
{
    return SetValues(section, {{key, value}});
}

TIniText::TSetResult TIniText::SetValues(const QString& section, const TIniValues& values)
{
    const QString sectionName = section.trimmed();
    if (HasLineBreak(section) || sectionName.contains(QLatin1Char('[')) || sectionName.contains(QLatin1Char(']')))
        return TSetResult::Refused;
    // One entry per key; a key given again takes the later value.
    TIniValues entries;
    for (const auto& [key, value] : values) {
        const QString name = key.trimmed();
        if (name.isEmpty() || name.contains(QLatin1Char('=')) || name.startsWith(QLatin1Char('['))
            || name.startsWith(QLatin1Char(';')) || name.startsWith(QLatin1Char('#')) || HasLineBreak(key)
            || HasLineBreak(value))
            return TSetResult::Refused;
        const auto same = std::find_if(entries.begin(), entries.end(),
            [&name](const auto& entry) { return entry.first.compare(name, Qt::CaseInsensitive) == 0; });
        if (same != entries.end())
            same->second = value;
        else
            entries.emplace_back(name, value);
    }

    // The changes as byte ranges of the file and their new bytes.
    struct TEdit {
        qsizetype at;
        qsizetype length;
        QByteArray bytes;
    };
    QList<TEdit> edits;
    QList<QByteArray> newLines;
    const TSectionLines lines = Locate(sectionName);
    for (const auto& [name, value] : entries) {
        if (const std::optional<TLine> line = KeyLine(lines.keys, name)) {
            const auto [from, to] = ValueAt(*line);
            if (Decode(QByteArrayView(FBytes).sliced(from, to - from)) != value)
                edits.push_back({from, to - from, value.toUtf8()});
        } else {
            newLines.push_back(name.toUtf8() + '=' + value.toUtf8());
        }
    }
    if (edits.isEmpty() && newLines.isEmpty())
        return TSetResult::Unchanged;

    if (!newLines.isEmpty()) {
        QByteArray eol = LineEnd();
        QByteArray block;
        qsizetype at = FBytes.size();
        if (lines.lastInSection && lines.lastInSection->next < FBytes.size()) {
            at = lines.lastInSection->next;
            // A lone CR before an LF would read as one CR LF line end.
            if (eol == "\r" && FBytes[at] == '\n')
                eol = QByteArrayLiteral("\r\n");
        } else if (lines.lastInSection) {
            block = OpenLastLine();
        } else {
            block = OpenLastLine();
            if (!FBytes.isEmpty() && !Trimmed(Text(LastLine())).isEmpty())
                block += eol;
            block += '[' + sectionName.toUtf8() + ']' + eol;
        }
        for (const QByteArray& line : newLines)
            block += line + eol;
        edits.push_back({at, 0, block});
    }

    // The new bytes in one copy: a large file is not moved once per change.
    std::sort(edits.begin(), edits.end(), [](const TEdit& a, const TEdit& b) { return a.at < b.at; });
    qsizetype size = FBytes.size();
    for (const TEdit& edit : edits)
        size += edit.bytes.size() - edit.length;
    QByteArray changed;
    changed.reserve(size);
    qsizetype copied = 0;
    for (const TEdit& edit : edits) {
        changed.append(QByteArrayView(FBytes).sliced(copied, edit.at - copied)).append(edit.bytes);
        copied = edit.at + edit.length;
    }
    changed.append(QByteArrayView(FBytes).sliced(copied));
    FBytes = std::move(changed);
    return TSetResult::Changed;
}

TIniFile::TIniFile(QString fileName)
    : FFileName(std::move(fileName))
{
}

QString TIniFile::Problem() const
{
    return FFileName.isEmpty() ? QString() : CheckRegularFile(FFileName).Problem;
}

std::optional<TIniText> TIniFile::Load() const
{
    QString error;
    return Load(error);
}

std::optional<TIniText> TIniFile::Load(QString& error) const
{
    if (FFileName.isEmpty())
        return TIniText();
    QFile file;
    switch (OpenRegularFile(FFileName, file, QIODevice::ReadOnly, error)) {
    case TOpenResult::Missing:
        return TIniText();
    case TOpenResult::Unusable:
        return std::nullopt;
    case TOpenResult::Open:
        break;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return std::nullopt;
    }
    return TIniText(std::move(bytes));
}

std::optional<TIniText> TIniFile::LoadSection(const QString& section, QString& error) const
{
    if (FFileName.isEmpty())
        return TIniText();
    QFile file;
    switch (OpenRegularFile(FFileName, file, QIODevice::ReadOnly | QIODevice::Unbuffered, error)) {
    case TOpenResult::Missing:
        return TIniText();
    case TOpenResult::Unusable:
        return std::nullopt;
    case TOpenResult::Open:
        break;
    }
    constexpr qsizetype ChunkSize = 1 << 16;
    QByteArray buffer; // whole lines not yet looked at, then the bytes just read
    qsizetype filled = 0;
    QByteArray parts;
    bool inSection = false;
    bool startsFile = true;
    for (bool atEnd = false; !atEnd;) {
        if (buffer.size() < filled + ChunkSize)
            buffer.resize(filled + ChunkSize);
        const qint64 read = file.read(buffer.data() + filled, ChunkSize);
        if (read < 0) {
            error = file.errorString();
            return std::nullopt;
        }
        atEnd = read == 0;
        // The unfinished line kept from before has no line break but perhaps
        // a CR at its end, held back as the first half of a CR LF.
        const qsizetype searchFrom = std::max<qsizetype>(filled - 1, 0);
        filled += read;
        qsizetype whole = filled;
        if (!atEnd) {
            qsizetype at = filled;
            if (buffer[at - 1] == '\r')
                --at;
            while (at > searchFrom && buffer[at - 1] != '\n' && buffer[at - 1] != '\r')
                --at;
            whole = at > searchFrom ? at : 0;
        }
        TIniText(QByteArray::fromRawData(buffer.constData(), whole), startsFile)
            .AppendLinesOf(section, inSection, parts);
        startsFile = startsFile && whole == 0;
        std::memmove(buffer.data(), buffer.constData() + whole, filled - whole);
        filled -= whole;
    }
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return std::nullopt;
    }
    return TIniText(std::move(parts));
}

std::optional<TIniSection> TIniFile::ReadSection(const QString& section) const
{
    QString error;
    const std::optional<TIniText> text = LoadSection(section, error);
    return text ? std::optional(text->Section(section)) : std::nullopt;
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const std::optional<TIniSection> values = ReadSection(section);
    return values ? values->ReadString(key, defaultValue) : defaultValue;
}

int32_t TIniFile::ReadInteger(const QString& section, const QString& key, int32_t defaultValue) const
{
    const std::optional<TIniSection> values = ReadSection(section);
    return values ? values->ReadInteger(key, defaultValue) : defaultValue;
}

bool TIniFile::Write(const QString& section, const TIniValues& values)
{
    FError.clear();
    if (FFileName.isEmpty())
        return true;
    // Writing what could not be read would lose the rest of the file.
    const auto unreadable = [this](const QString& cause) {
        FError = QStringLiteral("the file exists but cannot be read (%1)").arg(cause);
        return false;
    };
    if (const TPathCheck check = CheckRegularFile(FFileName); !check.Problem.isEmpty()) {
        FError = check.Problem;
        return false;
    }
    // Whether anything changes shows in the section's own lines, which are
    // read without holding the whole file.
    QString error;
    std::optional<TIniText> text = LoadSection(section, error);
    if (!text)
        return unreadable(error);
    switch (text->SetValues(section, values)) {
    case TIniText::TSetResult::Refused:
        FError = RefusalOf(section, values);
        return false;
    case TIniText::TSetResult::Unchanged:
        return true;
    case TIniText::TSetResult::Changed:
        break;
    }
    text = Load(error);
    if (!text)
        return unreadable(error);
    // Not refused, as the values are the same; unchanged only when the
    // file was changed to these values in the meantime.
    if (text->SetValues(section, values) != TIniText::TSetResult::Changed)
        return true;

    // A link stays a link: its target, a regular file, is replaced.
    const TPathCheck check = CheckRegularFile(FFileName);
    if (!check.Problem.isEmpty()) {
        FError = check.Problem;
        return false;
    }
    const QString target = check.Link ? QFileInfo(FFileName).canonicalFilePath() : FFileName;
    if (!check.Missing && !MayReplaceRegularFile(target, FError))
        return false;
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly) || file.write(text->Bytes()) != text->Bytes().size() || !file.commit()) {
        FError = file.errorString();
        return false;
    }
    return true;
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    return Write(section, {{key, value}});
}

bool TIniFile::WriteInteger(const QString& section, const QString& key, int32_t value)
{
    return WriteString(section, key, QString::number(value));
}
