#pragma once
// The inputs of `krm-cli decode`: a recorded byte stream in one of the forms
// a field engineer has at hand, turned into byte streams (or, for the packet
// log, into packets directly).
//   binary   the raw bytes of a serial or TCP capture
//   hex      hex text: bytes with or without blanks ("AA AA AA 20" or
//            "AAAAAA20"), with or without a line offset ("0010:", "00000010"),
//            an ASCII column after the bytes, and a leading direction (TX, RX,
//            ">" or "<") that puts the line's bytes into that direction's stream;
//            in a dump with offsets that indents some lines (Wireshark's
//            "Follow stream" hex dump), the indented lines are the answers
//   csv      the packet log (PacketLogCsv.h, any of its layouts)
//   candump  a candump log ("(1712345678.123456) can0 064#AAAAAA20...") or
//            its screen form ("can0  064   [8]  AA AA AA 20 ..."): the data of
//            each identifier joined into one stream, requests on the gripper's
//            identifier, answers on the next
#include "PacketLogCsv.h"
#include "types.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

enum class TCaptureFormat { Auto, Binary, Hex, Csv, Candump };

// "binary", "hex", "csv", "candump"; "auto" for Auto.
QString CaptureFormatName(TCaptureFormat format);
std::optional<TCaptureFormat> CaptureFormatNamed(const QString& name);

struct TCaptureStream {
    QString name;                  // "TX", "RX", "bytes", "id 0x123"
    std::optional<bool> received;  // the direction, when the input tells it
    TByteArray bytes;
    std::vector<int> lines;        // input line of each byte (empty for binary input)
    std::vector<QString> times;    // candump: the time stamp of each byte's CAN frame
};

struct TCapture {
    TCaptureFormat format = TCaptureFormat::Auto;
    std::vector<TCaptureStream> streams;
    std::vector<TLogRecord> records; // csv
    // Input lines that could not be read, as "line N: what is wrong".
    QStringList problems;
};

// The gripper's CAN request identifier; answers come on the next one.
constexpr int DefaultCanId = 100;

// Reads `input` in `format` (Auto: told apart by its content). `canId` is
// the gripper's identifier for candump input; without one it is 100, or the
// lower of the first pair of neighbouring identifiers when 100 is not in the
// log. False with `error` when the input cannot be read at all (a damaged
// packet log).
bool ReadCapture(const QByteArray& input, TCaptureFormat format, std::optional<int> canId, TCapture& capture,
                 QString& error);
