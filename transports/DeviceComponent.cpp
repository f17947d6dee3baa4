#include "DeviceComponent.h"

#include "IniFile.h"

#include <QTimer>

namespace {
constexpr int ConnectPollIntervalMs = 50;
}

TDevice::TDevice(const QString& name, QObject* owner)
    : QObject(owner)
    , DeviceId(name)
{
    setObjectName(name);
    FSettings = std::make_unique<TIniFile>(SettingsFilePath(name + QStringLiteral(".cfg")));
    if (const QString problem = FSettings->Problem(); !problem.isEmpty())
        ReportSettingsProblem(
            QStringLiteral("Cannot use the settings in %1: %2; the defaults are used.").arg(FSettings->FileName(), problem),
            problem);
    FPollTimer = new QTimer(this);
    FPollTimer->setInterval(ConnectPollIntervalMs);
    connect(FPollTimer, &QTimer::timeout, this, &TDevice::PollTick);
}

TDevice::~TDevice() = default;

void TDevice::GetPortList(QStringList& list)
{
    list.clear();
}

TStat TDevice::OpenWith(const TConnectionParams&)
{
    return E_INVALID_PARAMETER;
}

std::optional<TConnectionParams> TDevice::Params() const
{
    return std::nullopt;
}

QString TDevice::GetPortName() const
{
    return FSettings->ReadString(QStringLiteral("Common"), QStringLiteral("Portname"), QString());
}

void TDevice::StartConnectPoll()
{
    FPollTimer->start();
}

void TDevice::StopConnectPoll()
{
    FPollTimer->stop();
}

bool TDevice::ConnectPollActive() const
{
    return FPollTimer->isActive();
}

void TDevice::PollTick()
{
    if (!IsOpen())
        return;
    FPollTimer->stop();
    if (OnConnect)
        OnConnect(this);
}

void TDevice::FireDisconnect()
{
    if (OnDisconnect && !FDestroying)
        OnDisconnect(this);
}

void TDevice::NotifyDataAvailable(int32_t count)
{
    if (!IsOpen() || !OnDataAvailable)
        return;
    OnDataAvailable(this, count);
    if (FRefireQueued || FDestroying || !IsOpen() || NotifiesWhileBytesWait())
        return;
    // Bytes left behind would otherwise wait for the next arrival. Fire again
    // only when the handler took something, so a handler that reads nothing
    // is not called in an endless loop.
    const int32_t left = BytesAvailable();
    if (left <= 0 || left >= count)
        return;
    FRefireQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            FRefireQueued = false;
            const int32_t waiting = BytesAvailable();
            if (waiting > 0)
                NotifyDataAvailable(waiting);
        },
        Qt::QueuedConnection);
}

void TDevice::NotifyFromReadNotification(int32_t count)
{
    FInReadNotification = true;
    NotifyDataAvailable(count);
    FInReadNotification = false;
}

void TDevice::DeliverPendingBytes()
{
    // Hand out what arrived before the link broke; stop when the handler
    // takes nothing more.
    int32_t waiting = BytesAvailable();
    while (waiting > 0 && IsOpen() && OnDataAvailable) {
        OnDataAvailable(this, waiting);
        const int32_t left = BytesAvailable();
        if (left >= waiting)
            break;
        waiting = left;
    }
}

void TDevice::ConnectionLost(const QString& cause)
{
    if (FLosingLink || !IsOpen())
        return;
    FLosingLink = true;
    DeliverPendingBytes();
    StopConnectPoll();
    Close();
    FLosingLink = false;
    Report(TTransportReport::LinkLost, LinkLostPrefix + cause);
}

void TDevice::StoreSettings(const QString& section, const TIniValues& values)
{
    if (FSettings->Write(section, values))
        FSettingsProblem.clear();
    else
        ReportSettingsProblem(
            QStringLiteral("Cannot save the settings in %1: %2.").arg(FSettings->FileName(), FSettings->ErrorString()),
            FSettings->ErrorString());
}

void TDevice::ReportSettingsProblem(const QString& text, const QString& cause)
{
    // A file that stays unusable is reported once, not at every connect.
    if (cause == FSettingsProblem)
        return;
    FSettingsProblem = cause;
    Report(TTransportReport::Error, text);
}

void TDevice::Report(TTransportReport kind, const QString& text)
{
    QMetaObject::invokeMethod(
        this,
        [this, kind, text] {
            if (OnReport)
                OnReport(this, kind, text);
        },
        Qt::QueuedConnection);
}
