#pragma once
// The main window's link to the gripper, without widgets: connecting,
// disconnecting and reconnecting (by hand or by itself after a lost link),
// reading the gripper's limits and the settings it runs with once the link is
// up, asking for its reports, and turning failures into the operator's
// messages. The window shows what it tells through its events; tests drive
// it alone.
#include "GripperReadBack.h"
#include "HXTForm.h"
#include "stat.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

class TReconnector;

class TConnectionController : public QObject {
    Q_OBJECT
public:
    // Takes over the gripper object's connect, disconnect, system-state and
    // transport-report events (the operator's report handler, where one is
    // set, still gets the reports not taken here). Remembers the last
    // connection in section `section` of the settings file `fileName`.
    TConnectionController(THXT& gripper, const QString& fileName, const QString& section, QObject* owner);

    THXT& Gripper() const { return FGripper; }
    TReconnector* Reconnector() const { return FReconnector; }
    // The limits read after the link came up; empty while disconnected or
    // when they could not be read.
    const std::optional<TSystemLimits>& Limits() const { return FLimits; }
    // The last system state reported since connecting, -1 before the first.
    int32_t PreviousState() const { return FPreviousState; }
    // Reconnect can be chosen: a connection to repeat is known and the link
    // is down.
    bool CanReconnect() const;

    // The operator's commands. Connect asks for the interface through the
    // gripper object's dialogs; a failure goes to OnError. Both end the
    // retries of reconnecting by itself.
    TStat Connect();
    // Connects with `params`, asking no one.
    TStat Connect(const TConnectionParams& params);
    void Disconnect();
    TStat Reconnect();
    void SetAutoReconnect(bool enabled);

    // The link came up (nothing has been asked yet).
    std::function<void()> OnConnected;
    // The gripper's limits were read; not called when they could not be.
    std::function<void(const TSystemLimits& limits)> OnLimits;
    // The settings the gripper runs with, read after its limits.
    std::function<void(const TRunningSettings& settings)> OnSettings;
    std::function<void()> OnDisconnected;
    // A system-state report came in (before the controller acts on it).
    std::function<void(uint32_t state)> OnSystemState;
    // The link's state, countdown or menu items changed.
    std::function<void()> OnChanged;
    // A message for the operator's error box.
    std::function<void(const QString& text)> OnError;
    // A line for the results log.
    std::function<void(const QString& line)> OnLog;

private:
    void LinkUp();
    void LinkDown();
    void SystemStateReported();
    // An attempt of the operator's started with `status`.
    TStat Attempted(TStat status);
    void ReportConnectFailure(TStat status);
    void Error(const QString& text) const;

    THXT& FGripper;
    TReconnector* FReconnector;
    std::optional<TSystemLimits> FLimits;
    int32_t FPreviousState = -1;
    // The position reports are being asked for again (see SystemStateReported).
    bool FRequestingPosition = false;
};
