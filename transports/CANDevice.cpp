#include "CANDevice.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace {

const QString NetPrefix = QStringLiteral("Net ");
constexpr int MaxFrameBytes = 8;

// The net number of a port name "Net <n>" (blanks before the digits
// allowed); -1 when the name names no net.
int NetNumber(const QString& portName)
{
    if (!portName.startsWith(NetPrefix))
        return -1;
    QString digits = portName.mid(NetPrefix.size() - 1);
    while (digits.startsWith(QLatin1Char(' ')))
        digits.remove(0, 1);
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); }))
        return -1;
    bool ok = false;
    const int net = digits.toInt(&ok, 10);
    return ok ? net : -1;
}

} // namespace

// ---------------------------------------------------------------------------
// TCANRxThread

TCANRxThread::TCANRxThread(TByteQueue* queue, std::mutex* queueLock, NTCAN_HANDLE handle, const TNtcanApi& api,
    QObject* context, TNotify notify, TLinkLost linkLost)
    : FQueue(queue)
    , FQueueLock(queueLock)
    , FHandle(handle)
    , FApi(api)
    , FContext(context)
    , FNotify(std::move(notify))
    , FLinkLost(std::move(linkLost))
    , FHandOff(std::make_shared<THandOff>())
{
    if (!FQueue || !FQueueLock)
        throw std::logic_error("rx queue not assigned");
}

TCANRxThread::~TCANRxThread()
{
    Terminate();
    wait();
}

void TCANRxThread::Terminate()
{
    {
        std::lock_guard lock(FHandOff->Lock);
        FHandOff->Terminated = true;
    }
    FHandOff->Changed.notify_all();
}

bool TCANRxThread::Terminated() const
{
    std::lock_guard lock(FHandOff->Lock);
    return FHandOff->Terminated;
}

void TCANRxThread::run()
{
    while (!Terminated()) {
        CMSG msg;
        int32_t count = 1;
        const NTCAN_RESULT result = FApi.Read(FHandle, &msg, &count, nullptr);
        if (result == NTCAN_RX_TIMEOUT || result == NTCAN_OPERATION_ABORTED)
            continue;
        if (result != NTCAN_SUCCESS) {
            // The net cannot deliver any more frames: report it once and end
            // instead of retrying a read that fails at once forever.
            HandOver([linkLost = FLinkLost, result] {
                if (linkLost)
                    linkLost(result);
            });
            return;
        }
        if (count < 1)
            continue;
        const int bytes = std::min<int>(msg.len, MaxFrameBytes);
        for (int i = 0; i < bytes; ++i)
            if (!Append(msg.data[i]))
                return;
        HandOver(FNotify);
    }
}

bool TCANRxThread::Append(uint8_t byte)
{
    for (;;) {
        {
            std::lock_guard lock(*FQueueLock);
            if (FQueue->Push(byte))
                return true;
        }
        if (Terminated())
            return false;
        // Full: let the main thread take bytes out, then try again.
        HandOver(FNotify);
        SleepUnlessTerminated(FullQueueRetryMs);
    }
}

void TCANRxThread::HandOver(const std::function<void()>& work)
{
    const std::shared_ptr<THandOff> handOff = FHandOff;
    uint64_t ticket = 0;
    {
        std::lock_guard lock(handOff->Lock);
        if (handOff->Terminated)
            return;
        ticket = ++handOff->Posted;
    }
    // The notification holds only the shared hand-off state and the work, so
    // one that runs after the thread is gone touches nothing freed, and a
    // notification arriving after Close began does nothing.
    QMetaObject::invokeMethod(
        FContext,
        [handOff, ticket, work] {
            bool run = false;
            {
                std::lock_guard lock(handOff->Lock);
                run = !handOff->Terminated;
            }
            if (run && work)
                work();
            {
                std::lock_guard lock(handOff->Lock);
                handOff->Served = std::max(handOff->Served, ticket);
            }
            handOff->Changed.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(handOff->Lock);
    handOff->Changed.wait(lock, [&] { return handOff->Served >= ticket || handOff->Terminated; });
}

void TCANRxThread::SleepUnlessTerminated(int ms)
{
    std::unique_lock lock(FHandOff->Lock);
    FHandOff->Changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FHandOff->Terminated; });
}

// ---------------------------------------------------------------------------
// TCANDevice

TCANDevice::TCANDevice(QObject* owner, const TNtcanApi& api)
    : TDevice(QStringLiteral("can"), owner)
    , FApi(api)
{
    Description = QStringLiteral("CAN-Bus");
}

TCANDevice::~TCANDevice()
{
    BeginDestruction();
    Close();
}

bool TCANDevice::IsOpen() const
{
    return FRxThread && FNetHandle != -1;
}

TStat TCANDevice::Open(const QString& portName)
{
    const int net = NetNumber(portName);
    if (net < 0)
        return E_NOT_FOUND;
    // Every opening starts at 250 kBit/s; the identifier keeps its last value.
    TCANParams params = FParams;
    params.BitrateCode = NTCAN_BAUD_250;
    if (FApi.NetInterface(net, &params.Interface) != NTCAN_SUCCESS)
        params.Interface = {};
    if (ParamSource && !ParamSource(params))
        return E_CMD_ABORTED;
    return OpenOnNet(net, params);
}

