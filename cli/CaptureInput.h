#pragma once
// The inputs of `krm-cli decode`: a recorded byte stream in one of the forms
// a field engineer has at hand, read in pieces and handed on as byte streams
// (or, for the packet log, as packets directly), so an input of any size
// takes bounded memory.
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
//   pcap     a pcap or pcapng capture (PcapInput.h): the TCP streams
// What tells the forms apart, a hex dump's indenting and the identifiers of a
// candump log is looked for in the first LookAheadBytes of the input.
#include "PacketLogCsv.h"
#include "types.h"

#include <QIODevice>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>

enum class TCaptureFormat { Auto, Binary, Hex, Csv, Candump, Pcap };

// "binary", "hex", "csv", "candump", "pcap"; "auto" for Auto.
QString CaptureFormatName(TCaptureFormat format);
std::optional<TCaptureFormat> CaptureFormatNamed(const QString& name);

// Where a reader hands what it reads, in input order.
class TCaptureSink {
public:
    virtual ~TCaptureSink() = default;
    // Bytes of the stream `name` ("TX", "RX", "bytes", "id 0x123", ...);
    // `received` is its direction when the input tells it, `line` the input
    // line they stand on (0: none), `timeUs` when they were recorded, in
    // microseconds since the epoch.
    virtual void Bytes(const QString& name, std::optional<bool> received, const uint8_t* data, size_t size, int line,
                       std::optional<qint64> timeUs) = 0;
    virtual void Record(TLogRecord&& record, int line) = 0;
    // An input line or part that could not be read ("line N: what is wrong").
    virtual void Problem(const QString& problem) = 0;
};

// The gripper's CAN request identifier; answers come on the next one.
constexpr int DefaultCanId = 100;
constexpr qint64 LookAheadBytes = 1 << 16;
// Longest input line read whole; a longer hex line is read in pieces.
constexpr qint64 MaxLineBytes = 1 << 16;

// Reads `input` in `format` (Auto: told apart by its content; `format` is
// then set to the form found). `canId` is the gripper's identifier for
// candump input; without one it is 100, or the lower of the first pair of
// neighbouring identifiers when 100 is not in the log. False with `error`
// when the input cannot be read at all (a damaged packet log or capture);
// what was read before the damage has been handed on.
bool ReadCapture(QIODevice& input, TCaptureFormat& format, std::optional<int> canId, TCaptureSink& sink, QString& error);
