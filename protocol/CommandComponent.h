#pragma once
// The dispatcher: owns the three transport devices (0 serial, 1 TCP, 2 CAN),
// the frame assembler and the queue of received packets. It connects and
// disconnects, sends one packet at a time and hands out received packets in
// arrival order. Which device and port to connect asks its interface chooser
// (in the program, the interface selection dialog); a connection can also
// be made with explicit parameters, asking no one.
#include "ConnectionParams.h"
#include "DeviceComponent.h"
#include "DeviceOwner.h"
#include "FrameAssembler.h"
#include "PacketBufferClass.h"
#include "stat.h"
#include "types.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

using TNotifyEvent = std::function<void(QObject* sender)>;

// The device (index in the dispatcher's device list) and port to connect.
struct TInterfaceChoice {
    int DeviceIndex = 0;
    QString PortName;
};
// Fills in the choice; false when the operator cancelled.
using TInterfaceChooser = std::function<bool(TInterfaceChoice& choice)>;
// A device's report for the operator (the sender is the device).
using TReportEvent = std::function<void(QObject* sender, TTransportReport kind, const QString& text)>;

// Packets of the current connection: sent, received with a good checksum,
// and frames dropped for a wrong checksum.
struct TLinkCounters {
    uint32_t Sent = 0;
    uint32_t Received = 0;
    uint32_t ChecksumDropped = 0;
};

class TCommand : public QObject, public TDeviceOwner {
    Q_OBJECT
public:
    static constexpr int MaxPackets = 1024;
    // Most bytes taken from the device per data notification.
    static constexpr int32_t ReadChunkSize = 4096;

    explicit TCommand(QObject* owner);
    ~TCommand() override;

    // Adds `device` to the list and forwards its reports to OnTransportReport.
    void AddDevice(TDevice* device);
    int DeviceCount() const override { return static_cast<int>(FDevices.size()); }
    // The device at `index`; throws std::out_of_range ("Index out of bounds
    // (N).") for an index at or past the end, or a negative one.
    TDevice* Devices(int index) const override;
    TDevice* CurrentDevice() const { return FCurrentDevice; }

    bool IsConnected() const;
    // Asks the interface chooser, closes the current device, and opens the
    // chosen one: E_CMD_ABORTED when the choice was cancelled (an open
    // device stays open), E_NOT_INITIALIZED without a chooser, otherwise
    // the device's status. On success the packet queue and the assembler
    // start afresh.
    TStat Connect();
    // As Connect with the device and port given: E_INVALID_PARAMETER for an
    // index outside the device list. The device still asks its own
    // parameter source.
    TStat Connect(int deviceIndex, const QString& portName);
    // Opens the device of the parameters' kind with them, asking no one:
    // E_INVALID_PARAMETER when no device takes them.
    TStat Connect(const TConnectionParams& params);
    // The parameters of the current connection, or of the last one made;
    // empty before the first.
    std::optional<TConnectionParams> ConnectionParams() const;
    // The cause and remedy the device gave when the last Connect failed to
    // open it (TDevice::OpenFailure); empty after a success.
    QString OpenFailure() const { return FOpenFailure; }
    // Closes the current device; queued packets stay.
    void Disconnect();
    // Counted since the last successful Connect (kept after a disconnect).
    TLinkCounters Counters() const;
    // Frames p and writes it to the current device in one write:
    // E_NOT_INITIALIZED without an open device, E_INVALID_PARAMETER for a
    // packet that cannot be framed, otherwise the device's write status.
    TStat SendPacket(const TPacket& p);

    // The current device's data event: reads up to ReadChunkSize bytes and
    // assembles them into packets. While a transaction waits (no packet
    // event), it reads no more than the packet queue can still take; the
    // rest stays in the device until the queue has room again, and reads
    // stay limited so until the queue has been emptied. Bytes that were
    // already in the device at the previous read, or when a read was put off
    // for lack of room, are never cut apart by the assembler's gap rule,
    // however long the packet handlers ran in between.
    void DataAvailable(TDevice* sender, int32_t count);
    // Feeds one received byte to the assembler.
    void ProcessByte(uint8_t b);

    // Frames with a wrong checksum and bytes that belonged to no frame, as
    // the assembler finds them (empty handlers: not looked for).
    void SetFaultEvents(TFrameAssembler::TBadFrameEvent badFrame, TFrameAssembler::TStrayEvent stray)
    {
        FAssembler.OnBadFrame = std::move(badFrame);
        FAssembler.OnStray = std::move(stray);
    }

    int PacketCount() const { return FPackets.Count(); }
    // Takes the oldest queued packet; false when none waits. Reading bytes
    // held back for a full queue resumes once it has room.
    bool GetPacket(TPacket& p);

    // Forwarded as the current device's connect and disconnect events (the
    // sender is the device). Setting one takes effect at once.
    void SetOnConnect(TNotifyEvent handler) { FOnConnect = std::move(handler); }
    void SetOnDisconnect(TNotifyEvent handler) { FOnDisconnect = std::move(handler); }
    // Fired for every valid frame received (also when the full queue had to
    // drop it). For bytes from the device it fires on the next pass of the
    // event loop, after the device's data notification has returned.
    TNotifyEvent OnPacket;

    // The packet event fires right after the device's notification has
    // handed its bytes over, within it: for a packet handler that never
    // waits for further answers (the session engine), which saves a pass of
    // the event loop per answer.
    void SetDirectPacketEvents(bool direct) { FDirectPacketEvents = direct; }

    // Chooses device and port for Connect().
    TInterfaceChooser InterfaceChooser;
    // Fired for the reports of every device in the list (the sender is the
    // device): a lost link, or a transport error nobody else handled.
    TReportEvent OnTransportReport;

private:
    TStat OpenDevice(int index, const std::function<TStat(TDevice*)>& open);
    void InstallConnectionEvents(TDevice* device);
    void FrameReceived(TPacket&& packet);
    void FirePacketEvents();
    void ResumeReading();

    std::vector<TDevice*> FDevices;
    TDevice* FCurrentDevice = nullptr;
    TDevice* FLastDevice = nullptr; // of the last successful Connect
    QString FOpenFailure;
    TPacketBuffer FPackets{MaxPackets};
    TFrameAssembler FAssembler;
    TNotifyEvent FOnConnect;
    TNotifyEvent FOnDisconnect;
    int FFramesToAnnounce = 0;
    bool FAnnouncementQueued = false;
    bool FDirectPacketEvents = false;
    bool FLimitReads = false;   // reads fit the queue's room until it is empty
    bool FReadHeldBack = false; // bytes were left in the device for lack of room
    bool FResumeQueued = false;
    // Bytes left in the device by the last read: they had been received by
    // then, so the next read continues that one without a pause.
    int32_t FBytesLeftInDevice = 0;
    uint32_t FSentPackets = 0;
    uint32_t FReceivedPackets = 0;
};
