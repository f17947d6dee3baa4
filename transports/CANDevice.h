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

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class TCANParamsDlg;

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
    // `api` is the CAN driver the device talks to.
    explicit TCANDevice(QObject* owner, const TNtcanApi& api = TNtcanApi());
    ~TCANDevice() override;

    bool IsOpen() const override;
    TStat Open(const QString& portName) override;
    TStat Close() override;
    int32_t BytesAvailable() override;
    int32_t Read(uint8_t* buffer, int32_t count) override;
    TStat Write(const uint8_t* buffer, int32_t count) override;
    // "Net <n>" for each net from 0 to 20 that opens, or "not installed".
    void GetPortList(QStringList& list) override;

    NTCAN_HANDLE NetHandle() const { return FNetHandle; }
    int32_t TxId() const { return FTxId; }

    // Arguments of canOpen.
    static constexpr int32_t TxQueueSize = 64;
    static constexpr int32_t RxQueueSize = 64;
    static constexpr int32_t TxTimeoutMs = 100;
    static constexpr int32_t RxTimeoutMs = 100;
    static constexpr int HighestNet = 20;
    static constexpr uint32_t RxQueueCapacity = 512;

private:
    TStat OpenNet(int net);
    void CloseNet();
    void RxNotify();
    void RxLinkLost(NTCAN_RESULT result);

    const TNtcanApi FApi;
    TCANParamsDlg* FDialog;
    TCANRxThread* FRxThread = nullptr;
    TByteQueue FRxQueue{RxQueueCapacity};
    // The receive thread appends while the main thread may read outside a
    // notification (bytes handed out again later, or on a lost link).
    std::mutex FRxQueueLock;
    NTCAN_HANDLE FNetHandle = -1;
    int32_t FTxId = 0;
};
