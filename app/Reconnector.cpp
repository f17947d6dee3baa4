#include "Reconnector.h"

#include "ConnectionRecord.h"
#include "HXTForm.h"
#include "IniFile.h"

#include <QTime>
#include <QTimer>

#include <algorithm>

namespace {
const QString KeyAutoReconnect = QStringLiteral("ReconnectAutomatically");
constexpr int TickMs = 250;
}

TReconnector::TReconnector(THXT& gripper, QString fileName, QString section, QObject* owner)
    : QObject(owner), FGripper(gripper), FFileName(std::move(fileName)), FSection(std::move(section)),
      FTimer(new QTimer(this))
{
    const TIniFile ini(SettingsFilePath(FFileName));
    FLast = ReadConnection(ini, FSection);
    FAuto = ini.ReadInteger(FSection, KeyAutoReconnect, 0) != 0;
    FTimer->setInterval(TickMs);
    connect(FTimer, &QTimer::timeout, this, &TReconnector::Tick);
}

int TReconnector::SecondsToRetry() const
{
    return FRetrying ? (FMsToRetry + 999) / 1000 : 0;
}

void TReconnector::SetAutoReconnect(bool enabled)
{
    FAuto = enabled;
    TIniFile ini(SettingsFilePath(FFileName));
    // Not being able to remember the choice changes nothing for this run.
    (void)ini.WriteInteger(FSection, KeyAutoReconnect, enabled ? 1 : 0);
    if (!enabled)
        StopRetrying();
}

TStat TReconnector::Reconnect()
{
    StopRetrying();
    if (!FLast)
        return E_NOT_FOUND;
    const TStat status = FGripper.Connect(*FLast);
    AttemptStarted(status);
    return status;
}

void TReconnector::StopRetrying()
{
    if (!FRetrying)
        return;
    FRetrying = false;
    FTimer->stop();
    // An attempt still under way must not connect behind the operator's back.
    if (!FGripper.IsConnected())
        FGripper.Disconnect();
    if (FState == TLinkState::Lost || FState == TLinkState::Connecting)
        SetState(FGripper.IsConnected() ? TLinkState::Connected : TLinkState::Disconnected);
    else if (OnChanged)
        OnChanged();
}

void TReconnector::AttemptStarted(TStat status)
{
    if (status == E_SUCCESS)
        SetState(FGripper.IsConnected() ? TLinkState::Connected : TLinkState::Connecting);
}

void TReconnector::Connected()
{
    const bool wasRetrying = FRetrying;
    FRetrying = false;
    FTimer->stop();
    if (const auto params = FGripper.ConnectionParams()) {
        FLast = params;
        TIniFile ini(SettingsFilePath(FFileName));
        (void)WriteConnection(ini, FSection, *params);
        if (wasRetrying)
            Log(QStringLiteral("Connected again: %1").arg(DescribeConnection(*params)));
    }
    SetState(TLinkState::Connected);
}

void TReconnector::Disconnected()
{
    SetState(FRetrying ? TLinkState::Lost : TLinkState::Disconnected);
}

bool TReconnector::TakeReport(TTransportReport kind, const QString& text)
{
    if (kind == TTransportReport::LinkLost) {
        SetState(TLinkState::Lost);
        if (!FAuto || !FLast)
            return false;
        Log(text);
        StartRetrying();
        return true;
    }
    if (FRetrying) {
        // The attempt failed (refused, host not found): the next one follows.
        SetState(TLinkState::Lost);
        return true;
    }
    if (FState == TLinkState::Connecting && !FGripper.IsConnected())
        SetState(TLinkState::Disconnected);
    return false;
}

bool TReconnector::TakeUnusableLink(const QString& text)
{
    if (!FAuto || !FLast)
        return false;
    Log(text);
    // A lost link reported meanwhile has already started the countdown.
    if (!FRetrying)
        StartRetrying();
    if (FGripper.IsConnected())
        FGripper.Disconnect();
    SetState(TLinkState::Lost);
    return true;
}

void TReconnector::SetRetryInterval(int ms)
{
    FRetryIntervalMs = std::max(1, ms);
    FTimer->setInterval(std::min(TickMs, FRetryIntervalMs));
}

void TReconnector::SetState(TLinkState state)
{
    FState = state;
    if (OnChanged)
        OnChanged();
}

void TReconnector::StartRetrying()
{
    FRetrying = true;
    FMsToRetry = FRetryIntervalMs;
    FTimer->start();
    if (OnChanged)
        OnChanged();
}

void TReconnector::Tick()
{
    const int before = SecondsToRetry();
    FMsToRetry -= FTimer->interval();
    if (FMsToRetry <= 0) {
        FMsToRetry = FRetryIntervalMs;
        Attempt();
    }
    if (SecondsToRetry() != before && OnChanged)
        OnChanged();
}

void TReconnector::Attempt()
{
    // A TCP attempt still under way is given up for the new one.
    const TStat status = FGripper.Connect(*FLast);
    if (FRetrying)
        SetState(status == E_SUCCESS && !FGripper.IsConnected() ? TLinkState::Connecting : TLinkState::Lost);
}

void TReconnector::Log(const QString& text)
{
    if (OnLog)
        OnLog(QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QLatin1Char(' ') + text);
}

QString LinkStatusText(const TReconnector& reconnector, const THXT& gripper)
{
    QStringList parts;
    const std::optional<TConnectionParams> current = gripper.ConnectionParams();
    if (const auto& params = current ? current : reconnector.LastConnection())
        parts << DescribeConnection(*params);
    switch (reconnector.State()) {
    case TLinkState::Disconnected:
        parts << QStringLiteral("disconnected");
        break;
    case TLinkState::Connecting:
        parts << QStringLiteral("connecting");
        break;
    case TLinkState::Connected:
        parts << QStringLiteral("connected");
        break;
    case TLinkState::Lost:
        parts << (reconnector.Retrying() ? QStringLiteral("lost, reconnecting in %1 s").arg(reconnector.SecondsToRetry())
                                         : QStringLiteral("lost"));
        break;
    }
    if (current) {
        const TLinkCounters counters = gripper.Dispatcher()->Counters();
        parts << QStringLiteral("sent %1, received %2, checksum-dropped %3")
                     .arg(counters.Sent)
                     .arg(counters.Received)
                     .arg(counters.ChecksumDropped);
    }
    return parts.join(QStringLiteral(" | "));
}
