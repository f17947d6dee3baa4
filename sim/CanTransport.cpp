#include "CanTransport.h"

#include "SimHost.h"
#include "SimSession.h"

#include <QCanBus>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>

namespace {
constexpr quint32 MaxStandardId = 0x7FF;
constexpr qsizetype MaxClassicPayload = 8;
}

TCanTransport::TCanTransport(TSimHost& host, const QString& plugin, const QString& interface, quint32 requestId,
    QObject* parent)
    : QObject(parent), FHost(host), FPlugin(plugin), FInterface(interface), FRequestId(requestId)
{
    FRejoinTimer.setSingleShot(true);
    connect(&FRejoinTimer, &QTimer::timeout, this, &TCanTransport::Rejoin);
}

TCanTransport::~TCanTransport()
{
    delete FSession;
    FSession = nullptr;
    if (FDevice)
        FDevice->disconnectDevice();
}

bool TCanTransport::Offered(QString& error) const
{
    // Some plugins make a device for any name and quietly use another
    // interface for one they cannot use (virtualcan joins can0): only a name
    // the plugin lists is taken, unless it cannot list its interfaces.
    QString why;
    const QList<QCanBusDeviceInfo> offered = QCanBus::instance()->availableDevices(FPlugin, &why);
    if (!why.isEmpty() || offered.isEmpty())
        return true;
    QStringList names;
    for (const QCanBusDeviceInfo& info : offered) {
        if (info.name() == FInterface)
            return true;
        names.append(info.name());
    }
    error = QStringLiteral("no CAN interface %1:%2; %1 offers %3").arg(FPlugin, FInterface, names.join(QStringLiteral(", ")));
    return false;
}

bool TCanTransport::Open(QString& error)
{
    if (!Offered(error))
        return false;
    QString why;
    FDevice.reset(QCanBus::instance()->createDevice(FPlugin, FInterface, &why));
    if (FDevice && FDevice->error() != QCanBusDevice::NoError)
        why = FDevice->errorString();
    if (!FDevice || !why.isEmpty()) {
        error = QStringLiteral("cannot create CAN device %1:%2: %3").arg(FPlugin, FInterface, why);
        return false;
    }
    connect(FDevice.get(), &QCanBusDevice::framesReceived, this, &TCanTransport::ReadFrames);
    connect(FDevice.get(), &QCanBusDevice::errorOccurred, this, [this](QCanBusDevice::CanBusError) {
        std::fprintf(stderr, "[can] %s\n", qPrintable(FDevice->errorString()));
    });
    if (!FDevice->connectDevice() || !WaitConnected()) {
        error = QStringLiteral("cannot join CAN bus %1:%2: %3")
                    .arg(FPlugin, FInterface,
                        FDevice->errorString().isEmpty() ? QStringLiteral("no connection") : FDevice->errorString());
        return false;
    }
    Rejoin();
    std::printf("can %s:%s id %u\n", qPrintable(FPlugin), qPrintable(FInterface), FRequestId);
    std::fflush(stdout);
    return true;
}

bool TCanTransport::WaitConnected()
{
    // Some plugins (virtualcan) connect in the background.
    if (FDevice->state() == QCanBusDevice::ConnectingState) {
        QEventLoop loop;
        QTimer::singleShot(ConnectTimeoutMs, &loop, &QEventLoop::quit);
        connect(FDevice.get(), &QCanBusDevice::stateChanged, &loop, [&loop](QCanBusDevice::CanBusDeviceState state) {
            if (state != QCanBusDevice::ConnectingState)
                loop.quit();
        });
        loop.exec();
    }
    return FDevice->state() == QCanBusDevice::ConnectedState;
}

void TCanTransport::Rejoin()
{
    if (FDevice->state() == QCanBusDevice::UnconnectedState && !FDevice->connectDevice()) {
        std::fprintf(stderr, "[can] cannot rejoin the bus: %s\n", qPrintable(FDevice->errorString()));
        return;
    }
    FSession = FHost.OpenSession(QStringLiteral("can"), [this](const QByteArray& bytes) { Write(bytes); }, this);
    connect(FSession, &TSimSession::closeRequested, this, &TCanTransport::LeaveBus);
}

void TCanTransport::ReadFrames()
{
    while (FDevice->framesAvailable() > 0) {
        const QCanBusFrame frame = FDevice->readFrame();
        if (!FSession || frame.frameType() != QCanBusFrame::DataFrame || frame.frameId() != FRequestId)
            continue;
        const QByteArray data = frame.payload();
        FSession->Receive(data.constData(), data.size());
    }
}

void TCanTransport::Write(const QByteArray& bytes)
{
    if (FDevice->state() != QCanBusDevice::ConnectedState)
        return;
    const quint32 id = FRequestId + 1;
    for (qsizetype at = 0; at < bytes.size(); at += MaxClassicPayload) {
        QCanBusFrame frame(id, bytes.mid(at, std::min(MaxClassicPayload, bytes.size() - at)));
        frame.setExtendedFrameFormat(id > MaxStandardId);
        FDevice->writeFrame(frame);
    }
}

void TCanTransport::LeaveBus()
{
    // The session may be the sender of this call: it goes later. The frames
    // already written get a moment to leave before the device disconnects.
    FSession->Retire();
    FSession = nullptr;
    QTimer::singleShot(LeaveGraceMs, this, [this] {
        FDevice->disconnectDevice();
        FRejoinTimer.start(RejoinDelayMs);
    });
}
