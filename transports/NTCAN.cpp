#include "NTCAN.h"

#include "CanNet.h"

#include <QCanBus>
#include <QCanBusDeviceInfo>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

namespace {

// A fresh scan of the plugins is made at most this often; the port scan
// opens up to 21 nets in a row and needs only one.
constexpr auto RescanInterval = std::chrono::seconds(1);

const QString VirtualPlugin = QStringLiteral("virtualcan");

struct TBitrate {
    uint32_t Code;
    uint32_t BitsPerSecond;
};

constexpr TBitrate Bitrates[] = {
    {NTCAN_BAUD_1000, 1000000},
    {NTCAN_BAUD_500, 500000},
    {NTCAN_BAUD_250, 250000},
    {NTCAN_BAUD_125, 125000},
    {NTCAN_BAUD_100, 100000},
    {NTCAN_BAUD_50, 50000},
    {NTCAN_BAUD_20, 20000},
    {NTCAN_BAUD_10, 10000},
};

// Open handles and the net numbers given to interfaces so far.
struct TNets {
    std::mutex Lock;
    std::map<NTCAN_HANDLE, std::shared_ptr<TCanNet>> Open;
    NTCAN_HANDLE NextHandle = 1;
    TCanInterfaceSource Source;
    std::vector<TCanInterface> Numbered;
    std::chrono::steady_clock::time_point LastScan;
    bool Scanned = false;
};

TNets& Nets()
{
    static TNets nets;
    return nets;
}

// Brings the numbering up to date: interfaces seen for the first time get
// the next free numbers; interfaces that went away keep theirs. `force`
// scans even when the last scan is recent.
void Rescan(TNets& nets, bool force = false)
{
    const auto now = std::chrono::steady_clock::now();
    if (!force && nets.Scanned && now - nets.LastScan < RescanInterval)
        return;
    const std::vector<TCanInterface> found = nets.Source ? nets.Source() : canDiscoverInterfaces();
    for (const TCanInterface& iface : found)
        if (std::find(nets.Numbered.begin(), nets.Numbered.end(), iface) == nets.Numbered.end())
            nets.Numbered.push_back(iface);
    nets.LastScan = now;
    nets.Scanned = true;
}

std::shared_ptr<TCanNet> FindNet(NTCAN_HANDLE handle)
{
    TNets& nets = Nets();
    std::lock_guard lock(nets.Lock);
    const auto it = nets.Open.find(handle);
    return it == nets.Open.end() ? nullptr : it->second;
}

// Whether `iface` is still offered: by the installed source, or else by its
// own plugin (asking only that one plugin keeps the check cheap).
bool StillPresent(const TCanInterface& iface)
{
    TCanInterfaceSource source;
    {
        TNets& nets = Nets();
        std::lock_guard lock(nets.Lock);
        source = nets.Source;
    }
    if (source) {
        const std::vector<TCanInterface> offered = source();
        return std::find(offered.begin(), offered.end(), iface) != offered.end();
    }
    QString error;
    const QList<QCanBusDeviceInfo> offered = QCanBus::instance()->availableDevices(iface.Plugin, &error);
    if (!error.isEmpty())
        return true; // the plugin cannot tell at the moment
    return std::any_of(offered.begin(), offered.end(),
        [&iface](const QCanBusDeviceInfo& info) { return info.name() == iface.Name; });
}

} // namespace

std::vector<TCanInterface> canDiscoverInterfaces()
{
    static const QStringList hardwareOrder = {QStringLiteral("socketcan"), QStringLiteral("peakcan"),
        QStringLiteral("systeccan"), QStringLiteral("vectorcan"), QStringLiteral("tinycan"),
        QStringLiteral("passthrucan")};
    QStringList others = QCanBus::instance()->plugins();
    others.sort();
    QStringList plugins;
    for (const QString& plugin : hardwareOrder)
        if (others.removeAll(plugin) > 0)
            plugins.append(plugin);
    const bool hasVirtual = others.removeAll(VirtualPlugin) > 0;
    plugins.append(others);
    if (hasVirtual)
        plugins.append(VirtualPlugin);

    std::vector<TCanInterface> result;
    for (const QString& plugin : plugins)
        for (const QCanBusDeviceInfo& info : QCanBus::instance()->availableDevices(plugin))
            result.push_back({plugin, info.name()});
    return result;
}

QString canResultText(NTCAN_RESULT result)
{
    switch (result) {
    case NTCAN_SUCCESS:
        return QStringLiteral("no error");
    case NTCAN_RX_TIMEOUT:
        return QStringLiteral("no CAN frame received in time");
    case NTCAN_TX_TIMEOUT:
        return QStringLiteral("the CAN frame was not sent in time");
    case NTCAN_TX_ERROR:
        return QStringLiteral("the CAN interface refused the frame");
    case NTCAN_OPERATION_ABORTED:
        return QStringLiteral("the CAN receive was aborted");
    case NTCAN_NET_NOT_FOUND:
        return QStringLiteral("the CAN net was not found");
    case NTCAN_INVALID_HANDLE:
        return QStringLiteral("the CAN net is not open");
    case NTCAN_INVALID_PARAMETER:
        return QStringLiteral("invalid CAN parameter");
    case NTCAN_NET_LOST:
        return QStringLiteral("the CAN interface went away");
    default:
        return QStringLiteral("CAN error %1").arg(result);
    }
}

