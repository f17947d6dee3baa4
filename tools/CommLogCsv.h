#pragma once
// The command log as CSV: one header row, then one row per packet with its
// wall-clock time, direction, command byte and name, length, status
// identifier, payload bytes in hex, decoded meaning and the milliseconds
// since the connect it belongs to. Reading takes the time, direction,
// command byte, length, payload and milliseconds back; the name, status and
// meaning are derived from them and only written for the reader's sake.
#include "types.h"

#include <QString>

#include <vector>

class QIODevice;

// One logged packet with its times.
struct TLogRecord {
    TPacket packet; // command byte in the low 8 bits, no direction mark
    bool received = false;
    qint64 wallMs = 0;         // milliseconds since the epoch (UTC)
    qint64 sinceConnectMs = 0; // milliseconds since the connect before it
};

QString CsvLogHeader();
// One row without its line end.
QString CsvLogRow(const TLogRecord& record);

// Reads a whole CSV log. On a row that is not a log row, returns false,
// leaves `records` empty and sets `error` to a message naming the line.
bool ReadCsvLog(QIODevice& in, std::vector<TLogRecord>& records, QString& error);
