#pragma once
// Builds the steps of a run from commands: those of the command line
// (separated by a lone ",") and the lines of scripts given to `run`.
//
// A script has one command per line; "#" starts a comment (outside a quoted
// payload text), blank lines are skipped. `repeat N` ... `end` runs the lines
// between N times and may be nested; `wait MS` pauses. `run` is a command of
// the command line only, so no script can run itself.
//
// `run FILE` is read and checked whole before anything is sent, within the
// bounds below; `run -` is a step of its own: the runner reads standard input
// line by line as it arrives (a repeated block whole, within the same
// bounds) and runs each line at once. Nothing here recurses.
#include "CliCommand.h"

#include <QString>
#include <QStringList>

#include <vector>

// The most a run reads from scripts: bytes and lines of all `run FILE`
// scripts together (and of each block read from standard input); lines
// longer than TCliScriptReader::MaxLineBytes are refused as well.
constexpr qint64 MaxScriptBytes = 4 * 1024 * 1024;
constexpr int MaxScriptLines = 100000;
// The deepest nesting of repeat blocks.
constexpr int MaxRepeatDepth = 64;

struct TCliLine {
    QStringList Words;
    QString Where; // "command 2", "cycle.txt:3"
};

// The words of one line of a script. Blanks separate words; a text in
// double quotes stays one word with its quotes (the raw payload syntax), so
// blanks and "#" inside it are kept; "#" outside one starts a comment.
QStringList SplitCliWords(const QString& line);

// Splits the command words of the command line at each lone ",".
std::vector<TCliLine> SplitCommandLine(const QStringList& words);

// Turns lines, one at a time, into steps.
class TCliProgramBuilder {
public:
    enum class TSource {
        CommandLine, // `run FILE` reads FILE, `run -` becomes a Stdin step
        Script,      // `run` is refused
    };
    explicit TCliProgramBuilder(TSource source);

    // Checks and adds one line. Throws TUsageError naming the place of a
    // fault; TCliInterrupted when a termination signal comes while a script
    // given to `run` is read.
    void Add(const TCliLine& line);
    // Counts a line of `bytes` bytes (with its "\n") read from a script
    // against the bounds; throws TUsageError naming `where` beyond them.
    void CountScriptLine(qsizetype bytes, const QString& where);
    // Repeat blocks open now.
    int Depth() const { return static_cast<int>(FOpen.size()); }
    // The steps; throws TUsageError for a block without its end.
    TCliProgram Finish();

private:
    void AddRepeat(const TCliLine& line);
    void AddEnd(const TCliLine& line);
    void AddRun(const TCliLine& line);
    void ReadScript(const QString& path, const QString& where);

    TCliProgram FSteps;
    std::vector<size_t> FOpen; // indexes of the open Repeat steps
    size_t FBase = 0;          // blocks below this were opened outside the script being read
    bool FInScript;
    qint64 FScriptBytes = 0;
    int FScriptLines = 0;
};

// Checks every command of the command line and builds the steps; scripts
// given to `run FILE` are read here.
TCliProgram BuildCliProgram(const std::vector<TCliLine>& lines);
