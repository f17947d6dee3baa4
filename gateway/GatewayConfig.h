#pragma once
// The gateway's settings: the grippers it serves, the MQTT broker it feeds
// and where it serves its metrics. They come from one INI file and from the
// command line, which overrides the file. Every fault is found before
// anything starts; the message names the file and line, or the option.
#include <QString>
#include <QStringList>

#include <stdexcept>
#include <vector>

struct TGripperSettings {
    QString Name;       // a topic level and a label value: letters, digits, '_' and '-'
    QString Connection; // the library's connection string
    int ReportPeriodMs = 50;
};

struct TMqttSettings {
    bool Enabled = false; // a url was given
    bool Tls = false;     // mqtts://
    QString Host;
    int Port = 0;
    QString ClientId = QStringLiteral("krm-gateway");
    QString Username;
    QString Password; // read from password_file at start
    QString CaFile;
    QString Prefix = QStringLiteral("krm");
    bool ReadOnly = false;
};

struct TGatewaySettings {
    std::vector<TGripperSettings> Grippers;
    TMqttSettings Mqtt;
    QString MetricsHost = QStringLiteral("127.0.0.1");
    int MetricsPort = 9750;
};

class TConfigError : public std::runtime_error {
public:
    explicit TConfigError(const QString& message)
        : std::runtime_error(message.toStdString())
        , FMessage(message)
    {
    }
    const QString& Message() const { return FMessage; }

private:
    QString FMessage;
};

// What the command line asked for.
struct TGatewayOptions {
    QString ConfigFile; // empty: no file is read
    std::vector<TGripperSettings> Grippers;
    QString MqttUrl;
    QString Metrics;
    bool Help = false;
    bool Version = false;
};

// Throws TConfigError naming the wrong option.
TGatewayOptions ParseGatewayOptions(const QStringList& arguments);
// Reads the file (when one is named), applies the options over it and checks
// the whole; throws TConfigError ("FILE:LINE: reason", or the option's name).
TGatewaySettings LoadGatewaySettings(const TGatewayOptions& options);
// The settings of an INI text; `name` is the file's name for messages.
TGatewaySettings ParseGatewayConfig(const QString& text, const QString& name);

// "mqtt://HOST[:PORT]" or "mqtts://HOST[:PORT]" into `mqtt`; false when it is
// neither.
bool ParseMqttUrl(const QString& url, TMqttSettings& mqtt);
// "HOST:PORT" ("[::1]:PORT" for IPv6); false when it is not one.
bool ParseHostPort(const QString& text, QString& host, int& port);

QString GatewayUsage();
