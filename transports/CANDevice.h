#pragma once
// The CAN device: the gripper's byte stream over a CAN bus. Outgoing bytes go
// out in frames of up to 8 data bytes with identifier TxId; the data bytes of
// incoming frames with identifier TxId + 1 are joined back into a stream by
// the receive thread TCANRxThread, which fills the 512-byte RxQueue and hands
// each notification to the main thread.
#include "ByteQueue.h"
#include "DeviceComponent.h"
#include "NTCAN.h"

#include <QThread>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// Receive thread of an open CAN net. It reads frames, appends their data
// bytes to the queue and, after each frame, hands a notification to the main
// thread and waits until it has run. When the queue is full it hands one over,
// waits 100 ms and tries the same byte again, so no byte is lost while the
// device is open. Every wait ends as soon as the thread is told to terminate,
// so Close never waits for a notification that cannot run.
class TCANRxThread : public QThread {
    Q_OBJECT
public:
    using TNotify = std::function<void()>;
    using TLinkLost = std::function<void(NTCAN_RESULT result)>;

    // Notifications run in the thread of `context` (the device): `notify`
    // after received bytes, `linkLost` once when reading fails for another
    // reason than a timeout or an abort, after which the thread ends.
    // Throws std::logic_error("rx queue not assigned") without a queue.
    TCANRxThread(TByteQueue* queue, std::mutex* queueLock, NTCAN_HANDLE handle, const TNtcanApi& api,
        QObject* context, TNotify notify, TLinkLost linkLost);
    ~TCANRxThread() override;

    // Tells the thread to terminate and releases every wait it is in.
    void Terminate();

    // Pause before a byte that did not fit into the full queue is tried again.
    static constexpr int FullQueueRetryMs = 100;

protected:
    void run() override;

private:
    // Shared with the notifications in flight, which may outlive the thread.
    struct THandOff {
        std::mutex Lock;
        std::condition_variable Changed;
        bool Terminated = false;
        uint64_t Posted = 0;
        uint64_t Served = 0;
    };

    bool Terminated() const;
    bool Append(uint8_t byte);
    void HandOver(const std::function<void()>& work);
    void SleepUnlessTerminated(int ms);

    TByteQueue* FQueue;
    std::mutex* FQueueLock;
    const NTCAN_HANDLE FHandle;
    const TNtcanApi FApi;
    QObject* FContext;
    TNotify FNotify;
    TLinkLost FLinkLost;
    std::shared_ptr<THandOff> FHandOff;
};

class TCANDevice : public TDevice {
    Q_OBJECT
public:
    // A bit rate offered: driver code, kbit/s and the text the operator sees.
    struct TBitrate {
        uint32_t Code;
        int32_t KBits;
        const char* Text;
    };
    // Slowest first, as the bit-rate list shows them.
    static constexpr std::array<TBitrate, 8> Bitrates = {{
        {NTCAN_BAUD_10, 10, "10 kBit/s"},
        {NTCAN_BAUD_20, 20, "20 kBit/s"},
        {NTCAN_BAUD_50, 50, "50 kBit/s"},
        {NTCAN_BAUD_100, 100, "100 kBit/s"},
        {NTCAN_BAUD_125, 125, "125 kBit/s"},
        {NTCAN_BAUD_250, 250, "250 kBit/s"},
        {NTCAN_BAUD_500, 500, "500 kBit/s"},
        {NTCAN_BAUD_1000, 1000, "1 MBit/s"},
    }};

    // Gets the parameters of the coming opening (bit rate 250 kBit/s, the
    // interface of the chosen net, the identifier of the last opening) and
    // may change bit rate and identifier; false cancels the opening.
    using TParamSource = std::function<bool(TCANParams& params)>;

    // `api` is the CAN driver the device talks to.
    explicit TCANDevice(QObject* owner, const TNtcanApi& api = TNtcanApi());
    ~TCANDevice() override;

    // Asked by Open after the port name was found to name a net.
    TParamSource ParamSource;

    bool IsOpen() const override;
    TStat Open(const QString& portName) override;
    // An interface the machine does not offer: E_NOT_FOUND; otherwise as
    // Open after its parameters were given.
    TStat OpenWith(const TConnectionParams& params) override;
    // Starts from no interface, 250 kBit/s and identifier 100.
    std::optional<TConnectionParams> Params() const override { return FParams; }
    TStat Close() override;
    int32_t BytesAvailable() override;
    int32_t Read(uint8_t* buffer, int32_t count) override;
    TStat Write(const uint8_t* buffer, int32_t count) override;
    // "Net <n>" for each net from 0 to 20 that opens, or "not installed".
    void GetPortList(QStringList& list) override;
    // "Net <n> (<plugin>:<interface>)" for a net the driver can name.
    QString PortLabel(const QString& portName) const override;

    NTCAN_HANDLE NetHandle() const { return FNetHandle; }
    int32_t TxId() const { return FTxId; }

    // Arguments of canOpen.
    static constexpr int32_t TxQueueSize = 64;
    static constexpr int32_t RxQueueSize = 64;
    static constexpr int32_t TxTimeoutMs = 100;
    static constexpr int32_t RxTimeoutMs = 100;
    static constexpr int HighestNet = 20;
    static constexpr uint32_t RxQueueCapacity = 512;
    // How long Close waits for the receive thread before releasing its read
    // again.
    static constexpr int AbortRetryMs = 5;

private:
    TStat OpenOnNet(int net, const TCANParams& params);
    TStat OpenNet(int net, const TCANParams& params);
    void CloseNet();
    void RxNotify();
    void RxLinkLost(NTCAN_RESULT result);

    const TNtcanApi FApi;
    TCANParams FParams;
    TCANRxThread* FRxThread = nullptr;
    TByteQueue FRxQueue{RxQueueCapacity};
    // The receive thread appends while the main thread may read outside a
    // notification (bytes handed out again later, or on a lost link).
    std::mutex FRxQueueLock;
    NTCAN_HANDLE FNetHandle = -1;
    int32_t FTxId = 0;
};
