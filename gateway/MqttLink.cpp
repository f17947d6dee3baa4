#include "MqttLink.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

namespace {

constexpr int KeepAliveSeconds = 30;
constexpr int Qos = 1;
// The state comes often and the next one replaces it: QoS 0 spares the
// broker's acknowledgement of each.
constexpr int StateQos = 0;

} // namespace

TMqttLink::TMqttLink(const TMqttSettings& settings, const QString& gripper)
    : FSettings(settings)
    , FBase((settings.Prefix + u'/' + gripper + u'/').toStdString())
{
    // Every gripper is a client of its own; the name tells them apart.
    const std::string id = (settings.ClientId + u'-' + gripper).toStdString();
    FClient = mosquitto_new(id.c_str(), true, this);
}

TMqttLink::~TMqttLink()
{
    if (!FClient)
        return;
    // "Disconnect with will message": the broker marks the gripper offline.
    mosquitto_disconnect_v5(FClient, MQTT_RC_DISCONNECT_WITH_WILL_MSG, nullptr);
    mosquitto_loop_stop(FClient, false);
    mosquitto_destroy(FClient);
}

bool TMqttLink::Start(QString& error)
{
    if (!FClient) {
        error = QStringLiteral("cannot make an MQTT client");
        return false;
    }
    mosquitto_int_option(FClient, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_connect_v5_callback_set(FClient, &TMqttLink::ConnectCallback);
    mosquitto_disconnect_v5_callback_set(FClient, &TMqttLink::DisconnectCallback);
    mosquitto_message_v5_callback_set(FClient, &TMqttLink::MessageCallback);
    mosquitto_reconnect_delay_set(FClient, 1, 30, true);
    const std::string status = FBase + "status";
    int rc = mosquitto_will_set_v5(FClient, status.c_str(), 7, "offline", Qos, true, nullptr);
    if (rc == MOSQ_ERR_SUCCESS && !FSettings.Username.isEmpty())
        rc = mosquitto_username_pw_set(FClient, FSettings.Username.toUtf8().constData(),
            FSettings.Password.isEmpty() ? nullptr : FSettings.Password.toUtf8().constData());
    if (rc == MOSQ_ERR_SUCCESS && FSettings.Tls) {
        const QByteArray ca = FSettings.CaFile.toUtf8();
        rc = mosquitto_tls_set(FClient, ca.isEmpty() ? nullptr : ca.constData(), ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
            nullptr, nullptr, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = QStringLiteral("MQTT: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    // A broker that is not there yet is tried again by the loop.
    rc = mosquitto_connect_async(FClient, FSettings.Host.toUtf8().constData(), FSettings.Port, KeepAliveSeconds);
    if (rc == MOSQ_ERR_INVAL) {
        error = QStringLiteral("MQTT: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    rc = mosquitto_loop_start(FClient);
    if (rc != MOSQ_ERR_SUCCESS) {
        error = QStringLiteral("MQTT: %1").arg(QString::fromUtf8(mosquitto_strerror(rc)));
        return false;
    }
    return true;
}

bool TMqttLink::Send(const std::string& topic, const QByteArray& payload, bool retain, int qos)
{
    return mosquitto_publish_v5(FClient, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.constData(), qos,
               retain, nullptr)
        == MOSQ_ERR_SUCCESS;
}

void TMqttLink::SetStatus(bool online)
{
    std::lock_guard lock(FMutex);
    FStatus = online ? "online" : "offline";
    if (FConnected)
        Send(FBase + "status", FStatus, true, Qos);
}

void TMqttLink::SetState(const QByteArray& json)
{
    std::lock_guard lock(FMutex);
    FState = json;
    if (FConnected)
        Send(FBase + "state", FState, true, StateQos);
}

void TMqttLink::Event(const QByteArray& json)
{
    bool dropped = false;
    {
        std::lock_guard lock(FMutex);
        if (FConnected && FEvents.empty() && Send(FBase + "event", json, false, Qos))
            return;
        if (FEvents.size() >= MaxQueuedEvents) {
            FEvents.pop_front();
            dropped = true;
        }
        FEvents.push_back(json);
    }
    if (dropped && OnDropped)
        OnDropped();
}

bool TMqttLink::Connected() const
{
    std::lock_guard lock(FMutex);
    return FConnected;
}

void TMqttLink::ConnectCallback(mosquitto* client, void* self, int code, int, const mqtt5__property*)
{
    auto* link = static_cast<TMqttLink*>(self);
    if (code != 0)
        return;
    const std::string command = link->FBase + "command";
    mosquitto_subscribe_v5(client, nullptr, command.c_str(), Qos, 0, nullptr);
    std::lock_guard lock(link->FMutex);
    link->FConnected = true;
    // A broker that restarted without its retained messages gets them again.
    link->Send(link->FBase + "status", link->FStatus, true, Qos);
    if (!link->FState.isEmpty())
        link->Send(link->FBase + "state", link->FState, true, StateQos);
    while (!link->FEvents.empty() && link->Send(link->FBase + "event", link->FEvents.front(), false, Qos))
        link->FEvents.pop_front();
}

void TMqttLink::DisconnectCallback(mosquitto*, void* self, int, const mqtt5__property*)
{
    auto* link = static_cast<TMqttLink*>(self);
    std::lock_guard lock(link->FMutex);
    link->FConnected = false;
}

void TMqttLink::MessageCallback(mosquitto* client, void* self, const mosquitto_message* message, const mqtt5__property* properties)
{
    auto* link = static_cast<TMqttLink*>(self);
    if (!link->OnCommand)
        return;
    char* responseTopic = nullptr;
    void* correlation = nullptr;
    uint16_t correlationLength = 0;
    mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false);
    mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation, &correlationLength, false);
    const std::string topic = responseTopic ? std::string(responseTopic) : link->FBase + "result";
    const QByteArray data = correlation ? QByteArray(static_cast<const char*>(correlation), correlationLength) : QByteArray();
    free(responseTopic);
    free(correlation);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    link->OnCommand(payload, [client, topic, data](const QByteArray& result) {
        mosquitto_property* props = nullptr;
        if (!data.isNull())
            mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, data.constData(), static_cast<uint16_t>(data.size()));
        mosquitto_publish_v5(client, nullptr, topic.c_str(), static_cast<int>(result.size()), result.constData(), Qos, false, props);
        mosquitto_property_free_all(&props);
    });
}
