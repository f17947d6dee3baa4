#include "CommandComponent.h"

#include "CANDevice.h"
#include "Framing.h"
#include "SerialDevice.h"
#include "TCPDevice.h"

#include <QAbstractEventDispatcher>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

namespace {
// The shortest frame: preamble, command, length and checksum.
constexpr int32_t MinFrameBytes = 8;
// Free queue slots at which held-back bytes are read again.
constexpr int ResumeFreeSlots = 64;
} // namespace

TCommand::TCommand(QObject* owner) : QObject(owner)
{
    FAssembler.OnFrame = [this](TPacket&& packet) { FrameReceived(std::move(packet)); };
    AddDevice(new TSerialDevice(this));
    AddDevice(new TTCPDevice(this));
    AddDevice(new TCANDevice(this));
}

TCommand::~TCommand()
{
    // The devices close themselves when the QObject tree frees them; nothing
    // may be forwarded to the gripper object any more.
    FOnConnect = nullptr;
    FOnDisconnect = nullptr;
    OnPacket = nullptr;
    OnTransportReport = nullptr;
    for (TDevice* device : FDevices) {
        device->OnDataAvailable = nullptr;
        device->OnReport = nullptr;
    }
}

void TCommand::AddDevice(TDevice* device)
{
    FDevices.push_back(device);
    device->OnReport = [this](TDevice* sender, TTransportReport kind, const QString& text) {
        if (OnTransportReport)
            OnTransportReport(sender, kind, text);
    };
}

TDevice* TCommand::Devices(int index) const
{
    if (index < 0 || index >= DeviceCount())
        throw std::out_of_range("Index out of bounds (" + std::to_string(index) + ").");
    return FDevices[static_cast<size_t>(index)];
}

bool TCommand::IsConnected() const { return FCurrentDevice && FCurrentDevice->IsOpen(); }

void TCommand::InstallConnectionEvents(TDevice* device)
{
    // The handlers are looked up when the device fires, so a handler set
    // later takes effect at once.
    device->OnConnect = [this](TDevice* sender) {
        if (FOnConnect)
            FOnConnect(sender);
    };
    device->OnDisconnect = [this](TDevice* sender) {
        if (FOnDisconnect)
            FOnDisconnect(sender);
    };
}

TStat TCommand::Connect()
{
    if (!InterfaceChooser)
        return E_NOT_INITIALIZED;
    TInterfaceChoice choice;
    if (!InterfaceChooser(choice))
        return E_CMD_ABORTED;
    return Connect(choice.DeviceIndex, choice.PortName);
}

TStat TCommand::Connect(int deviceIndex, const QString& portName)
{
    return OpenDevice(deviceIndex, [&portName](TDevice* device) { return device->Open(portName); });
}

TStat TCommand::Connect(const TConnectionParams& params)
{
    // The device whose own parameters are of the same kind takes them.
    for (int index = 0; index < DeviceCount(); ++index) {
        const std::optional<TConnectionParams> own = FDevices[static_cast<size_t>(index)]->Params();
        if (own && own->index() == params.index())
            return OpenDevice(index, [&params](TDevice* device) { return device->OpenWith(params); });
    }
    return E_INVALID_PARAMETER;
}

std::optional<TConnectionParams> TCommand::ConnectionParams() const
{
    return FLastDevice ? FLastDevice->Params() : std::nullopt;
}

TStat TCommand::OpenDevice(int index, const std::function<TStat(TDevice*)>& open)
{
    if (index < 0 || index >= DeviceCount())
        return E_INVALID_PARAMETER;

    if (FCurrentDevice) {
        TDevice* previous = FCurrentDevice;
        FCurrentDevice = nullptr;
        previous->Close();
    }
    TDevice* device = Devices(index);
    InstallConnectionEvents(device);
    device->OnDataAvailable = [this](TDevice* sender, int32_t count) { DataAvailable(sender, count); };

    const TStat status = open(device);
    FOpenFailure = status == E_SUCCESS ? QString() : device->OpenFailure();
    if (status == E_SUCCESS) {
        FCurrentDevice = device;
        FLastDevice = device;
        FPackets.Clear();
        FAssembler.Reset();
        FFramesToAnnounce = 0;
        FLimitReads = false;
        FReadHeldBack = false;
        FBytesLeftInDevice = 0;
        FSentPackets = 0;
        FReceivedPackets = 0;
    } else {
        device->OnConnect = nullptr;
        device->OnDisconnect = nullptr;
    }
    return status;
}

void TCommand::Disconnect()
{
    if (!FCurrentDevice)
        return;
    TDevice* device = FCurrentDevice;
    FCurrentDevice = nullptr;
    device->Close();
}

TStat TCommand::SendPacket(const TPacket& p)
{
    if (!IsConnected())
        return E_NOT_INITIALIZED;
    TByteArray frame;
    const TStat framed = FramePacket(p, frame);
    if (framed != E_SUCCESS)
        return framed;
    const TStat written = FCurrentDevice->Write(frame.data(), static_cast<int32_t>(frame.size()));
    if (written == E_SUCCESS)
        ++FSentPackets;
    return written;
}

