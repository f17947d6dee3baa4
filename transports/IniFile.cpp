#include "IniFile.h"

#include "IntegerLiteral.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>

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

bool SameName(QByteArrayView bytes, const QString& name)
{
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
    Index();
}

void TIniText::Index()
{
    FLines.clear();
    const char* data = FBytes.constData();
    const qsizetype size = FBytes.size();
    qsizetype start = 0;
    while (start < size) {
        qsizetype end = start;
        while (end < size && data[end] != '\n' && data[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < size)
            next += (data[next] == '\r' && next + 1 < size && data[next + 1] == '\n') ? 2 : 1;
        FLines.push_back({start, end, next});
        start = next;
    }
}

QByteArrayView TIniText::Text(int line) const
{
    const TLine& l = FLines[static_cast<size_t>(line)];
    QByteArrayView text(FBytes.constData() + l.start, l.end - l.start);
    // Editors on some systems start the file with a byte order mark.
    if (line == 0 && text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    return text;
}

TIniText::TLocation TIniText::Locate(const QString& section, const QString& key) const
{
    const QString wantedSection = section.trimmed();
    const QString wantedKey = key.trimmed();
    TLocation location;
    bool inSection = false;
    for (int i = 0; i < static_cast<int>(FLines.size()); ++i) {
        const QByteArrayView text = Text(i);
        if (const auto name = SectionOf(text)) {
            inSection = SameName(*name, wantedSection);
            if (inSection && location.lastInSection < 0)
                location.lastInSection = i;
            continue;
        }
        if (!inSection || Trimmed(text).isEmpty())
            continue;
        location.lastInSection = i;
        if (location.keyLine >= 0 || IsComment(text))
            continue;
        const qsizetype equals = text.indexOf('=');
        if (equals >= 0 && SameName(Trimmed(text.first(equals)), wantedKey))
            location.keyLine = i;
    }
    return location;
}

std::optional<QString> TIniText::Value(const QString& section, const QString& key) const
{
    const int line = Locate(section, key).keyLine;
    if (line < 0)
        return std::nullopt;
    const QByteArrayView text = Text(line);
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
    for (auto line = FLines.rbegin(); line != FLines.rend(); ++line) {
        if (line->next > line->end)
            return FBytes.sliced(line->end, line->next - line->end);
    }
    return QByteArrayLiteral("\n");
}

QByteArray TIniText::OpenLastLine() const
{
    return !FLines.empty() && FLines.back().next == FLines.back().end ? LineEnd() : QByteArray();
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
    if (location.keyLine >= 0) {
        const QByteArrayView text = Text(location.keyLine);
        const auto [from, to] = ValueRange(text);
        if (Decode(text.sliced(from, to - from)) == value)
            return TSetResult::Unchanged;
        const qsizetype at = text.data() - FBytes.constData() + from;
        FBytes.replace(at, to - from, value.toUtf8());
    } else {
        const QByteArray eol = LineEnd();
        const QByteArray entry = name.toUtf8() + '=' + value.toUtf8() + eol;
        if (location.lastInSection >= 0) {
            const size_t after = static_cast<size_t>(location.lastInSection) + 1;
            if (after < FLines.size())
                FBytes.insert(FLines[after].start, entry);
            else
                FBytes.append(OpenLastLine() + entry);
        } else {
            QByteArray block = OpenLastLine();
            if (!FLines.empty() && !Trimmed(Text(static_cast<int>(FLines.size()) - 1)).isEmpty())
                block += eol;
            FBytes.append(block + '[' + sectionName.toUtf8() + ']' + eol + entry);
        }
    }
    Index();
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
