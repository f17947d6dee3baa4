#pragma once
// One gripper's connection to the MQTT broker (MQTT 5, libmosquitto), so
// that the broker's last will marks exactly this gripper "offline" when the
// gateway dies:
//   PREFIX/NAME/status   "online" or "offline", retained (also the will)
//   PREFIX/NAME/state    the state JSON, retained (QoS 0)
//   PREFIX/NAME/event    events, QoS 1
//   PREFIX/NAME/command  commands in; results go to the request's response
//                        topic with its correlation data, or to
//                        PREFIX/NAME/result when it names none
// The connection runs on the thread that owns the object, from its event
// loop: libmosquitto's socket is watched there, so a gateway of many
// grippers needs no thread per broker connection, and a publish is written
// at once instead of waking another thread to write it. It connects again
// with a growing pause (1 s doubling up to 30 s). While the broker is away
// the latest status and state are kept and sent on the next connect, and up
// to MaxQueuedEvents events wait; older ones are dropped and counted.
#include "GatewayConfig.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <string>

class QSocketNotifier;
struct mosquitto;
struct mqtt5__property;

class TMqttLink : public QObject {
public:
    TMqttLink(const TMqttSettings& settings, const QString& gripper, QObject* parent = nullptr);
    // Leaves with the will published ("offline").
    ~TMqttLink() override;

    // Called on the owner's thread.
    // A message on the command topic; `reply` sends its result and may be
    // called on any thread while this object lives.
    std::function<void(const QByteArray& payload, std::function<void(const QByteArray&)> reply)> OnCommand;
    // An event was dropped for want of room.
    std::function<void()> OnDropped;
    // The broker took the connection (`cause` empty), or a connect failed or
    // the connection was lost, for `cause`.
    std::function<void(bool connected, const QString& cause)> OnConnection;

    // Starts connecting; false with `error` when the client cannot be set up.
    bool Start(QString& error);

    void SetStatus(bool online);
    void SetState(const QByteArray& json);
    void Event(const QByteArray& json);

    static constexpr size_t MaxQueuedEvents = 1000;
    static constexpr std::chrono::seconds FirstPause{1};
    static constexpr std::chrono::seconds LongestPause{30};
    // How often keep-alive is looked after.
    static constexpr std::chrono::seconds MiscInterval{1};

private:
    static void ConnectCallback(mosquitto*, void* self, int code, int flags, const mqtt5__property*);
    static void DisconnectCallback(mosquitto*, void* self, int code, const mqtt5__property*);
    static void MessageCallback(mosquitto*, void* self, const struct mosquitto_message* message, const mqtt5__property* properties);
    // Keeps libmosquitto's last error in words: its codes alone do not say
    // why a TLS handshake failed.
    static void LogCallback(mosquitto*, void* self, int level, const char* text);

    // Starts a connect (the first, or again); watches its socket, or tries
    // again after the pause.
    void Connect();
    void Watch();
    void Unwatch();
    // After every call into libmosquitto: a lost connection is tried again,
    // data libmosquitto could not write yet is written when the socket takes it.
    void Serviced();
    // After a call into libmosquitto that returned `rc`.
    void Failed(int rc);
    // True when libmosquitto took the message.
    bool Send(const std::string& topic, const QByteArray& payload, bool retain, int qos, const mqtt5__property* props = nullptr);
    void Reply(const std::string& topic, const QByteArray& correlation, const QByteArray& result);

    const TMqttSettings FSettings;
    const std::string FBase; // PREFIX/NAME/
    const std::string FStatusTopic;
    const std::string FStateTopic;
    const std::string FEventTopic;
    mosquitto* FClient = nullptr;
    bool FConnected = false;
    QString FCause; // why the connection failed or was lost, last
    QSocketNotifier* FRead = nullptr;
    QSocketNotifier* FWrite = nullptr;
    QTimer FMisc;
    QTimer FRetry;
    std::chrono::seconds FPause = FirstPause;
    QByteArray FStatus = "offline";
    QByteArray FState;
    std::deque<QByteArray> FEvents;
};
