#pragma once
// The main window's results log: finished motion commands, fast stops and
// their acknowledgements, refused motion commands and link events, one line
// each. With "Times in results" every line starts with the wall-clock time
// at which it was written. "Details in results" asks for the final position
// or width and the duration in a finished motion's line (the line's writer
// adds them). Both options are kept in a section of a settings file (off
// unless chosen).
#include <QString>

class QPlainTextEdit;

class TResultsLog {
public:
    TResultsLog(QPlainTextEdit* memo, QString fileName, QString section);

    bool Times() const { return FTimes; }
    // Sets the option and stores it.
    void SetTimes(bool times);
    bool Details() const { return FDetails; }
    // Sets the option and stores it.
    void SetDetails(bool details);
    void Append(const QString& line);

private:
    QPlainTextEdit* FMemo;
    QString FFileName;
    QString FSection;
    bool FTimes = false;
    bool FDetails = false;
};
