#pragma once
// The words of krm-cli: turns one command with its arguments into a checked
// TCliCommand. Numbers must be numbers and the count of arguments must fit;
// the gripper's own limits are checked later, once they are known
// (ValueLimits.h).
#include "CliCommand.h"

#include <QString>
#include <QStringList>

#include <optional>

// The longest wait or watch a command may ask for, and the longest
// --timeout: a day, in milliseconds.
constexpr int MaxCliDurationMs = 86400 * 1000;

// Parses `words` (the command name first). `where` names the place it was
// written for messages. Throws TUsageError for an unknown command, a missing
// or surplus argument or a value that is not a number of the right kind.
// repeat, end and run are not commands of their own (CliProgram.h).
TCliCommand ParseCliCommand(const QStringList& words, const QString& where);

// A decimal number (C locale, no group separators), finite; empty when the
// text is not one.
std::optional<double> ParseCliNumber(const QString& text);
// A whole decimal number within [min, max]; empty otherwise.
std::optional<int> ParseCliInteger(const QString& text, int min, int max);

// One line per command with its arguments, for --help.
QString CliCommandSummary();
