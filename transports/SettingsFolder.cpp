#include "SettingsFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString& FolderOverride()
{
    static QString folder;
    return folder;
}

bool& NoSettingsFiles()
{
    static bool none = false;
    return none;
}

bool IsWritableFolder(const QString& folder)
{
    const QFileInfo info(folder);
    return info.isDir() && info.isWritable();
}

// The folders programs are installed in: the build's install prefix (cmake
// --install) and the Debian package's /usr. Settings there would be shared
// by every user, and written only when root runs the program.
bool IsInstallFolder(const QString& folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    for (const char* installed : {KRM_INSTALL_BINDIR, "/usr/bin"}) {
        if (QFileInfo(QString::fromUtf8(installed)).canonicalFilePath() == canonical)
            return true;
    }
    return false;
}

} // namespace

QString SettingsFolder()
{
    const QString preferred =
        FolderOverride().isEmpty() ? QCoreApplication::applicationDirPath() : FolderOverride();
    if (IsWritableFolder(preferred) && !IsInstallFolder(preferred))
        return preferred;
    const QString fallback = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    QDir().mkpath(fallback);
    return fallback;
}

QString SettingsFilePath(const QString& fileName)
{
    return NoSettingsFiles() ? QString() : QDir(SettingsFolder()).filePath(fileName);
}

void SetSettingsFolderOverride(const QString& folder)
{
    FolderOverride() = folder;
}

void KeepNoSettingsFiles()
{
    NoSettingsFiles() = true;
}
