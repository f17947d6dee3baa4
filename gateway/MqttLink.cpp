#include "MqttLink.h"

#include <QHostInfo>
#include <QSocketNotifier>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>

namespace {

constexpr int KeepAliveSeconds = 30;
constexpr int Qos = 1;
// The state comes often and the next one replaces it: QoS 0 spares the
// broker's acknowledgement of each.
constexpr int StateQos = 0;

QString Failure(int rc) { return QStringLiteral("MQTT: %1").arg(QString::fromUtf8(mosquitto_strerror(rc))); }

} // namespace

TMqttLink::TMqttLink(const TMqttSettings& settings, const QString& gripper, QObject* parent)
    : QObject(parent)
    , FSettings(settings)
    , FBase((settings.Prefix + u'/' + gripper + u'/').toStdString())
    , FStatusTopic(FBase + "status")
    , FStateTopic(FBase + "state")
    , FEventTopic(FBase + "event")
{
    // Every gripper is a client of its own; the name tells them apart.
    const std::string id = (settings.ClientId + u'-' + gripper).toStdString();
    FClient = mosquitto_new(id.c_str(), true, this);
    FMisc.setInterval(MiscInterval);
    // To the second: the timers of all grippers run out together, one wake
    // for all of them.
    FMisc.setTimerType(Qt::VeryCoarseTimer);
    connect(&FMisc, &QTimer::timeout, this, [this] {
        Failed(mosquitto_loop_misc(FClient));
        Serviced();
    });
    FRetry.setSingleShot(true);
    connect(&FRetry, &QTimer::timeout, this, [this] { Connect(); });
}

TMqttLink::~TMqttLink()
{
    if (!FClient)
        return;
    // "Disconnect with will message": the broker marks the gripper offline.
    // Written at once, before the socket closes.
    mosquitto_disconnect_v5(FClient, MQTT_RC_DISCONNECT_WITH_WILL_MSG, nullptr);
    mosquitto_destroy(FClient);
}

