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
// libmosquitto's own thread runs the connection and connects again with a
// growing pause (1 s doubling up to 30 s). While the broker is away the
// latest status and state are kept and sent on the next connect, and up to
// MaxQueuedEvents events wait; older ones are dropped and counted.
#include "GatewayConfig.h"

#include <QByteArray>
#include <QString>

#include <deque>
#include <functional>
#include <mutex>
#include <string>

struct mosquitto;
struct mqtt5__property;

class TMqttLink {
public:
    TMqttLink(const TMqttSettings& settings, const QString& gripper);
    // Leaves with the will published ("offline"), then ends the thread.
    ~TMqttLink();
    TMqttLink(const TMqttLink&) = delete;
    TMqttLink& operator=(const TMqttLink&) = delete;

    // Called on libmosquitto's thread.
    // A message on the command topic; `reply` sends its result.
    std::function<void(const QByteArray& payload, std::function<void(const QByteArray&)> reply)> OnCommand;
    // An event was dropped for want of room.
    std::function<void()> OnDropped;

    // Starts connecting; false with `error` when the client cannot be set up.
    bool Start(QString& error);

    void SetStatus(bool online);
    void SetState(const QByteArray& json);
    void Event(const QByteArray& json);
    bool Connected() const;

    static constexpr size_t MaxQueuedEvents = 1000;

private:
    static void ConnectCallback(mosquitto*, void* self, int code, int flags, const mqtt5__property*);
    static void DisconnectCallback(mosquitto*, void* self, int code, const mqtt5__property*);
    static void MessageCallback(mosquitto*, void* self, const struct mosquitto_message* message, const mqtt5__property* properties);
    // Under FMutex: sends, true when libmosquitto took the message.
    bool Send(const std::string& topic, const QByteArray& payload, bool retain, int qos);

    const TMqttSettings FSettings;
    const std::string FBase; // PREFIX/NAME/
    mosquitto* FClient = nullptr;
    mutable std::mutex FMutex;
    bool FConnected = false;
    QByteArray FStatus = "offline";
    QByteArray FState;
    std::deque<QByteArray> FEvents;
};
