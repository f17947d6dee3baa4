#include "ConnectionController.h"

#include "ErrorHints.h"
#include "Reconnector.h"

namespace {

constexpr uint32_t ReferencedFlag = 0x1;
const QString LimitsUnreadable = QStringLiteral("Unable to retreive gripper limits.");

}

TConnectionController::TConnectionController(THXT& gripper, const QString& fileName, const QString& section,
                                             QObject* owner)
    : QObject(owner), FGripper(gripper), FReconnector(new TReconnector(gripper, fileName, section, this))
{
    FReconnector->OnChanged = [this] {
        if (OnChanged)
            OnChanged();
    };
    FReconnector->OnLog = [this](const QString& line) {
        if (OnLog)
            OnLog(line);
    };
    // Reports of a lost link or a failed attempt while reconnecting by itself
    // are taken from the operator's error box.
    const TReportEvent operatorReport = FGripper.OnTransportReport;
    FGripper.OnTransportReport = [this, operatorReport](QObject* sender, TTransportReport kind, const QString& text) {
        if (!FReconnector->TakeReport(kind, text) && operatorReport)
            operatorReport(sender, kind, text);
    };
    FGripper.OnConnect = [this](QObject*) { LinkUp(); };
    FGripper.OnDisconnect = [this](QObject*) { LinkDown(); };
    FGripper.OnSystemState = [this](QObject*) { SystemStateReported(); };
}

bool TConnectionController::CanReconnect() const
{
    return FReconnector->LastConnection().has_value() && !FGripper.IsConnected();
}

TStat TConnectionController::Connect()
{
    FReconnector->StopRetrying();
    return Attempted(FGripper.Connect());
}

TStat TConnectionController::Connect(const TConnectionParams& params)
{
    FReconnector->StopRetrying();
    return Attempted(FGripper.Connect(params));
}

TStat TConnectionController::Attempted(TStat status)
{
    FReconnector->AttemptStarted(status);
    if (status != E_SUCCESS)
        ReportConnectFailure(status);
    return status;
}

void TConnectionController::Disconnect()
{
    FReconnector->StopRetrying();
    if (FGripper.IsConnected())
        FGripper.Disconnect();
}

TStat TConnectionController::Reconnect()
{
    const TStat status = FReconnector->Reconnect();
    if (status != E_SUCCESS)
        ReportConnectFailure(status);
    return status;
}

void TConnectionController::SetAutoReconnect(bool enabled)
{
    FReconnector->SetAutoReconnect(enabled);
}

void TConnectionController::ReportConnectFailure(TStat status)
{
    Error(WithHint(QStringLiteral("Cannot connect to target: %1").arg(QString::fromStdString(StatusText(status))),
                   FGripper.Dispatcher()->OpenFailure()));
}

void TConnectionController::Error(const QString& text) const
{
    if (OnError)
        OnError(text);
}

void TConnectionController::LinkUp()
{
    FReconnector->Connected();
    if (OnConnected)
        OnConnected();
    TSystemLimits limits;
    if (FGripper.GetSystemLimits(limits) == E_SUCCESS)
        FLimits = limits;
    else
        FLimits.reset();
    if (FLimits && OnLimits)
        OnLimits(*FLimits);
    // Reconnecting by itself, an unusable link counts as one more failed
    // attempt and the retries go on; a box would stop them.
    if (!FLimits && !FReconnector->TakeUnusableLink(LimitsUnreadable)) {
        Disconnect();
        Error(LimitsUnreadable + QStringLiteral("\nPlease try again by selecting \"Gripper|Connect\" from the menu."));
    }
    // Without a connection (limits not readable) these fail at once; their
    // results are of no interest either way.
    FGripper.AutoUpdateSystemState(true, 50, true);
    FGripper.AutoUpdateGraspingState(true, 50, true);
    FGripper.AutoUpdatePosition(true, 100, true);
    if (FLimits) {
        const TRunningSettings settings = ReadRunningSettings(FGripper);
        if (OnSettings)
            OnSettings(settings);
        // A gripper without these reports refuses them; their values then
        // stay unknown.
        FGripper.AutoUpdateSpeed(true, 100, true);
        FGripper.AutoUpdateForce(true, 100, true);
    }
}

void TConnectionController::LinkDown()
{
    FLimits.reset();
    if (OnDisconnected)
        OnDisconnected();
    FReconnector->Disconnected();
}

void TConnectionController::SystemStateReported()
{
    const uint32_t state = FGripper.SystemState();
    if (OnSystemState)
        OnSystemState(state);
    // Unless the fingers were and still are referenced, the position reports
    // are asked for again (homing restarts them on the gripper's side).
    const bool requestPosition =
        FPreviousState >= 0 && (static_cast<uint32_t>(FPreviousState) & state & ReferencedFlag) == 0;
    FPreviousState = static_cast<int32_t>(state);
    // The request is the same every time, so reports that come in while it
    // waits for its answer only update the display; asking again from inside
    // that wait would nest one wait per report.
    if (requestPosition && !FRequestingPosition) {
        FRequestingPosition = true;
        FGripper.AutoUpdatePosition(true, 100, true);
        FRequestingPosition = false;
    }
}
