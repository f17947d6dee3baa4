#pragma once
// Where the program keeps its settings files (the devices' <name>.cfg and the
// window's Analyzer.ini).
#include <QString>

// Folder that holds the program's settings files: the folder of the
// executable, unless it is not writable or is the folder a package or
// `cmake --install` puts programs in (such as /usr/bin); then the per-user
// configuration folder. Tests redirect it with SetSettingsFolderOverride.
QString SettingsFolder();

// Full path of the settings file `fileName` (e.g. "uart.cfg") in
// SettingsFolder(). The one rule for every settings file of the program;
// empty after KeepNoSettingsFiles.
QString SettingsFilePath(const QString& fileName);

// Uses `folder` instead of the executable's folder (still falling back to the
// per-user folder when it is not writable or an installation folder); an
// empty string restores the executable's folder.
void SetSettingsFolderOverride(const QString& folder);

// For a program that takes every setting from its command line (krm-cli):
// from now on SettingsFilePath gives an empty name, so every settings file
// reads as empty and stores nothing (TIniFile).
void KeepNoSettingsFiles();