TLinkCounters TCommand::Counters() const
{
    return {FSentPackets, FReceivedPackets, FAssembler.ChecksumErrors()};
}

void TCommand::DataAvailable(TDevice*, int32_t count)
{
    if (!FCurrentDevice || count <= 0)
        return;
    int32_t wanted = std::min(count, ReadChunkSize);
    if (FPackets.Count() == 0)
        FLimitReads = false;
    if (!OnPacket || FLimitReads) {
        // A waiting transaction takes one packet per pass of its loop, while
        // one pass may bring a whole chunk: read only what the queue can
        // still take (a frame in progress may end with the first byte, every
        // further one needs MinFrameBytes), so that a burst cannot push the
        // answer out of a full queue. Once that happened, the limit stays
        // until the queue is empty, also after the transaction, while the
        // packets left in the queue wait to be handled.
        const int32_t room = std::max(0, MaxPackets - FPackets.Count() - 1) * MinFrameBytes;
        if (room < wanted) {
            wanted = room;
            FLimitReads = true;
            FReadHeldBack = true;
        }
        if (wanted <= 0) {
            // They have arrived, only the queue has no room for them now.
            FAssembler.BytesArrived();
            FBytesLeftInDevice = count;
            return;
        }
    }
    std::array<uint8_t, ReadChunkSize> buffer;
    const int32_t read = FCurrentDevice->Read(buffer.data(), wanted);
    if (read <= 0)
        return;
    FAssembler.ProcessChunk(buffer.data(), static_cast<size_t>(read), FBytesLeftInDevice > 0);
    FBytesLeftInDevice = FCurrentDevice->BytesAvailable();
    if (!OnPacket) {
        // Nobody to tell (a transaction is waiting and takes the packets).
        FFramesToAnnounce = 0;
        return;
    }
    // The packet event runs once the device's notification has returned: a
    // handler that waits for another answer needs the device to deliver
    // again, which a socket does not do from inside its own notification and
    // the CAN receive thread cannot do while it waits for this hand-off.
    if (FFramesToAnnounce > 0 && FDirectPacketEvents) {
        FirePacketEvents();
        return;
    }
    if (FFramesToAnnounce > 0 && !FAnnouncementQueued) {
        FAnnouncementQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                FAnnouncementQueued = false;
                FirePacketEvents();
            },
            Qt::QueuedConnection);
    }
}

bool TCommand::GetPacket(TPacket& p)
{
    if (!FPackets.Pop(p))
        return false;
    if (FReadHeldBack && !FResumeQueued && MaxPackets - FPackets.Count() >= ResumeFreeSlots) {
        FReadHeldBack = false;
        FResumeQueued = true;
        QMetaObject::invokeMethod(this, [this] { ResumeReading(); }, Qt::QueuedConnection);
    }
    return true;
}

void TCommand::ResumeReading()
{
    FResumeQueued = false;
    if (!FCurrentDevice || !FCurrentDevice->IsOpen())
        return;
    const int32_t waiting = FCurrentDevice->BytesAvailable();
    if (waiting <= 0)
        return;
    DataAvailable(FCurrentDevice, waiting);
    // More than one chunk was waiting: the device announces it no more.
    if (!FReadHeldBack && !FResumeQueued && FCurrentDevice && FCurrentDevice->BytesAvailable() > 0) {
        FResumeQueued = true;
        QMetaObject::invokeMethod(this, [this] { ResumeReading(); }, Qt::QueuedConnection);
    }
}

void TCommand::ProcessByte(uint8_t b)
{
    FAssembler.ProcessByte(b);
    FirePacketEvents();
}

void TCommand::FrameReceived(TPacket&& packet)
{
    // A full queue drops the packet; the event still fires for it.
    ++FReceivedPackets;
    FPackets.Push(std::move(packet));
    ++FFramesToAnnounce;
    // A waiting transaction (no packet event) looks at the queue when the
    // event loop returns. Qt's poll dispatcher delivers posted events, such as
    // the CAN receive hand-off, before it blocks, and would sleep on with the
    // answer queued: it is woken so that the pass ends. Bytes from a read
    // notification come after the poll, and that pass ends by itself; a
    // wake-up there would only cut the next pass short.
    if (!OnPacket && !(FCurrentDevice && FCurrentDevice->InReadNotification()))
        if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(thread()))
            dispatcher->wakeUp();
}

void TCommand::FirePacketEvents()
{
    // The packet event runs only after a whole chunk was assembled: its
    // handler may wait for further answers and so receive more bytes, which
    // must not enter the assembler while it is still inside a chunk.
    while (FFramesToAnnounce > 0) {
        --FFramesToAnnounce;
        if (OnPacket) {
            const TNotifyEvent handler = OnPacket;
            handler(this);
        }
    }
}
