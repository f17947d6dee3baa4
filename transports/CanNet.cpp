#include "CanNet.h"

#include "CanBusThread.h"

#include <QCanBus>
#include <QCanBusFrame>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <chrono>

namespace {

constexpr int32_t StandardIdMask = 0x7FF;
constexpr int32_t ExtendedIdMask = 0x1FFFFFFF;
constexpr int MaxDataBytes = 8;

// Splits a driver identifier into the frame identifier and its format; false
// for identifiers that name no CAN frame. Identifiers up to 0x7FF are 11-bit
// identifiers, larger ones up to 0x1FFFFFFF 29-bit identifiers, and the flag
// NTCAN_20B_BASE makes any identifier up to 0x1FFFFFFF a 29-bit one.
bool MapId(int32_t id, QCanBusFrame::FrameId& frameId, bool& extended)
{
    if (id < 0)
        return false;
    const int32_t bare = id & ~NTCAN_20B_BASE;
    if (bare > ExtendedIdMask)
        return false;
    extended = bare != id || bare > StandardIdMask;
    frameId = static_cast<QCanBusFrame::FrameId>(bare);
    return true;
}

// The one driver identifier of a frame: 29-bit identifiers carry the flag.
int32_t DriverId(QCanBusFrame::FrameId frameId, bool extended)
{
    const auto id = static_cast<int32_t>(frameId);
    return extended ? (id | NTCAN_20B_BASE) : id;
}

std::chrono::milliseconds Ms(int32_t ms) { return std::chrono::milliseconds(std::max(ms, 0)); }

} // namespace

TCanNet::TCanNet(TCanInterface iface, int32_t txTimeout, int32_t rxTimeout, TPresence present)
    : FInterface(std::move(iface))
    , FTxTimeout(txTimeout)
    , FRxTimeout(rxTimeout)
    , FPresent(std::move(present))
{
}

TCanNet::~TCanNet() { Close(); }

NTCAN_RESULT TCanNet::Open()
{
    TCanBusThread& bus = TCanBusThread::Instance();
    bool connecting = false;
    bus.Run([&] {
        QCanBusDevice* device = QCanBus::instance()->createDevice(FInterface.Plugin, FInterface.Name);
        if (!device)
            return;
        device->setParent(bus.Context());
        FDevice = device;
        QObject::connect(device, &QCanBusDevice::framesReceived, device, [this] { TakeFrames(); });
        QObject::connect(device, &QCanBusDevice::stateChanged, device,
            [this](QCanBusDevice::CanBusDeviceState state) { StateChanged(state); });
        QObject::connect(device, &QCanBusDevice::errorOccurred, device,
            [this](QCanBusDevice::CanBusError error) { ErrorOccurred(error); });
        QObject::connect(device, &QCanBusDevice::framesWritten, device,
            [this](qint64 count) { FramesWritten(count); });
        if (FPresent) {
            auto* presence = new QTimer(device);
            presence->setInterval(PresenceCheckMs);
            QObject::connect(presence, &QTimer::timeout, device, [this] { CheckPresence(); });
            presence->start();
        }
        connecting = device->connectDevice();
    });

    bool connected = false;
    if (connecting) {
        std::unique_lock lock(FLock);
        // The state signals tell when connecting has ended either way; a
        // device that connected at once has already reported it.
        FChanged.wait_for(lock, Ms(ConnectTimeoutMs), [this] { return FConnected || FLost; });
        connected = FConnected && !FLost;
    }
    if (!connected) {
        Close();
        return NTCAN_NET_NOT_FOUND;
    }
    return NTCAN_SUCCESS;
}

void TCanNet::Close()
{
    {
        std::lock_guard lock(FLock);
        if (FClosed)
            return;
        FClosed = true;
    }
    FChanged.notify_all();
    TCanBusThread::Instance().Run([this] {
        if (!FDevice)
            return;
        QObject::disconnect(FDevice, nullptr, nullptr, nullptr);
        FDevice->disconnectDevice();
        delete FDevice;
    });
}

NTCAN_RESULT TCanNet::SetBitrate(uint32_t bitsPerSecond)
{
    bool set = false;
    TCanBusThread::Instance().Run([&] {
        if (!FDevice)
            return;
        // Interfaces without a bit rate of their own report a configuration
        // error here, which is not a failure of the net.
        FDevice->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant(bitsPerSecond));
        set = true;
    });
    return set ? NTCAN_SUCCESS : NTCAN_INVALID_HANDLE;
}

NTCAN_RESULT TCanNet::AddId(int32_t id)
{
    QCanBusFrame::FrameId frameId = 0;
    bool extended = false;
    if (!MapId(id, frameId, extended))
        return NTCAN_INVALID_PARAMETER;
    std::lock_guard lock(FLock);
    FIds.insert(DriverId(frameId, extended));
    return NTCAN_SUCCESS;
}

