#pragma once
// The packet log as CSV, one layout for every program that writes one (the
// command log window's Save, krm-cli's --log, the programming interface):
//
//   time,ms_since_connect,direction,command_byte,command_name,length,status_name,decoded,payload_hex
//
// the wall-clock time in ISO 8601 with milliseconds and the offset from UTC
// (empty when unknown), the milliseconds since the connect with three
// decimals, TX or RX, the command byte as 0x21, its name, the payload length,
// the status name of an answer (empty for requests and for answers too short
// to carry one), the packet's meaning in words (PacketDecoder.h) and the
// payload bytes in hex separated by blanks.
//
// Reading takes the time, direction, command byte, length, payload and
// milliseconds back; the names and the meaning are derived from them and
// only written for the reader's sake. Besides this layout the reader takes
// the two older ones: the command log's ("time,direction,command
// byte,name,...,ms since connect") and krm-cli's ("time_ms,direction,...",
// milliseconds since the program started and no wall-clock time).
//
// Qt Core only: widget-free programs and libraries write it too.
#include "types.h"

#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

class QIODevice;

// What was wrong with a received frame: a whole frame with a wrong checksum,
// or bytes that belonged to no frame (the payload column holds them, the
// command byte is 0x00). Such rows carry "FAULT: wrong checksum" or "FAULT:
// stray bytes" in the decoded column, and no status name.
enum class TLogFault : uint8_t { None, Checksum, Stray };

// One logged packet with its times.
struct TLogRecord {
    TPacket packet; // command byte in the low 8 bits, no direction mark
    bool received = false;
    TLogFault fault = TLogFault::None;
    std::optional<qint64> wallMs; // milliseconds since the epoch (UTC); unknown in krm-cli's old logs
    qint64 sinceConnectUs = 0;    // microseconds since the connect before it
};

QString PacketLogHeader();
// A wall-clock time as the log writes it: local time in ISO 8601 with
// milliseconds and the offset from UTC ("2026-12-07T17:04:51.058+01:00").
QString PacketLogTime(qint64 wallMs);
// True when `line` is the header of one of the layouts the reader takes.
bool IsPacketLogHeader(const QString& line);
// One row without its line end.
QString PacketLogRow(const TLogRecord& record);

// Reads a whole log in any of the three layouts. On a row that is not a log
// row, returns false, leaves `records` empty and sets `error` to a message
// naming the line.
bool ReadPacketLog(QIODevice& in, std::vector<TLogRecord>& records, QString& error);
// Reads a log row by row, handing each record with its line number to
// `take` as soon as it is read, so a log of any length takes little memory;
// `take` returning false ends the reading (true is returned then). On a row
// that is not a log row, returns false with `error` as ReadPacketLog does,
// after the rows before it were handed on.
bool ReadPacketLogRows(QIODevice& in, const std::function<bool(TLogRecord&&, int)>& take, QString& error);

// A log file written as packets come: every row is flushed at once, so the
// file is complete at any moment.
class TPacketLogFile {
public:
    // Creates (or empties) the file and writes the header row; false with
    // the reason in `error`.
    bool Open(const QString& path, QString& error);
    bool IsOpen() const { return FFile.isOpen(); }
    // Milliseconds since connect count from now. Without a call they count
    // from the first packet written (sent right after connecting).
    void MarkConnected();
    // Appends the packet with the times of now and flushes it, so the file
    // is complete at any moment; false when this or an earlier write failed
    // (nothing more is written then).
    bool Write(const TPacket& packet, bool received, TLogFault fault = TLogFault::None);
    // A write failed (a full disk, the file size limit); ErrorString() says why.
    bool Failed() const { return FFailed; }
    const QString& ErrorString() const { return FError; }

private:
    // Records the first failure with the system's reason; true once failed.
    bool Failing(bool failed);

    QFile FFile;
    QElapsedTimer FSinceConnect;
    bool FFailed = false;
    QString FError;
};
