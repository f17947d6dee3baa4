#pragma once
// What krm-cli prints: one line per command, human-readable ("goto: No error")
// or, with --json, one compact JSON object per line. Failed commands also go
// to standard error with the status name and text. Every line is flushed at
// once, so a pipe sees it while the run goes on.
#include "stat.h"

#include <QJsonValue>
#include <QString>

#include <cstdio>
#include <vector>

// One named value of a result: its JSON value and how a person reads it.
struct TCliField {
    QString Name;
    QJsonValue Value;
    QString Text;
};

struct TCliResult {
    QString Command; // "goto"
    TStat Status = E_SUCCESS;
    std::vector<TCliField> Fields;
};

class TCliOutput {
public:
    TCliOutput(bool json, FILE* out = stdout, FILE* err = stderr);

    // A command's result; anything but E_SUCCESS also goes to standard error
    // as "krm-cli: WHERE: COMMAND: NAME: TEXT".
    void Result(const TCliResult& result, const QString& where);
    // One report seen by watch, with the time it was received (ISO 8601,
    // milliseconds) and the report's command name.
    void Report(const QString& time, const QString& report, const std::vector<TCliField>& fields);
    // A message of the program itself on standard error: "krm-cli: TEXT".
    void Error(const QString& text);

private:
    void Line(FILE* stream, const QString& text);

    const bool FJson;
    FILE* const FOut;
    FILE* const FErr;
};