NTCAN_RESULT TCanNet::Read(CMSG* msgs, int32_t* count)
{
    if (!msgs || !count || *count <= 0)
        return NTCAN_INVALID_PARAMETER;
    std::unique_lock lock(FLock);
    const uint64_t generation = FAbortGeneration;
    FChanged.wait_for(lock, Ms(FRxTimeout), [&] {
        return !FFrames.empty() || FClosed || FLost || FAbortGeneration != generation;
    });
    int32_t taken = 0;
    while (taken < *count && !FFrames.empty()) {
        msgs[taken++] = FFrames.front();
        FFrames.pop_front();
    }
    *count = taken;
    if (taken > 0)
        return NTCAN_SUCCESS;
    if (FClosed)
        return NTCAN_INVALID_HANDLE;
    if (FLost)
        return NTCAN_NET_LOST;
    if (FAbortGeneration != generation)
        return NTCAN_OPERATION_ABORTED;
    return NTCAN_RX_TIMEOUT;
}

NTCAN_RESULT TCanNet::Send(const CMSG* msgs, int32_t* count)
{
    if (!msgs || !count || *count < 0)
        return NTCAN_INVALID_PARAMETER;
    std::lock_guard sending(FSendLock);
    int32_t sent = 0;
    NTCAN_RESULT result = NTCAN_SUCCESS;
    while (sent < *count) {
        result = SendOne(msgs[sent]);
        if (result != NTCAN_SUCCESS)
            break;
        ++sent;
    }
    *count = sent;
    return result;
}

NTCAN_RESULT TCanNet::SendOne(const CMSG& msg)
{
    QCanBusFrame::FrameId frameId = 0;
    bool extended = false;
    if (msg.len > MaxDataBytes || !MapId(msg.id, frameId, extended))
        return NTCAN_INVALID_PARAMETER;
    QCanBusFrame frame(frameId, QByteArray(reinterpret_cast<const char*>(msg.data), msg.len));
    frame.setExtendedFrameFormat(extended);

    uint64_t ticket = 0;
    bool accepted = false;
    TCanBusThread::Instance().Run([&] {
        if (!FDevice)
            return;
        {
            std::lock_guard lock(FLock);
            if (FClosed || FLost || !FConnected)
                return;
            ticket = FSubmitted + 1;
            FSubmitted = ticket;
        }
        // Some interfaces report the frame written before writeFrame returns.
        accepted = FDevice->writeFrame(frame);
        if (!accepted) {
            std::lock_guard lock(FLock);
            FFailedThrough = ticket;
            FSettled = std::max(FSettled, ticket);
        }
    });

    std::unique_lock lock(FLock);
    if (ticket == 0)
        return FLost ? NTCAN_NET_LOST : NTCAN_INVALID_HANDLE;
    if (!accepted)
        return NTCAN_TX_ERROR;
    FChanged.wait_for(lock, Ms(FTxTimeout), [&] {
        return FSettled >= ticket || FClosed || FLost;
    });
    if (FFailedThrough >= ticket)
        return NTCAN_TX_ERROR;
    if (FSettled >= ticket)
        return NTCAN_SUCCESS;
    if (FLost)
        return NTCAN_NET_LOST;
    return FClosed ? NTCAN_INVALID_HANDLE : NTCAN_TX_TIMEOUT;
}

void TCanNet::AbortRead()
{
    {
        std::lock_guard lock(FLock);
        ++FAbortGeneration;
    }
    FChanged.notify_all();
}

bool TCanNet::Accepts(const QCanBusFrame& frame) const
{
    return frame.frameType() == QCanBusFrame::DataFrame
        && FIds.count(DriverId(frame.frameId(), frame.hasExtendedFrameFormat())) > 0;
}

void TCanNet::TakeFrames()
{
    const QList<QCanBusFrame> frames = FDevice->readAllFrames();
    {
        std::lock_guard lock(FLock);
        for (const QCanBusFrame& frame : frames) {
            if (!Accepts(frame))
                continue;
            const QByteArray payload = frame.payload();
            CMSG msg;
            msg.id = DriverId(frame.frameId(), frame.hasExtendedFrameFormat());
            msg.len = static_cast<uint8_t>(std::min<qsizetype>(payload.size(), MaxDataBytes));
            std::copy_n(payload.constData(), msg.len, msg.data);
            FFrames.push_back(msg);
        }
    }
    FChanged.notify_all();
}

void TCanNet::StateChanged(QCanBusDevice::CanBusDeviceState state)
{
    {
        std::lock_guard lock(FLock);
        if (state == QCanBusDevice::ConnectedState)
            FConnected = true;
        else if (state == QCanBusDevice::UnconnectedState && !FClosed)
            FLost = true; // connecting failed, or the interface went away
    }
    FChanged.notify_all();
}

void TCanNet::ErrorOccurred(QCanBusDevice::CanBusError error)
{
    {
        std::lock_guard lock(FLock);
        if (error == QCanBusDevice::ConnectionError && !FClosed)
            FLost = true;
        else if (error == QCanBusDevice::WriteError) {
            // Frames the interface had taken but could not write never
            // arrive as written: settle all of them as failed.
            FFailedThrough = FSubmitted;
            FSettled = FSubmitted;
        }
    }
    FChanged.notify_all();
}

void TCanNet::CheckPresence()
{
    if (FPresent())
        return;
    {
        std::lock_guard lock(FLock);
        if (FClosed || FLost)
            return;
        FLost = true;
    }
    FChanged.notify_all();
}

void TCanNet::FramesWritten(qint64 count)
{
    {
        std::lock_guard lock(FLock);
        FSettled = std::min<uint64_t>(FSettled + static_cast<uint64_t>(count), FSubmitted);
    }
    FChanged.notify_all();
}
