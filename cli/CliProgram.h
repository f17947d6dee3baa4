#pragma once
// Builds the steps of a run from commands: those of the command line
// (separated by a lone ",") and the lines of scripts given to `run`.
//
// A script has one command per line; "#" starts a comment (outside a quoted
// payload text), blank lines are skipped. `repeat N` ... `end` runs the lines
// between N times and may be nested; `wait MS` pauses. `run` is a command of
// the command line only, so no script can run itself.
#include "CliCommand.h"

#include <QString>
#include <QStringList>

#include <vector>

struct TCliLine {
    QStringList Words;
    QString Where; // "command 2", "cycle.txt:3"
};

// Splits a script into its lines of words. Blanks separate words; a text in
// double quotes stays one word with its quotes (the raw payload syntax), so
// blanks and "#" inside it are kept. `name` labels the lines ("cycle.txt").
std::vector<TCliLine> SplitScript(const QString& text, const QString& name);

// Splits the command words of the command line at each lone ",".
std::vector<TCliLine> SplitCommandLine(const QStringList& words);

// Checks every command and builds the steps; `run FILE` reads FILE (or
// standard input for "-") at once. Throws TUsageError for any fault, with the
// place it was found.
TCliProgram BuildCliProgram(const std::vector<TCliLine>& lines);