TStat TCANDevice::OpenWith(const TConnectionParams& params)
{
    const auto* can = std::get_if<TCANParams>(&params);
    if (!can)
        return E_INVALID_PARAMETER;
    int net = -1;
    if (FApi.InterfaceNet(can->Interface, &net) != NTCAN_SUCCESS)
        return E_NOT_FOUND;
    return OpenOnNet(net, *can);
}

TStat TCANDevice::OpenOnNet(int net, const TCANParams& params)
{
    if (IsOpen())
        Close();
    try {
        return OpenNet(net, params);
    } catch (const std::bad_alloc&) {
        CloseNet();
        return E_IO_ERROR;
    }
}

TStat TCANDevice::OpenNet(int net, const TCANParams& params)
{
    const int32_t id = params.TargetId;
    NTCAN_HANDLE handle = -1;
    if (FApi.Open(net, 0, TxQueueSize, RxQueueSize, TxTimeoutMs, RxTimeoutMs, &handle) != NTCAN_SUCCESS)
        return E_IO_ERROR;
    FNetHandle = handle;
    // A net that is not fully configured is closed at once: it would hold the
    // interface while the device reports itself closed.
    if (FApi.SetBaudrate(FNetHandle, params.BitrateCode) != NTCAN_SUCCESS) {
        CloseNet();
        return E_INVALID_PARAMETER;
    }
    if (id == std::numeric_limits<int32_t>::max() || FApi.IdAdd(FNetHandle, id + 1) != NTCAN_SUCCESS) {
        CloseNet();
        return E_INSUFFICIENT_RESOURCES;
    }
    if (FRxThread) {
        CloseNet();
        throw std::logic_error("rx thread was already assigned");
    }
    FRxThread = new TCANRxThread(&FRxQueue, &FRxQueueLock, FNetHandle, FApi, this,
        [this] { RxNotify(); }, [this](NTCAN_RESULT result) { RxLinkLost(result); });
    FRxThread->start();
    FTxId = id;
    FParams = params;
    StartConnectPoll();
    return E_SUCCESS;
}

void TCANDevice::CloseNet()
{
    if (FNetHandle == -1)
        return;
    FApi.Close(FNetHandle);
    FNetHandle = -1;
}

TStat TCANDevice::Close()
{
    if (FNetHandle == -1)
        return E_NOT_OPENED;
    if (FRxThread) {
        // The thread is told to end before its read is released, so it
        // starts no new read once the waiting one returns. A read it was just
        // starting when the first release came is released again until the
        // thread has ended, so the close never waits out a read's timeout.
        FRxThread->Terminate();
        do
            FApi.Ioctl(FNetHandle, NTCAN_IOCTL_ABORT_RX, nullptr);
        while (!FRxThread->wait(QDeadlineTimer(AbortRetryMs)));
        delete FRxThread;
        FRxThread = nullptr;
    }
    CloseNet();
    FireDisconnect();
    return E_SUCCESS;
}

int32_t TCANDevice::BytesAvailable()
{
    if (!IsOpen())
        return 0;
    std::lock_guard lock(FRxQueueLock);
    return static_cast<int32_t>(FRxQueue.Count());
}

int32_t TCANDevice::Read(uint8_t* buffer, int32_t count)
{
    if (!IsOpen())
        return -1;
    if (!buffer || count <= 0)
        return 0;
    std::lock_guard lock(FRxQueueLock);
    return static_cast<int32_t>(FRxQueue.Read(buffer, static_cast<uint32_t>(count)));
}

TStat TCANDevice::Write(const uint8_t* buffer, int32_t count)
{
    if (!IsOpen())
        return E_NOT_OPENED;
    if (count > 0 && !buffer)
        return E_INVALID_PARAMETER;
    for (int32_t offset = 0; offset < count; offset += MaxFrameBytes) {
        CMSG msg;
        msg.id = FTxId;
        msg.len = static_cast<uint8_t>(std::min(MaxFrameBytes, count - offset));
        std::copy_n(buffer + offset, msg.len, msg.data);
        int32_t sent = 1;
        if (FApi.Send(FNetHandle, &msg, &sent) != NTCAN_SUCCESS || sent != 1)
            return E_WRITE_ERROR;
    }
    return E_SUCCESS;
}

void TCANDevice::GetPortList(QStringList& list)
{
    list.clear();
    for (int net = 0; net <= HighestNet; ++net) {
        NTCAN_HANDLE handle = -1;
        if (FApi.Open(net, 0, TxQueueSize, RxQueueSize, TxTimeoutMs, RxTimeoutMs, &handle) != NTCAN_SUCCESS)
            continue;
        list.append(NetPrefix + QString::number(net));
        FApi.Close(handle);
    }
    if (list.isEmpty())
        list.append(QStringLiteral("not installed"));
}

QString TCANDevice::PortLabel(const QString& portName) const
{
    TCanInterface iface;
    const int net = NetNumber(portName);
    if (net < 0 || FApi.NetInterface(net, &iface) != NTCAN_SUCCESS)
        return portName;
    return QStringLiteral("%1 (%2:%3)").arg(portName, iface.Plugin, iface.Name);
}

void TCANDevice::RxNotify()
{
    NotifyDataAvailable(BytesAvailable());
}

void TCANDevice::RxLinkLost(NTCAN_RESULT result)
{
    ConnectionLost(canResultText(result));
}
