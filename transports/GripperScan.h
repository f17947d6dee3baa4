#pragma once
// Finding grippers whose port, line speed or CAN identifier is unknown. The
// scan sends nothing but the system-information request (GET_SYSINFO, which
// changes nothing on a gripper) and lists whoever answers it:
//  - every serial port the system lists, at each line speed asked for, the
//    default line speed first; a port stops at the first speed that answers;
//  - every CAN interface of the available plug-ins, at one bit rate, with
//    each identifier of a range (the answer comes with the identifier + 1);
//  - the connection strings given, a serial one without @BAUD at each line
//    speed asked for, a CAN one without #ID with each identifier of the range.
// Ports, interfaces and hosts are tried in parallel, each on a thread of its
// own; the scan blocks its caller until every one has finished. A port that
// another program holds is reported as in use and left alone. Widget-free:
// the window, the C++ library and krm-cli share it.
#include "NTCAN.h"

#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <vector>

struct TScanOptions {
    // Every line speed of the serial device, the default (115200) first.
    static std::vector<int32_t> AllLineSpeeds();

    // The serial ports the system lists, and the CAN interfaces of the
    // plug-ins; off, only Connections are tried.
    bool SystemPorts = true;
    // Connection strings tried as well (the library's form); a malformed one
    // makes ScanForGrippers throw TConnectionStringError before anything is
    // sent.
    QStringList Connections;
    // The line speeds tried on a port without @BAUD, in this order.
    std::vector<int32_t> LineSpeeds = AllLineSpeeds();
    // The request identifiers tried on a CAN interface without #ID.
    int32_t FirstCanId = 0;
    int32_t LastCanId = 255;
    // The bit rate of the CAN interfaces the system lists.
    uint32_t CanBitrateCode = NTCAN_BAUD_250;
    // How long each attempt waits for the answer once the request has gone
    // out (a serial attempt adds the time the bytes take on the line).
    std::chrono::milliseconds AnswerTime{250};
};

// A gripper that answered, with what it told about itself.
struct TFoundGripper {
    QString Connection; // serial:PATH@BAUD, tcp:HOST:PORT or can:PLUGIN:INTERFACE@KBITS#ID
    uint32_t SerialNumber = 0;
    uint16_t FirmwareRevision = 0;
    uint8_t HardwareRevision = 0;
    uint8_t GripperType = 0;
};

// A port or connection that could not be tried, or whose peer answered the
// request with an error.
struct TScanProblem {
    enum class TKind { InUse, NoPermission, Unreachable, Refused };
    QString Connection; // the port's or connection's string, as the found ones
    TKind Kind = TKind::Unreachable;
    QString Text;       // what happened and what to do, for the operator
};

struct TScanResult {
    std::vector<TFoundGripper> Found;    // in the order of the ports tried
    std::vector<TScanProblem> Problems;
};

TScanResult ScanForGrippers(const TScanOptions& options);

// The longest a scan with `options` takes on one port, at all its line
// speeds (opening and closing aside): what --help states.
std::chrono::milliseconds ScanSweepTime(const TScanOptions& options);
