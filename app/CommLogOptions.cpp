#include "CommLogOptions.h"

#include "CommLogForm.h"
#include "IniFile.h"

namespace {

const QString KeyIdDescriptors = QStringLiteral("ShowIDDescriptors");
const QString KeyErrorCodes = QStringLiteral("EvaluateErrorCodes");
const QString KeyTime = QStringLiteral("Time");
const QString KeyTimeKind = QStringLiteral("TimeKind");
const QString KeyDecoded = QStringLiteral("Decoded");
const QString KeyHideReports = QStringLiteral("HideReports");
const QString WallClock = QStringLiteral("WallClock");
const QString SinceConnect = QStringLiteral("SinceConnect");

QString Flag(bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); }

} // namespace

void RememberCommLogOptions(TCommLog& log, const QString& fileName, const QString& section)
{
    const TIniSection ini = TIniFile(SettingsFilePath(fileName)).ReadSection(section).value_or(TIniSection());
    TCommLog::TOptions options;
    options.idDescriptors = ini.ReadInteger(KeyIdDescriptors, 0) != 0;
    options.errorCodes = ini.ReadInteger(KeyErrorCodes, 0) != 0;
    options.time = ini.ReadInteger(KeyTime, 0) != 0;
    options.timeMode = ini.ReadString(KeyTimeKind, SinceConnect).compare(WallClock, Qt::CaseInsensitive) == 0
        ? TCommLog::TTimeMode::WallClock
        : TCommLog::TTimeMode::SinceConnect;
    options.decoded = ini.ReadInteger(KeyDecoded, 0) != 0;
    options.hideReports = ini.ReadInteger(KeyHideReports, 0) != 0;
    log.SetOptions(options);
    log.OnOptionsChange = [&log, fileName, section] {
        const TCommLog::TOptions o = log.Options();
        TIniFile file(SettingsFilePath(fileName));
        // An option that cannot be stored is used all the same; the
        // placement's save at program end reports an unwritable file.
        (void)file.Write(section, {{KeyIdDescriptors, Flag(o.idDescriptors)},
                                   {KeyErrorCodes, Flag(o.errorCodes)},
                                   {KeyTime, Flag(o.time)},
                                   {KeyTimeKind, o.timeMode == TCommLog::TTimeMode::WallClock ? WallClock : SinceConnect},
                                   {KeyDecoded, Flag(o.decoded)},
                                   {KeyHideReports, Flag(o.hideReports)}});
    };
}
