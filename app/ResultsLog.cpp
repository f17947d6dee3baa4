#include "ResultsLog.h"

#include "IniFile.h"

#include <QPlainTextEdit>
#include <QTime>

namespace {

const QString KeyTimes = QStringLiteral("TimesInResults");
const QString KeyDetails = QStringLiteral("DetailsInResults");

void Store(const QString& fileName, const QString& section, const QString& key, bool value)
{
    TIniFile ini(SettingsFilePath(fileName));
    // Not stored: the option holds for this run; the placement's save at
    // program end reports an unwritable file.
    (void)ini.WriteInteger(section, key, value ? 1 : 0);
}

}

TResultsLog::TResultsLog(QPlainTextEdit* memo, QString fileName, QString section)
    : FMemo(memo), FFileName(std::move(fileName)), FSection(std::move(section))
{
    const TIniFile ini(SettingsFilePath(FFileName));
    FTimes = ini.ReadInteger(FSection, KeyTimes, 0) != 0;
    FDetails = ini.ReadInteger(FSection, KeyDetails, 0) != 0;
}

void TResultsLog::SetTimes(bool times)
{
    FTimes = times;
    Store(FFileName, FSection, KeyTimes, times);
}

void TResultsLog::SetDetails(bool details)
{
    FDetails = details;
    Store(FFileName, FSection, KeyDetails, details);
}

void TResultsLog::Append(const QString& line)
{
    FMemo->appendPlainText(FTimes ? QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + line : line);
}
