#pragma once
// Small settings files in INI form: "[section]" lines, each followed by
// "key=value" lines. Section and key names are compared without regard to
// case. Every read looks at the file as it is on disk; every write updates the
// file at once (created by the first write), keeping all other lines as they
// were.
#include <QString>

#include <cstdint>

// Folder that holds the program's settings files: the folder of the
// executable when it is writable, otherwise the per-user configuration
// folder. Tests redirect it with SetSettingsFolderOverride.
QString SettingsFolder();

// Full path of the settings file `fileName` (e.g. "uart.cfg") in
// SettingsFolder(). The one rule for every settings file of the program.
QString SettingsFilePath(const QString& fileName);

// Uses `folder` instead of the executable's folder (still falling back to the
// per-user folder when it is not writable); an empty string restores the
// executable's folder.
void SetSettingsFolderOverride(const QString& folder);

class TIniFile {
public:
    // Longest string value handed out by ReadString; longer values are cut.
    static constexpr int MaxStringLength = 2047;

    explicit TIniFile(QString fileName);

    const QString& FileName() const { return FFileName; }

    // The value under `key` in `section` with surrounding blanks removed, or
    // `defaultValue` when the file, section or key is missing.
    QString ReadString(const QString& section, const QString& key, const QString& defaultValue) const;

    // The value as a 32-bit integer literal (decimal with optional sign, or
    // hexadecimal with a $, x, X, 0x or 0X prefix); `defaultValue` when it is
    // missing or not such a number.
    int32_t ReadInteger(const QString& section, const QString& key, int32_t defaultValue) const;

    // Store the value and save the file at once. False when the file could
    // not be written (the file on disk is then unchanged).
    [[nodiscard]] bool WriteString(const QString& section, const QString& key, const QString& value);
    [[nodiscard]] bool WriteInteger(const QString& section, const QString& key, int32_t value);

private:
    QString FFileName;
};
