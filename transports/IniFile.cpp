#include "IniFile.h"

#include "IntegerLiteral.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringList>

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

// The lines of the file; empty when it is missing or unreadable.
QStringList LoadLines(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    // Editors on some systems start the file with a byte order mark.
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    return lines;
}

// The section name of a "[name]" line, or nothing for other lines.
std::optional<QString> SectionOf(const QString& line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.size() < 2 || !trimmed.startsWith(QLatin1Char('[')) || !trimmed.endsWith(QLatin1Char(']')))
        return std::nullopt;
    return trimmed.mid(1, trimmed.size() - 2).trimmed();
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Where a key lives in the lines: the index of its line, and of the line
// after the last line of its section (for appending), -1 when absent.
struct TKeyLocation {
    int keyLine = -1;
    int sectionEnd = -1;
};

TKeyLocation Locate(const QStringList& lines, const QString& section, const QString& key)
{
    TKeyLocation location;
    bool inSection = false;
    for (int i = 0; i < lines.size(); ++i) {
        if (const auto name = SectionOf(lines[i])) {
            inSection = SameName(*name, section);
            continue;
        }
        if (!inSection)
            continue;
        if (!lines[i].trimmed().isEmpty())
            location.sectionEnd = i + 1;
        else if (location.sectionEnd < 0)
            location.sectionEnd = i;
        const int equals = lines[i].indexOf(QLatin1Char('='));
        if (equals < 0 || location.keyLine >= 0)
            continue;
        if (SameName(lines[i].left(equals).trimmed(), key.trimmed()))
            location.keyLine = i;
    }
    return location;
}

bool HasSection(const QStringList& lines, const QString& section)
{
    for (const QString& line : lines) {
        const auto name = SectionOf(line);
        if (name && SameName(*name, section))
            return true;
    }
    return false;
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

TIniFile::TIniFile(QString fileName)
    : FFileName(std::move(fileName))
{
}

QString TIniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const QStringList lines = LoadLines(FFileName);
    const TKeyLocation location = Locate(lines, section, key);
    if (location.keyLine < 0)
        return defaultValue;
    const QString& line = lines[location.keyLine];
    return line.mid(line.indexOf(QLatin1Char('=')) + 1).trimmed().left(MaxStringLength);
}

int32_t TIniFile::ReadInteger(const QString& section, const QString& key, int32_t defaultValue) const
{
    const QString text = ReadString(section, key, QString());
    return ParseIntegerLiteral(text).value_or(defaultValue);
}

bool TIniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    QStringList lines = LoadLines(FFileName);
    const QString entry = key.trimmed() + QLatin1Char('=') + value;
    const TKeyLocation location = Locate(lines, section, key);
    if (location.keyLine >= 0) {
        // Keep the spelling of the key as the file has it.
        QString& line = lines[location.keyLine];
        line = line.left(line.indexOf(QLatin1Char('='))).trimmed() + QLatin1Char('=') + value;
    } else if (HasSection(lines, section)) {
        int at = location.sectionEnd;
        if (at < 0) {
            // Empty section: insert right after its header.
            for (at = 0; at < lines.size(); ++at) {
                const auto name = SectionOf(lines[at]);
                if (name && SameName(*name, section))
                    break;
            }
            ++at;
        }
        lines.insert(at, entry);
    } else {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QString());
        lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        lines.append(entry);
    }

    QSaveFile file(FFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    file.write(lines.join(QLatin1Char('\n')).toUtf8());
    file.write("\n");
    return file.commit();
}

bool TIniFile::WriteInteger(const QString& section, const QString& key, int32_t value)
{
    return WriteString(section, key, QString::number(value));
}
