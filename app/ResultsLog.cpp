#include "ResultsLog.h"

#include "IniFile.h"

#include <QPlainTextEdit>
#include <QTime>

namespace {

const QString KeyTimes = QStringLiteral("TimesInResults");

}

TResultsLog::TResultsLog(QPlainTextEdit* memo, QString fileName, QString section)
    : FMemo(memo), FFileName(std::move(fileName)), FSection(std::move(section))
{
    FTimes = TIniFile(SettingsFilePath(FFileName)).ReadInteger(FSection, KeyTimes, 0) != 0;
}

void TResultsLog::SetTimes(bool times)
{
    FTimes = times;
    TIniFile ini(SettingsFilePath(FFileName));
    // Not stored: the option holds for this run; the placement's save at
    // program end reports an unwritable file.
    (void)ini.WriteInteger(FSection, KeyTimes, times ? 1 : 0);
}

void TResultsLog::Append(const QString& line)
{
    FMemo->appendPlainText(FTimes ? QTime::currentTime().toString(QStringLiteral("HH:mm:ss.zzz ")) + line : line);
}
