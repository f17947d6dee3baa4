#pragma once
// The main window's results log: finished motion commands, fast stops and
// their acknowledgements, refused motion commands and link events, one line
// each. With "Times in results" every line starts with the wall-clock time
// at which it was written; the option is kept in a section of a settings
// file (off unless chosen).
#include <QString>

class QPlainTextEdit;

class TResultsLog {
public:
    TResultsLog(QPlainTextEdit* memo, QString fileName, QString section);

    bool Times() const { return FTimes; }
    // Sets the option and stores it.
    void SetTimes(bool times);
    void Append(const QString& line);

private:
    QPlainTextEdit* FMemo;
    QString FFileName;
    QString FSection;
    bool FTimes = false;
};
