#pragma once
// A scripted stand-in for the CAN driver functions: records every call, opens
// the nets it is told exist, fails the calls it is told to fail, and feeds
// canRead from frames (or results) the test queues. canRead honours the
// receive timeout and is released by canIoctl request 9, as the driver is.
#include "NTCAN.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <vector>

struct TFakeOpen {
    int Net;
    uint32_t Flags;
    int32_t TxQueueSize;
    int32_t RxQueueSize;
    int32_t TxTimeout;
    int32_t RxTimeout;
};

class TFakeNtcan {
public:
    static TFakeNtcan& Instance();
    // The table of fake functions to give to a device.
    static TNtcanApi Api();

    // Forgets all calls, frames and failures; nets 0 to 20 are present.
    void Reset();

    // Script, set before the calls happen.
    std::set<int> PresentNets;
    NTCAN_RESULT OpenResult = NTCAN_SUCCESS;
    NTCAN_RESULT BaudrateResult = NTCAN_SUCCESS;
    NTCAN_RESULT IdAddResult = NTCAN_SUCCESS;
    NTCAN_RESULT SendResult = NTCAN_SUCCESS;
    // When positive, canRead waits this long for a frame instead of the
    // receive timeout canOpen was given.
    int32_t RxWaitMs = 0;
    // Queues a frame for canRead; a non-zero `result` makes that read fail
    // with it instead (frame ignored).
    void QueueRead(const CMSG& msg, NTCAN_RESULT result = NTCAN_SUCCESS);

    // Record of the calls.
    std::vector<TFakeOpen> Opens;
    std::vector<uint32_t> Baudrates;
    std::vector<int32_t> IdsAdded;
    std::vector<CMSG> Sent;
    std::vector<NTCAN_HANDLE> Closed;
    std::vector<uint32_t> Ioctls;
    std::set<NTCAN_HANDLE> OpenHandles() const;
    int ReadCalls() const;
    // Reads that ended because their wait ran out.
    int TimedOutReads() const;
    // Queued reads not yet taken by canRead.
    size_t PendingReads() const;

private:
    friend NTCAN_RESULT FakeOpen(int, uint32_t, int32_t, int32_t, int32_t, int32_t, NTCAN_HANDLE*);
    friend NTCAN_RESULT FakeClose(NTCAN_HANDLE);
    friend NTCAN_RESULT FakeSetBaudrate(NTCAN_HANDLE, uint32_t);
    friend NTCAN_RESULT FakeIdAdd(NTCAN_HANDLE, int32_t);
    friend NTCAN_RESULT FakeRead(NTCAN_HANDLE, CMSG*, int32_t*, void*);
    friend NTCAN_RESULT FakeSend(NTCAN_HANDLE, CMSG*, int32_t*);
    friend NTCAN_RESULT FakeIoctl(NTCAN_HANDLE, uint32_t, void*);
    friend NTCAN_RESULT FakeNetInterface(int, TCanInterface*);
    friend NTCAN_RESULT FakeInterfaceNet(const TCanInterface&, int*);

    struct TQueuedRead {
        CMSG Msg;
        NTCAN_RESULT Result;
    };

    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<TQueuedRead> FReads;
    std::set<NTCAN_HANDLE> FOpen;
    NTCAN_HANDLE FNextHandle = 7;
    int32_t FRxTimeout = 0;
    uint64_t FAbortGeneration = 0;
    int FReadCalls = 0;
    int FTimedOutReads = 0;
};

// The interface the fake names net `net` after: plugin "fake", name "net<n>".
TCanInterface FakeInterface(int net);

// A frame with identifier `id` and the given data bytes.
CMSG MakeMsg(int32_t id, std::initializer_list<uint8_t> bytes);
