#pragma once
// Keeps track of the gripper's link for the main window: its state
// (disconnected, connecting, connected, lost), the last connection that
// succeeded (remembered in the initialisation file, so that Reconnect works
// right after the next start), and, when the operator wants it, connecting
// again by itself after a lost link: one attempt with the last connection
// every RetryIntervalMs until one succeeds or the operator takes over.
//
// The main window tells it what happens (attempts, the gripper object's
// connect and disconnect events, transport reports); it tells the window
// when its state or countdown changed, and what to log.
#include "ConnectionParams.h"
#include "DeviceComponent.h"
#include "stat.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QTimer;
class THXT;

enum class TLinkState { Disconnected, Connecting, Connected, Lost };

class TReconnector : public QObject {
    Q_OBJECT
public:
    static constexpr int RetryIntervalMs = 2000;

    // Remembers in section `section` of the settings file `fileName`.
    TReconnector(THXT& gripper, QString fileName, QString section, QObject* owner);

    TLinkState State() const { return FState; }
    // The connection Reconnect makes; empty when none has succeeded yet.
    const std::optional<TConnectionParams>& LastConnection() const { return FLast; }
    // Whole seconds until the next attempt while retrying, else 0.
    int SecondsToRetry() const;
    bool Retrying() const { return FRetrying; }

    // Reconnecting automatically after a lost link (remembered; off unless
    // stored). Turning it off ends the retries.
    bool AutoReconnect() const { return FAuto; }
    void SetAutoReconnect(bool enabled);

    // Connects with the last connection, asking no one: E_NOT_FOUND when
    // there is none, otherwise the gripper object's status. Ends the retries.
    TStat Reconnect();
    // The operator connects or disconnects: the retries end, and an attempt
    // of theirs still under way is given up.
    void StopRetrying();
    // An attempt of the operator's started with `status`.
    void AttemptStarted(TStat status);

    // The gripper object's connect and disconnect events.
    void Connected();
    void Disconnected();
    // A transport report; true when it was taken here (a lost link or a
    // failed attempt while reconnecting automatically), so that the operator
    // gets no message box for it.
    bool TakeReport(TTransportReport kind, const QString& text);
    // The link came up but is of no use (the gripper's limits could not be
    // read). While reconnecting automatically is on, that is one more failed
    // attempt: `text` goes to the results log, the link is closed and the
    // retries go on; true then. Otherwise false, and nothing is done.
    bool TakeUnusableLink(const QString& text);
    // Milliseconds between two attempts: RetryIntervalMs unless set (tests
    // shorten it).
    void SetRetryInterval(int ms);

    // State or countdown changed.
    std::function<void()> OnChanged;
    // A line for the results log.
    std::function<void(const QString& line)> OnLog;

private:
    void SetState(TLinkState state);
    void StartRetrying();
    void Tick();
    void Attempt();
    void Log(const QString& text);

    THXT& FGripper;
    QString FFileName;
    QString FSection;
    std::optional<TConnectionParams> FLast;
    TLinkState FState = TLinkState::Disconnected;
    bool FAuto = false;
    bool FRetrying = false;
    int FMsToRetry = 0;
    int FRetryIntervalMs = RetryIntervalMs;
    QTimer* FTimer;
};

// The right side of the status bar: where the link goes, its state (with the
// countdown while reconnecting) and the packets since connect, e.g.
// "TCP 127.0.0.1:1000 | connected | sent 12, received 340, checksum-dropped 0".
QString LinkStatusText(const TReconnector& reconnector, const THXT& gripper);
