#pragma once
// Keeps the command log's display options (ID descriptors, error codes, Time
// and its kind, Decoded, Hide reports) in a section of a settings file: they
// are applied when the program starts, all off and counting milliseconds
// since connect on the first start, and stored whenever the operator
// changes one.
#include <QString>

class TCommLog;

void RememberCommLogOptions(TCommLog& log, const QString& fileName, const QString& section);