bool TMqttLink::Start(QString& error)
{
    if (!FClient) {
        error = QStringLiteral("cannot make an MQTT client");
        return false;
    }
    mosquitto_int_option(FClient, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // A state goes out as soon as it is made: without this, a message that
    // follows the last one within the broker's delayed acknowledgement
    // (40 ms) waited for it.
    mosquitto_int_option(FClient, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(FClient, &TMqttLink::ConnectCallback);
    mosquitto_disconnect_v5_callback_set(FClient, &TMqttLink::DisconnectCallback);
    mosquitto_message_v5_callback_set(FClient, &TMqttLink::MessageCallback);
    mosquitto_log_callback_set(FClient, &TMqttLink::LogCallback);
    int rc = mosquitto_will_set_v5(FClient, FStatusTopic.c_str(), 7, "offline", Qos, true, nullptr);
    if (rc == MOSQ_ERR_SUCCESS && !FSettings.Username.isEmpty())
        rc = mosquitto_username_pw_set(FClient, FSettings.Username.toUtf8().constData(),
            FSettings.Password.isEmpty() ? nullptr : FSettings.Password.toUtf8().constData());
    if (rc == MOSQ_ERR_SUCCESS && FSettings.Tls) {
        const QByteArray ca = FSettings.CaFile.toUtf8();
        rc = mosquitto_tls_set(FClient, ca.isEmpty() ? nullptr : ca.constData(), ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
            nullptr, nullptr, nullptr);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        error = Failure(rc);
        return false;
    }
    // A broker that is not there yet is tried again after the pause.
    rc = mosquitto_connect_async(FClient, FSettings.Host.toUtf8().constData(), FSettings.Port, KeepAliveSeconds);
    if (rc == MOSQ_ERR_INVAL) {
        error = Failure(rc);
        return false;
    }
    Watch();
    return true;
}

void TMqttLink::Connect()
{
    // libmosquitto looks the broker's name up itself, blocking the event
    // loop while it does; it is asked only once a lookup that does not
    // block found the name, so an unreachable name server holds up nothing.
    QHostInfo::lookupHost(FSettings.Host, this, [this](const QHostInfo& found) {
        if (found.error() == QHostInfo::NoError)
            mosquitto_reconnect_async(FClient);
        Watch();
    });
}

void TMqttLink::Watch()
{
    // Without a socket the connect failed at once.
    const int socket = mosquitto_socket(FClient);
    if (socket < 0) {
        Serviced();
        return;
    }
    FRead = new QSocketNotifier(socket, QSocketNotifier::Read, this);
    connect(FRead, &QSocketNotifier::activated, this, [this] {
        Failed(mosquitto_loop_read(FClient, 1));
        Serviced();
    });
    FWrite = new QSocketNotifier(socket, QSocketNotifier::Write, this);
    connect(FWrite, &QSocketNotifier::activated, this, [this] {
        Failed(mosquitto_loop_write(FClient, 1));
        Serviced();
    });
    FMisc.start();
    Serviced();
}

void TMqttLink::Unwatch()
{
    // The notifiers may be the ones whose signal runs now.
    for (QSocketNotifier* notifier : {FRead, FWrite}) {
        notifier->setEnabled(false);
        notifier->deleteLater();
    }
    FRead = nullptr;
    FWrite = nullptr;
    FMisc.stop();
}

void TMqttLink::Serviced()
{
    if (mosquitto_socket(FClient) >= 0) {
        if (FWrite)
            FWrite->setEnabled(mosquitto_want_write(FClient));
        return;
    }
    // The connection is gone (or never came): libmosquitto closed the socket.
    if (FRead)
        Unwatch();
    FConnected = false;
    if (FRetry.isActive())
        return;
    if (OnConnection)
        OnConnection(false, FCause.isEmpty() ? QStringLiteral("the connection was closed") : FCause);
    FCause.clear();
    FRetry.start(FPause);
    FPause = std::min(FPause * 2, LongestPause);
}

bool TMqttLink::Send(const std::string& topic, const QByteArray& payload, bool retain, int qos, const mqtt5__property* props)
{
    const bool taken = mosquitto_publish_v5(FClient, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                           payload.constData(), qos, retain, props)
        == MOSQ_ERR_SUCCESS;
    // What the socket did not take at once goes out when it can.
    if (FWrite)
        FWrite->setEnabled(mosquitto_want_write(FClient));
    return taken;
}

void TMqttLink::SetStatus(bool online)
{
    FStatus = online ? "online" : "offline";
    if (FConnected)
        Send(FStatusTopic, FStatus, true, Qos);
}

void TMqttLink::SetState(const QByteArray& json)
{
    FState = json;
    if (FConnected)
        Send(FStateTopic, FState, true, StateQos);
}

void TMqttLink::Event(const QByteArray& json)
{
    if (FConnected && FEvents.empty() && Send(FEventTopic, json, false, Qos))
        return;
    const bool dropped = FEvents.size() >= MaxQueuedEvents;
    if (dropped)
        FEvents.pop_front();
    FEvents.push_back(json);
    if (dropped && OnDropped)
        OnDropped();
}

void TMqttLink::Failed(int rc)
{
    // The words libmosquitto logged on the way say more than the code.
    if (rc != MOSQ_ERR_SUCCESS && FCause.isEmpty())
        FCause = Failure(rc);
}

void TMqttLink::LogCallback(mosquitto*, void* self, int level, const char* text)
{
    auto* link = static_cast<TMqttLink*>(self);
    if ((level & MOSQ_LOG_ERR) && link->FCause.isEmpty())
        link->FCause = QStringLiteral("MQTT: %1").arg(QString::fromUtf8(text));
}

void TMqttLink::ConnectCallback(mosquitto* client, void* self, int code, int, const mqtt5__property*)
{
    auto* link = static_cast<TMqttLink*>(self);
    if (code != 0) {
        link->FCause = QStringLiteral("MQTT: the broker refused the connection: %1").arg(QString::fromUtf8(mosquitto_reason_string(code)));
        return;
    }
    const std::string command = link->FBase + "command";
    mosquitto_subscribe_v5(client, nullptr, command.c_str(), Qos, 0, nullptr);
    link->FConnected = true;
    link->FPause = FirstPause;
    // A broker that restarted without its retained messages gets them again.
    link->Send(link->FStatusTopic, link->FStatus, true, Qos);
    if (!link->FState.isEmpty())
        link->Send(link->FStateTopic, link->FState, true, StateQos);
    while (!link->FEvents.empty() && link->Send(link->FEventTopic, link->FEvents.front(), false, Qos))
        link->FEvents.pop_front();
    link->FCause.clear();
    if (link->OnConnection)
        link->OnConnection(true, {});
}

void TMqttLink::DisconnectCallback(mosquitto*, void* self, int, const mqtt5__property*)
{
    static_cast<TMqttLink*>(self)->FConnected = false;
}

void TMqttLink::MessageCallback(mosquitto*, void* self, const mosquitto_message* message, const mqtt5__property* properties)
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
    link->OnCommand(payload, [link, topic, data](const QByteArray& result) {
        // Results come from the gripper's command threads; libmosquitto is
        // only called from the owner's.
        QMetaObject::invokeMethod(link, [link, topic, data, result] { link->Reply(topic, data, result); }, Qt::QueuedConnection);
    });
}

void TMqttLink::Reply(const std::string& topic, const QByteArray& correlation, const QByteArray& result)
{
    mosquitto_property* props = nullptr;
    if (!correlation.isNull())
        mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.constData(), static_cast<uint16_t>(correlation.size()));
    Send(topic, result, false, Qos, props);
    mosquitto_property_free_all(&props);
}
