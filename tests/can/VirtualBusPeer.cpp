#include "VirtualBusPeer.h"

#include "../transports/TransportTestSupport.h"

#include <QCanBus>
#include <QTcpServer>

#include <atomic>

namespace {

std::atomic<bool> SecondNetOffered = true;

quint16 BusPort()
{
    static const quint16 port = [] {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : quint16(0);
    }();
    return port;
}

} // namespace

QString VirtualInterfaceName(const QString& channel)
{
    return QStringLiteral("tcp://127.0.0.1:%1/%2").arg(BusPort()).arg(channel);
}

void UseVirtualBus()
{
    static const bool installed = [] {
        canSetInterfaceSource([] {
            std::vector<TCanInterface> offered{{QStringLiteral("virtualcan"), VirtualInterfaceName("can0")}};
            if (SecondNetOffered)
                offered.push_back({QStringLiteral("virtualcan"), VirtualInterfaceName("can1")});
            return offered;
        });
        // The first virtual interface of a process starts the bus server on
        // its thread: let that be the driver's thread, which never blocks.
        NTCAN_HANDLE handle = -1;
        if (canOpen(0, 0, 64, 64, 100, 100, &handle) == NTCAN_SUCCESS)
            canClose(handle);
        return true;
    }();
    (void)installed;
}

void OfferSecondNet(bool offered)
{
    SecondNetOffered = offered;
}

TVirtualBusPeer::TVirtualBusPeer()
    : FDevice(QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), VirtualInterfaceName("can0")))
{
    if (!FDevice)
        return;
    QObject::connect(FDevice.get(), &QCanBusDevice::framesReceived, [this] {
        for (const QCanBusFrame& frame : FDevice->readAllFrames()) {
            if (frame.frameId() == static_cast<QCanBusFrame::FrameId>(SyncId))
                ++SyncFrames;
            else
                Received.push_back(frame);
        }
    });
    if (FDevice->connectDevice())
        WaitFor([this] { return Connected(); });
}

TVirtualBusPeer::~TVirtualBusPeer()
{
    if (FDevice)
        FDevice->disconnectDevice();
}

bool TVirtualBusPeer::Connected() const
{
    return FDevice && FDevice->state() == QCanBusDevice::ConnectedState;
}

void TVirtualBusPeer::Send(const QCanBusFrame& frame)
{
    if (FDevice)
        FDevice->writeFrame(frame);
}

void TVirtualBusPeer::EnableFlexibleDataRate()
{
    if (FDevice)
        FDevice->setConfigurationParameter(QCanBusDevice::CanFdKey, true);
}
