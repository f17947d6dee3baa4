#include "FakeNtcan.h"

#include <algorithm>
#include <chrono>

TFakeNtcan& TFakeNtcan::Instance()
{
    static TFakeNtcan fake;
    return fake;
}

void TFakeNtcan::Reset()
{
    std::lock_guard lock(FLock);
    PresentNets.clear();
    for (int net = 0; net <= 20; ++net)
        PresentNets.insert(net);
    OpenResult = BaudrateResult = IdAddResult = SendResult = NTCAN_SUCCESS;
    RxWaitMs = 0;
    Opens.clear();
    Baudrates.clear();
    IdsAdded.clear();
    Sent.clear();
    Closed.clear();
    Ioctls.clear();
    FReads.clear();
    FOpen.clear();
    FReadCalls = 0;
    FTimedOutReads = 0;
}

void TFakeNtcan::QueueRead(const CMSG& msg, NTCAN_RESULT result)
{
    {
        std::lock_guard lock(FLock);
        FReads.push_back({msg, result});
    }
    FChanged.notify_all();
}

std::set<NTCAN_HANDLE> TFakeNtcan::OpenHandles() const
{
    std::lock_guard lock(FLock);
    return FOpen;
}

int TFakeNtcan::ReadCalls() const
{
    std::lock_guard lock(FLock);
    return FReadCalls;
}

int TFakeNtcan::TimedOutReads() const
{
    std::lock_guard lock(FLock);
    return FTimedOutReads;
}

size_t TFakeNtcan::PendingReads() const
{
    std::lock_guard lock(FLock);
    return FReads.size();
}

NTCAN_RESULT FakeOpen(int net, uint32_t flags, int32_t txqueuesize, int32_t rxqueuesize, int32_t txtimeout,
    int32_t rxtimeout, NTCAN_HANDLE* handle)
{
    TFakeNtcan& fake = TFakeNtcan::Instance();
    std::lock_guard lock(fake.FLock);
    fake.Opens.push_back({net, flags, txqueuesize, rxqueuesize, txtimeout, rxtimeout});
    if (fake.OpenResult != NTCAN_SUCCESS)
        return fake.OpenResult;
    if (fake.PresentNets.count(net) == 0)
        return NTCAN_NET_NOT_FOUND;
    *handle = fake.FNextHandle++;
    fake.FOpen.insert(*handle);
    fake.FRxTimeout = rxtimeout;
    return NTCAN_SUCCESS;
}

NTCAN_RESULT FakeClose(NTCAN_HANDLE handle)
{
    TFakeNtcan& fake = TFakeNtcan::Instance();
    {
        std::lock_guard lock(fake.FLock);
        fake.Closed.push_back(handle);
        if (fake.FOpen.erase(handle) == 0)
            return NTCAN_INVALID_HANDLE;
    }
    fake.FChanged.notify_all();
    return NTCAN_SUCCESS;
}

NTCAN_RESULT FakeSetBaudrate(NTCAN_HANDLE handle, uint32_t baud)
{
    TFakeNtcan& fake = TFakeNtcan::Instance();
    std::lock_guard lock(fake.FLock);
    fake.Baudrates.push_back(baud);
    if (fake.FOpen.count(handle) == 0)
        return NTCAN_INVALID_HANDLE;
    return fake.BaudrateResult;
}

NTCAN_RESULT FakeIdAdd(NTCAN_HANDLE handle, int32_t id)
{
    TFakeNtcan& fake = TFakeNtcan::Instance();
    std::lock_guard lock(fake.FLock);
    fake.IdsAdded.push_back(id);
    if (fake.FOpen.count(handle) == 0)
        return NTCAN_INVALID_HANDLE;
    return fake.IdAddResult;
}

