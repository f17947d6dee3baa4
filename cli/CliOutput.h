#pragma once
// What krm-cli prints: one line per command, human-readable ("goto: No error")
// or, with --json, one compact JSON object per line. Failed commands also go
// to standard error with the status name and text. Every line is written at
// once with write(2), so a pipe sees it while the run goes on.
//
// Lost output is an error: the first write to standard output that fails
// (a full disk, a pipe whose reader has gone) is remembered, nothing more is
// printed there, and OnFailure tells the runner, which ends the run.
#include "stat.h"

#include <QJsonValue>
#include <QString>

#include <functional>
#include <vector>

// One named value of a result: its JSON value and how a person reads it.
// A field only for JSON is left out of the text line.
struct TCliField {
    QString Name;
    QJsonValue Value;
    QString Text;
    bool JsonOnly = false;
};

struct TCliResult {
    QString Command; // "goto"
    TStat Status = E_SUCCESS;
    std::vector<TCliField> Fields;
    QString Start;          // JSON only: when the command began (ISO 8601 with milliseconds, UTC)
    double DurationMs = -1; // JSON only: how long it took; below 0 when not measured
    // Nothing usable came back (no answer, a malformed one, a refused
    // write): the words for it, and for JSON a name in place of a status
    // ("NO_ANSWER", with code null). `Status` still tells the exit status.
    QString Failure;
    QString FailureName;
};

class TCliOutput {
public:
    explicit TCliOutput(bool json, int outFd = 1, int errFd = 2);

    // A command's result; anything but E_SUCCESS also goes to standard error
    // as "krm-cli: WHERE: COMMAND: NAME: TEXT".
    void Result(const TCliResult& result, const QString& where);
    // One report seen by watch, with the time it was received (ISO 8601,
    // milliseconds) and the report's command name.
    void Report(const QString& time, const QString& report, const std::vector<TCliField>& fields);
    // Text of the program's own (--help) on standard output, as it is.
    void Text(const QString& text);
    // A message of the program itself on standard error: "krm-cli: TEXT".
    void Error(const QString& text);

    // True once a write to standard output failed; FailureText() says why:
    // "standard output: cannot write: Broken pipe".
    bool Failed() const { return FFailed; }
    const QString& FailureText() const { return FFailureText; }
    // Looks, without writing, whether standard output can no longer be
    // read: a pipe or socket whose reader has gone, a hung-up terminal.
    // Counts as a failed write when so.
    bool CheckReader();
    // Called once, at the first failure.
    std::function<void()> OnFailure;

private:
    void Out(const QString& line);
    void Fail(const QString& text);

    const bool FJson;
    const int FOut;
    const int FErr;
    bool FFailed = false;
    QString FFailureText;
};

// Writes all of `bytes` to `fd`, retrying after a signal unless a
// termination signal came (CliSignals.h); false with errno set when the
// write failed, true also when it was given up for a termination signal.
bool WriteAll(int fd, const QByteArray& bytes);
