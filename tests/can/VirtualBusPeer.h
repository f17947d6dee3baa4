#pragma once
// The test's own end of the Qt virtual CAN bus. Each test process runs its
// bus on a free local port of its own, so tests of other processes on this
// machine never see its frames, and makes the CAN driver layer number the two
// virtual interfaces of that bus as nets 0 and 1.
#include "NTCAN.h"

#include <QCanBusDevice>
#include <QCanBusFrame>

#include <memory>
#include <vector>

// "tcp://127.0.0.1:<port>/<channel>" of this process's bus.
QString VirtualInterfaceName(const QString& channel);

// Points the driver layer at this process's bus (once per process) and makes
// sure the bus server runs on the driver's own thread.
void UseVirtualBus();

// Makes the driver layer's interface scan offer net 1 (channel can1) or not,
// as when an adapter is plugged in or pulled out.
void OfferSecondNet(bool offered);

// Identifier of the frames that tell both ends are on the bus. A node's
// first frames may pass it by while the bus server has not yet registered it,
// so tests exchange these frames before they start.
constexpr int32_t SyncId = 0x7FE;

// A QCanBusDevice on channel can0 of the bus, in the main thread, that
// collects every frame it receives.
class TVirtualBusPeer {
public:
    TVirtualBusPeer();
    ~TVirtualBusPeer();

    bool Connected() const;
    void Send(const QCanBusFrame& frame);
    // Lets the peer send CAN FD frames (up to 64 data bytes).
    void EnableFlexibleDataRate();

    // Frames received, apart from those with SyncId, which are only counted.
    std::vector<QCanBusFrame> Received;
    int SyncFrames = 0;

private:
    std::unique_ptr<QCanBusDevice> FDevice;
};