NTCAN_RESULT FakeRead(NTCAN_HANDLE handle, CMSG* cmsg, int32_t* len, void*)
{
    TFakeNtcan& fake = TFakeNtcan::Instance();
    std::unique_lock lock(fake.FLock);
    ++fake.FReadCalls;
    if (fake.FOpen.count(handle) == 0 || *len != 1)
        return NTCAN_INVALID_HANDLE;
    const uint64_t generation = fake.FAbortGeneration;
    const int32_t wait = fake.RxWaitMs > 0 ? fake.RxWaitMs : fake.FRxTimeout;
    fake.FChanged.wait_for(lock, std::chrono::milliseconds(wait),
        [&] { return !fake.FReads.empty() || fake.FAbortGeneration != generation || fake.FOpen.count(handle) == 0; });
    if (fake.FReads.empty()) {
        *len = 0;
        if (fake.FAbortGeneration != generation)
            return NTCAN_OPERATION_ABORTED;
        ++fake.FTimedOutReads;
        return NTCAN_RX_TIMEOUT;
    }
    const TFakeNtcan::TQueuedRead read = fake.FReads.front();
    fake.FReads.pop_front();
    if (read.Result != NTCAN_SUCCESS) {
        *len = 0;
        return read.Result;
    }
    *cmsg = read.Msg;
    *len = 1;
    return NTCAN_SUCCESS;
}

NTCAN_RESULT FakeSend(NTCAN_HANDLE handle, CMSG* cmsg, int32_t* len)
{
    TFakeNtcan& fake = TFakeNtcan::Instance();
    std::lock_guard lock(fake.FLock);
    if (fake.FOpen.count(handle) == 0 || *len != 1)
        return NTCAN_INVALID_HANDLE;
    if (fake.SendResult != NTCAN_SUCCESS) {
        *len = 0;
        return fake.SendResult;
    }
    fake.Sent.push_back(*cmsg);
    return NTCAN_SUCCESS;
}

NTCAN_RESULT FakeIoctl(NTCAN_HANDLE handle, uint32_t ulCmd, void*)
{
    TFakeNtcan& fake = TFakeNtcan::Instance();
    {
        std::lock_guard lock(fake.FLock);
        fake.Ioctls.push_back(ulCmd);
        if (fake.FOpen.count(handle) == 0)
            return NTCAN_INVALID_HANDLE;
        if (ulCmd == NTCAN_IOCTL_ABORT_RX)
            ++fake.FAbortGeneration;
    }
    fake.FChanged.notify_all();
    return NTCAN_SUCCESS;
}

TCanInterface FakeInterface(int net)
{
    return {QStringLiteral("fake"), QStringLiteral("net%1").arg(net)};
}

NTCAN_RESULT FakeNetInterface(int net, TCanInterface* iface)
{
    TFakeNtcan& fake = TFakeNtcan::Instance();
    std::lock_guard lock(fake.FLock);
    if (fake.PresentNets.count(net) == 0)
        return NTCAN_NET_NOT_FOUND;
    *iface = FakeInterface(net);
    return NTCAN_SUCCESS;
}

NTCAN_RESULT FakeInterfaceNet(const TCanInterface& iface, int* net)
{
    TFakeNtcan& fake = TFakeNtcan::Instance();
    std::lock_guard lock(fake.FLock);
    for (int present : fake.PresentNets) {
        if (FakeInterface(present) == iface) {
            *net = present;
            return NTCAN_SUCCESS;
        }
    }
    return NTCAN_NET_NOT_FOUND;
}

TNtcanApi TFakeNtcan::Api()
{
    TNtcanApi api;
    api.Open = &FakeOpen;
    api.Close = &FakeClose;
    api.SetBaudrate = &FakeSetBaudrate;
    api.IdAdd = &FakeIdAdd;
    api.Read = &FakeRead;
    api.Send = &FakeSend;
    api.Ioctl = &FakeIoctl;
    api.NetInterface = &FakeNetInterface;
    api.InterfaceNet = &FakeInterfaceNet;
    return api;
}

CMSG MakeMsg(int32_t id, std::initializer_list<uint8_t> bytes)
{
    CMSG msg;
    msg.id = id;
    msg.len = static_cast<uint8_t>(bytes.size());
    std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 8), msg.data);
    return msg;
}