void canSetInterfaceSource(TCanInterfaceSource source)
{
    TNets& nets = Nets();
    std::lock_guard lock(nets.Lock);
    nets.Source = std::move(source);
    nets.Numbered.clear();
    nets.Scanned = false;
}

NTCAN_RESULT canNetInterface(int net, TCanInterface* iface)
{
    if (!iface)
        return NTCAN_INVALID_PARAMETER;
    TNets& nets = Nets();
    std::lock_guard lock(nets.Lock);
    Rescan(nets);
    if (net < 0 || static_cast<size_t>(net) >= nets.Numbered.size())
        return NTCAN_NET_NOT_FOUND;
    *iface = nets.Numbered[static_cast<size_t>(net)];
    return NTCAN_SUCCESS;
}

NTCAN_RESULT canInterfaceNet(const TCanInterface& iface, int* net)
{
    if (!net)
        return NTCAN_INVALID_PARAMETER;
    TNets& nets = Nets();
    std::lock_guard lock(nets.Lock);
    // A fresh scan: the interface may have appeared since the last one.
    Rescan(nets, true);
    const auto found = std::find(nets.Numbered.begin(), nets.Numbered.end(), iface);
    if (found == nets.Numbered.end())
        return NTCAN_NET_NOT_FOUND;
    *net = static_cast<int>(found - nets.Numbered.begin());
    return NTCAN_SUCCESS;
}

NTCAN_RESULT canOpen(int net, uint32_t flags, int32_t txqueuesize, int32_t rxqueuesize,
    int32_t txtimeout, int32_t rxtimeout, NTCAN_HANDLE* handle)
{
    if (!handle || flags != 0 || txqueuesize <= 0 || rxqueuesize <= 0 || txtimeout < 0 || rxtimeout < 0)
        return NTCAN_INVALID_PARAMETER;
    TCanInterface iface;
    {
        TNets& nets = Nets();
        std::lock_guard lock(nets.Lock);
        Rescan(nets);
        if (net < 0 || static_cast<size_t>(net) >= nets.Numbered.size())
            return NTCAN_NET_NOT_FOUND;
        iface = nets.Numbered[static_cast<size_t>(net)];
    }
    auto opened = std::make_shared<TCanNet>(iface, txtimeout, rxtimeout, [iface] { return StillPresent(iface); });
    const NTCAN_RESULT result = opened->Open();
    if (result != NTCAN_SUCCESS)
        return result;
    TNets& nets = Nets();
    std::lock_guard lock(nets.Lock);
    *handle = nets.NextHandle++;
    nets.Open.emplace(*handle, std::move(opened));
    return NTCAN_SUCCESS;
}

NTCAN_RESULT canClose(NTCAN_HANDLE handle)
{
    std::shared_ptr<TCanNet> net;
    {
        TNets& nets = Nets();
        std::lock_guard lock(nets.Lock);
        const auto it = nets.Open.find(handle);
        if (it == nets.Open.end())
            return NTCAN_INVALID_HANDLE;
        net = std::move(it->second);
        nets.Open.erase(it);
    }
    net->Close();
    return NTCAN_SUCCESS;
}

NTCAN_RESULT canSetBaudrate(NTCAN_HANDLE handle, uint32_t baud)
{
    const auto rate = std::find_if(std::begin(Bitrates), std::end(Bitrates),
        [baud](const TBitrate& entry) { return entry.Code == baud; });
    if (rate == std::end(Bitrates))
        return NTCAN_INVALID_PARAMETER;
    const auto net = FindNet(handle);
    return net ? net->SetBitrate(rate->BitsPerSecond) : NTCAN_INVALID_HANDLE;
}

NTCAN_RESULT canIdAdd(NTCAN_HANDLE handle, int32_t id)
{
    const auto net = FindNet(handle);
    return net ? net->AddId(id) : NTCAN_INVALID_HANDLE;
}

NTCAN_RESULT canRead(NTCAN_HANDLE handle, CMSG* cmsg, int32_t* len, void* ovrlppd)
{
    if (ovrlppd)
        return NTCAN_INVALID_PARAMETER;
    const auto net = FindNet(handle);
    return net ? net->Read(cmsg, len) : NTCAN_INVALID_HANDLE;
}

NTCAN_RESULT canSend(NTCAN_HANDLE handle, CMSG* cmsg, int32_t* len)
{
    const auto net = FindNet(handle);
    return net ? net->Send(cmsg, len) : NTCAN_INVALID_HANDLE;
}

NTCAN_RESULT canIoctl(NTCAN_HANDLE handle, uint32_t ulCmd, void* pArg)
{
    (void)pArg;
    if (ulCmd != NTCAN_IOCTL_ABORT_RX)
        return NTCAN_INVALID_PARAMETER;
    const auto net = FindNet(handle);
    if (!net)
        return NTCAN_INVALID_HANDLE;
    net->AbortRead();
    return NTCAN_SUCCESS;
}
