#pragma once
// One opened CAN interface behind an NTCAN handle. The QCanBusDevice lives on
// the CAN bus thread; the operations may be called from any thread and block
// their caller: Read until a frame arrives, the receive timeout passes or the
// read is aborted, Send until the interface reports the frame written.
#include "NTCAN.h"

#include <QCanBusDevice>
#include <QPointer>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>

class TCanNet {
public:
    // Tells whether the interface is still offered by the machine; called on
    // the CAN bus thread.
    using TPresence = std::function<bool()>;

    // `present` is asked every PresenceCheckMs while the net is open: some
    // interfaces report nothing when they are unplugged, they just vanish.
    TCanNet(TCanInterface iface, int32_t txTimeout, int32_t rxTimeout, TPresence present);
    ~TCanNet();
    TCanNet(const TCanNet&) = delete;
    TCanNet& operator=(const TCanNet&) = delete;

    // Creates and connects the interface; NTCAN_NET_NOT_FOUND when it cannot
    // be created or does not connect in time.
    NTCAN_RESULT Open();
    // Disconnects and frees the interface and releases every waiting caller.
    void Close();
    NTCAN_RESULT SetBitrate(uint32_t bitsPerSecond);
    NTCAN_RESULT AddId(int32_t id);
    NTCAN_RESULT Read(CMSG* msgs, int32_t* count);
    NTCAN_RESULT Send(const CMSG* msgs, int32_t* count);
    void AbortRead();

    // How long Open waits for the interface to report itself connected.
    static constexpr int ConnectTimeoutMs = 3000;
    static constexpr int PresenceCheckMs = 1000;

private:
    // Run on the CAN bus thread, from the interface's signals.
    void TakeFrames();
    void StateChanged(QCanBusDevice::CanBusDeviceState state);
    void ErrorOccurred(QCanBusDevice::CanBusError error);
    void FramesWritten(qint64 count);
    void CheckPresence();

    NTCAN_RESULT SendOne(const CMSG& msg);
    bool Accepts(const QCanBusFrame& frame) const;

    const TCanInterface FInterface;
    const int32_t FTxTimeout;
    const int32_t FRxTimeout;
    const TPresence FPresent;
    QPointer<QCanBusDevice> FDevice; // touched on the CAN bus thread only

    std::mutex FLock; // guards everything below
    std::condition_variable FChanged;
    std::deque<CMSG> FFrames;
    std::set<int32_t> FIds;
    bool FConnected = false;
    bool FLost = false;
    bool FClosed = false;
    uint64_t FAbortGeneration = 0;
    // Frames taken by the interface, frames settled (written or failed) and
    // the last frame known to have failed, all counted from 1 in send order.
    uint64_t FSubmitted = 0;
    uint64_t FSettled = 0;
    uint64_t FFailedThrough = 0;

    std::mutex FSendLock; // one Send at a time, so the counts match the frames
};
