#include "IniFile.h"

#include "IntegerLiteral.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

#include <algorithm>
#include <optional>

namespace {

QString& FolderOverride()
{
    static QString folder;
    return folder;
}

bool IsWritableFolder(const QString& folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

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

// UTF-8 where the bytes are valid UTF-8, Latin-1 otherwise.
QString Decode(QByteArrayView bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
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

} // namespace

QString SettingsFolder()
{
    const QString preferred =
        FolderOverride().isEmpty() ? QCoreApplication::applicationDirPath() : FolderOverride();
    if (IsWritableFolder(preferred))
        return preferred;
    const QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(fallback);
    return fallback;
}

QString SettingsFilePath(const QString& fileName)
{
    return QDir(SettingsFolder()).filePath(fileName);
}

void SetSettingsFolderOverride(const QString& folder)
{
    FolderOverride() = folder;
}

TIniText::TIniText(QByteArray bytes)
    : FBytes(std::move(bytes))
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
    if (line.start == 0 && text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    return text;
}

TIniText::TLocation TIniText::Locate(const QString& section, const QString& key) const
{
    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    TLocation location;
    bool inSection = false;
    for (qsizetype at = 0; at < FBytes.size();) {
        const TLine line = LineAt(at);
        at = line.next;
        const QByteArrayView text = Text(line);
        if (const auto name = SectionOf(text)) {
            inSection = SameName(*name, wantedSection);
            if (inSection && !location.lastInSection)
                location.lastInSection = line;
            continue;
        }
        if (!inSection || Trimmed(text).isEmpty())
            continue;
        location.lastInSection = line;
        if (location.key || IsComment(text))
            continue;
        const qsizetype equals = text.indexOf('=');
        if (equals >= 0 && SameName(Trimmed(text.first(equals)), wantedKey))
            location.key = line;
    }
    return location;
}

std::optional<QString> TIniText::Value(const QString& section, const QString& key) const
{
    const std::optional<TLine> line = Locate(section, key).key;
    if (!line)
        return std::nullopt;
    const QByteArrayView text = Text(*line);
    const auto [from, to] = ValueRange(text);
    return Decode(text.sliced(from, to - from)).left(MaxStringLength);
}

QString TIniText::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    return Value(section, key).value_or(defaultValue);
}

int32_t TIniText::ReadInteger(const QString& section, const QString& key, int32_t defaultValue) const
{
    const std::optional<QString> text = Value(section, key);
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
    const QString name = key.trimmed();
    const QString sectionName = section.trimmed();
    if (name.isEmpty() || name.contains(QLatin1Char('=')) || name.startsWith(QLatin1Char('['))
        || name.startsWith(QLatin1Char(';')) || name.startsWith(QLatin1Char('#')) || HasLineBreak(key)
        || HasLineBreak(value) || HasLineBreak(section) || sectionName.contains(QLatin1Char('['))
        || sectionName.contains(QLatin1Char(']')))
        return TSetResult::Refused;

    const TLocation location = Locate(sectionName, name);
    if (location.key) {
        const QByteArrayView text = Text(*location.key);
        const auto [from, to] = ValueRange(text);
        if (Decode(text.sliced(from, to - from)) == value)
            return TSetResult::Unchanged;
        const qsizetype at = text.data() - FBytes.constData() + from;
        FBytes.replace(at, to - from, value.toUtf8());
        return TSetResult::Changed;
    }

    QByteArray eol = LineEnd();
    const QByteArray entry = name.toUtf8() + '=' + value.toUtf8();
    if (location.lastInSection && location.lastInSection->next < FBytes.size()) {
        const qsizetype at = location.lastInSection->next;
        // A lone CR before an LF would read as one CR LF line end.
        if (eol == "\r" && FBytes[at] == '\n')
            eol = QByteArrayLiteral("\r\n");
        FBytes.insert(at, entry + eol);
    } else if (location.lastInSection) {
        FBytes.append(OpenLastLine() + entry + eol);
    } else {
        QByteArray block = OpenLastLine();
        if (!FBytes.isEmpty() && !Trimmed(Text(LastLine())).isEmpty())
            block += eol;
        FBytes.append(block + '[' + sectionName.toUtf8() + ']' + eol + entry + eol);
    }
    return TSetResult::Changed;
}

TIniFile::TIniFile(QString fileName)
    : FFileName(std::move(fileName))
{
}

std::optional<TIniText> TIniFile::Load() const
{
    QFile file(FFileName);
    if (!file.exists())
        return TIniText();
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return TIniText(std::move(bytes));
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const std::optional<TIniText> text = Load();
    return text ? text->ReadString(section, key, defaultValue) : defaultValue;
}

int32_t TIniFile::ReadInteger(const QString& section, const QString& key, int32_t defaultValue) const
{
    const std::optional<TIniText> text = Load();
    return text ? text->ReadInteger(section, key, defaultValue) : defaultValue;
}

bool TIniFile::Write(const QString& section, const TIniValues& values)
{
    FError.clear();
    std::optional<TIniText> text = Load();
    if (!text) {
        // Writing what could not be read would lose the rest of the file.
        FError = QStringLiteral("the file exists but cannot be read");
        return false;
    }
    bool changed = false;
    for (const auto& [key, value] : values) {
        switch (text->SetValue(section, key, value)) {
        case TIniText::TSetResult::Refused:
            FError = QStringLiteral("the value of \"%1\" cannot be stored in the file").arg(key);
            return false;
        case TIniText::TSetResult::Changed:
            changed = true;
            break;
        case TIniText::TSetResult::Unchanged:
            break;
        }
    }
    if (!changed)
        return true;

    // The file is replaced by renaming a new one over it, which a folder
    // permits even for a write-protected file: ask the file itself.
    QFile current(FFileName);
    if (current.exists() && !current.open(QIODevice::ReadWrite | QIODevice::ExistingOnly)) {
        FError = current.errorString();
        return false;
    }
    current.close();

    QSaveFile file(FFileName);
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
