#pragma once
// The CAN driver functions the CAN device calls, as our own small layer over
// the CAN interfaces that QtSerialBus offers on this machine.
//
// A net number names one CAN interface. Interfaces are numbered in a stable
// order: those of the hardware plugins first (socketcan, peakcan, systeccan,
// vectorcan, tinycan, passthrucan, then any other), the virtual CAN bus last,
// so a machine without CAN hardware still offers the virtual bus. A number,
// once given to an interface, stays with it for the life of the process.
//
// Every function returns NTCAN_SUCCESS (0) on success and another code on
// failure. All functions are thread-safe; canRead and canSend block the
// caller, never the thread that owns the interfaces.
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

using NTCAN_HANDLE = int32_t;
using NTCAN_RESULT = int32_t;

constexpr NTCAN_RESULT NTCAN_SUCCESS = 0;
constexpr NTCAN_RESULT NTCAN_RX_TIMEOUT = 1;              // no frame within the receive timeout
constexpr NTCAN_RESULT NTCAN_TX_TIMEOUT = 2;              // the frame was not written in time
constexpr NTCAN_RESULT NTCAN_TX_ERROR = 3;                // the interface refused the frame
constexpr NTCAN_RESULT NTCAN_OPERATION_ABORTED = 4;       // the read was aborted by canIoctl
constexpr NTCAN_RESULT NTCAN_NET_NOT_FOUND = 5;           // no interface has that net number, or it does not open
constexpr NTCAN_RESULT NTCAN_INVALID_HANDLE = 6;          // the handle is not (or no longer) open
constexpr NTCAN_RESULT NTCAN_INVALID_PARAMETER = 7;       // an argument is out of range
constexpr NTCAN_RESULT NTCAN_NET_LOST = 8;                // the interface went away while open

// canIoctl request that aborts a canRead waiting on the handle.
constexpr uint32_t NTCAN_IOCTL_ABORT_RX = 9;

// Identifiers from 0 to 0x7FF are sent and received as 11-bit identifiers,
// identifiers from 0x800 to 0x1FFFFFFF as 29-bit (extended) ones. This flag
// makes any identifier up to 0x1FFFFFFF an extended one; received extended
// frames always carry it.
constexpr int32_t NTCAN_20B_BASE = 0x20000000;

// Bit-rate codes accepted by canSetBaudrate.
constexpr uint32_t NTCAN_BAUD_1000 = 0;
constexpr uint32_t NTCAN_BAUD_500 = 2;
constexpr uint32_t NTCAN_BAUD_250 = 4;
constexpr uint32_t NTCAN_BAUD_125 = 6;
constexpr uint32_t NTCAN_BAUD_100 = 7;
constexpr uint32_t NTCAN_BAUD_50 = 9;
constexpr uint32_t NTCAN_BAUD_20 = 11;
constexpr uint32_t NTCAN_BAUD_10 = 13;

// One CAN frame: identifier, number of valid data bytes (0 to 8) and the data.
struct CMSG {
    int32_t id = 0;
    uint8_t len = 0;
    uint8_t reserved[3] = {};
    uint8_t data[8] = {};
};
static_assert(sizeof(CMSG) == 16, "a CAN message record is 16 bytes");

// A CAN interface as QtSerialBus names it: plugin and interface name.
struct TCanInterface {
    QString Plugin;
    QString Name;
    bool operator==(const TCanInterface&) const = default;
};

// Opens net `net`. Queue sizes must be positive, timeouts (ms) not negative;
// a receive timeout of 0 makes canRead return at once when no frame waits.
// A new handle delivers no frames until canIdAdd enables an identifier.
NTCAN_RESULT canOpen(int net, uint32_t flags, int32_t txqueuesize, int32_t rxqueuesize,
    int32_t txtimeout, int32_t rxtimeout, NTCAN_HANDLE* handle);
NTCAN_RESULT canClose(NTCAN_HANDLE handle);
// Sets the bit rate from one of the NTCAN_BAUD_ codes. Interfaces that have no
// bit rate of their own (the virtual bus) accept every known code.
NTCAN_RESULT canSetBaudrate(NTCAN_HANDLE handle, uint32_t baud);
// Makes the handle deliver frames with identifier `id` as well.
NTCAN_RESULT canIdAdd(NTCAN_HANDLE handle, int32_t id);
// Waits up to the receive timeout for frames and copies up to *len of them
// (at most 8 data bytes each) into `cmsg`; *len becomes the number copied.
// `ovrlppd` must be null: there are no overlapped reads.
NTCAN_RESULT canRead(NTCAN_HANDLE handle, CMSG* cmsg, int32_t* len, void* ovrlppd);
// Sends *len frames in order, each waiting for the interface to report it
// written; *len becomes the number sent.
NTCAN_RESULT canSend(NTCAN_HANDLE handle, CMSG* cmsg, int32_t* len);
// Request NTCAN_IOCTL_ABORT_RX (argument unused) releases reads waiting at
// that moment; other requests are invalid.
NTCAN_RESULT canIoctl(NTCAN_HANDLE handle, uint32_t ulCmd, void* pArg);

// The interface that net number `net` names (as canOpen would open it):
// NTCAN_NET_NOT_FOUND when no interface has that number.
NTCAN_RESULT canNetInterface(int net, TCanInterface* iface);
// The net number of `iface`, after a fresh scan that numbers it when the
// machine offers it for the first time: NTCAN_NET_NOT_FOUND when the machine
// has never offered it. (One that went away keeps its number; canOpen then
// fails on it.)
NTCAN_RESULT canInterfaceNet(const TCanInterface& iface, int* net);

// Operator text for a result code ("the CAN interface went away").
QString canResultText(NTCAN_RESULT result);

// The driver functions as a table, so a caller can be given other ones.
struct TNtcanApi {
    decltype(&canOpen) Open = &canOpen;
    decltype(&canClose) Close = &canClose;
    decltype(&canSetBaudrate) SetBaudrate = &canSetBaudrate;
    decltype(&canIdAdd) IdAdd = &canIdAdd;
    decltype(&canRead) Read = &canRead;
    decltype(&canSend) Send = &canSend;
    decltype(&canIoctl) Ioctl = &canIoctl;
    decltype(&canNetInterface) NetInterface = &canNetInterface;
    decltype(&canInterfaceNet) InterfaceNet = &canInterfaceNet;
};

using TCanInterfaceSource = std::function<std::vector<TCanInterface>()>;

// The interfaces present on this machine, in net-number order of a fresh scan.
std::vector<TCanInterface> canDiscoverInterfaces();
// Replaces where interfaces come from (canDiscoverInterfaces when empty) and
// forgets the numbers given so far. Handles already open stay open.
void canSetInterfaceSource(TCanInterfaceSource source);
