#include "GatewayConfig.h"

#include "ConnectionString.h"

#include <QFile>
#include <QRegularExpression>

#include <functional>
#include <map>
#include <set>

namespace {

const QRegularExpression GripperName(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));

bool ValidName(const QString& name) { return GripperName.match(name).hasMatch(); }

// Why the library would refuse `connection`; empty when it takes it.
QString ConnectionFault(const QString& connection)
{
    try {
        ParseConnectionString(connection);
    } catch (const TConnectionStringError& error) {
        return QStringLiteral("connection \"%1\": %2").arg(connection, QString::fromUtf8(error.what()));
    }
    return {};
}

std::optional<int> ParsePeriod(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    // The gripper takes report periods from 10 ms to 65535 ms.
    if (!ok || value < 10 || value > 65535)
        return std::nullopt;
    return value;
}

std::optional<bool> ParseBool(const QString& text)
{
    const QString word = text.toLower();
    if (word == QLatin1String("true"))
        return true;
    if (word == QLatin1String("false"))
        return false;
    return std::nullopt;
}

QString ReadFileText(const QString& path, const QString& what)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw TConfigError(QStringLiteral("%1 %2: cannot read: %3").arg(what, path, file.errorString()));
    // A settings file is small; a huge one is a mistake.
    constexpr qint64 MaxBytes = 1 << 20;
    const QByteArray bytes = file.read(MaxBytes + 1);
    if (bytes.size() > MaxBytes)
        throw TConfigError(QStringLiteral("%1 %2: larger than 1 MiB").arg(what, path));
    return QString::fromUtf8(bytes);
}

// The parts of one file being read: the section a key belongs to and the
// keys seen in it.
class TConfigParser {
public:
    TConfigParser(TGatewaySettings& settings, const QString& name)
        : FSettings(settings)
        , FName(name)
    {
    }

    void Line(const QString& raw, int number)
    {
        FLine = number;
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#'))
            return;
        if (line.startsWith(u'[')) {
            Section(line);
            return;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            Fail(QStringLiteral("\"%1\" is neither a [section] nor a key=value line").arg(line));
        const QString key = line.left(equals).trimmed().toLower();
        const QString value = line.mid(equals + 1).trimmed();
        if (FSection.isEmpty())
            Fail(QStringLiteral("key \"%1\" stands before the first section").arg(key));
        if (!FKeys.insert(key).second)
            Fail(QStringLiteral("key \"%1\" is given twice in %2").arg(key, FSection));
        if (FGripper >= 0)
            GripperKey(key, value);
        else if (FSection == QLatin1String("[mqtt]"))
            MqttKey(key, value);
        else
            MetricsKey(key, value);
    }

    void Finish()
    {
        for (const auto& [index, line] : FGripperLines) {
            if (FSettings.Grippers[static_cast<size_t>(index)].Connection.isEmpty()) {
                FLine = line;
                Fail(QStringLiteral("[gripper %1] has no connection=").arg(FSettings.Grippers[static_cast<size_t>(index)].Name));
            }
        }
    }

private:
    [[noreturn]] void Fail(const QString& reason) const
    {
        throw TConfigError(QStringLiteral("%1:%2: %3").arg(FName).arg(FLine).arg(reason));
    }

    void Section(const QString& line)
    {
        if (!line.endsWith(u']'))
            Fail(QStringLiteral("\"%1\" is not closed by ]").arg(line));
        const QStringList words = line.mid(1, line.size() - 2).split(u' ', Qt::SkipEmptyParts);
        const QString kind = words.value(0).toLower();
        FKeys.clear();
        FGripper = -1;
        if (kind == QLatin1String("gripper")) {
            if (words.size() != 2 || !ValidName(words[1]))
                Fail(QStringLiteral("a gripper section is [gripper NAME], NAME of letters, digits, '_' and '-'"));
            for (const TGripperSettings& gripper : FSettings.Grippers)
                if (gripper.Name == words[1])
                    Fail(QStringLiteral("gripper \"%1\" is configured twice").arg(words[1]));
            FSettings.Grippers.push_back({words[1], {}, 50});
            FGripper = static_cast<int>(FSettings.Grippers.size()) - 1;
            FGripperLines[FGripper] = FLine;
            FSection = QStringLiteral("[gripper %1]").arg(words[1]);
            return;
        }
        if (words.size() != 1 || (kind != QLatin1String("mqtt") && kind != QLatin1String("metrics")))
            Fail(QStringLiteral("unknown section %1 (known: [gripper NAME], [mqtt], [metrics])").arg(line));
        FSection = u'[' + kind + u']';
        if (!FSeenSections.insert(kind).second)
            Fail(QStringLiteral("section %1 is given twice").arg(FSection));
    }

    void GripperKey(const QString& key, const QString& value)
    {
        TGripperSettings& gripper = FSettings.Grippers[static_cast<size_t>(FGripper)];
        if (key == QLatin1String("connection")) {
            const QString fault = ConnectionFault(value);
            if (!fault.isEmpty())
                Fail(fault);
            gripper.Connection = value;
        } else if (key == QLatin1String("report_period_ms")) {
            const auto period = ParsePeriod(value);
            if (!period)
                Fail(QStringLiteral("report_period_ms \"%1\" is not a whole number from 10 to 65535").arg(value));
            gripper.ReportPeriodMs = *period;
        } else {
            Fail(QStringLiteral("unknown key \"%1\" in %2 (known: connection, report_period_ms)").arg(key, FSection));
        }
    }

    void MqttKey(const QString& key, const QString& value)
    {
        TMqttSettings& mqtt = FSettings.Mqtt;
        if (key == QLatin1String("url")) {
            if (!ParseMqttUrl(value, mqtt))
                Fail(QStringLiteral("url \"%1\" is not mqtt://HOST:PORT or mqtts://HOST:PORT").arg(value));
        } else if (key == QLatin1String("client_id")) {
            // The broker takes up to 23 characters from every client; the
            // gateway adds the gripper's name to it.
            if (value.isEmpty() || value.contains(u'/') || value.size() > 64)
                Fail(QStringLiteral("client_id \"%1\" must be 1 to 64 characters without '/'").arg(value));
            mqtt.ClientId = value;
        } else if (key == QLatin1String("username")) {
            mqtt.Username = value;
        } else if (key == QLatin1String("password_file")) {
            QString password = ReadFileText(value, QStringLiteral("password_file"));
            mqtt.Password = password.section(u'\n', 0, 0).remove(u'\r');
        } else if (key == QLatin1String("ca_file")) {
            if (!QFile(value).open(QIODevice::ReadOnly))
                Fail(QStringLiteral("ca_file %1 cannot be read").arg(value));
            mqtt.CaFile = value;
        } else if (key == QLatin1String("prefix")) {
            if (value.isEmpty() || value.contains(u'+') || value.contains(u'#') || value.startsWith(u'/') || value.endsWith(u'/'))
                Fail(QStringLiteral("prefix \"%1\" must be a topic without wildcards and without a leading or trailing '/'").arg(value));
            mqtt.Prefix = value;
        } else if (key == QLatin1String("read_only")) {
            const auto flag = ParseBool(value);
            if (!flag)
                Fail(QStringLiteral("read_only \"%1\" is neither true nor false").arg(value));
            mqtt.ReadOnly = *flag;
        } else {
            Fail(QStringLiteral("unknown key \"%1\" in [mqtt] (known: url, client_id, username, password_file, ca_file, prefix, "
                                "read_only)")
                     .arg(key));
        }
    }

    void MetricsKey(const QString& key, const QString& value)
    {
        if (key != QLatin1String("listen"))
            Fail(QStringLiteral("unknown key \"%1\" in [metrics] (known: listen)").arg(key));
        if (!ParseHostPort(value, FSettings.MetricsHost, FSettings.MetricsPort))
            Fail(QStringLiteral("listen \"%1\" is not HOST:PORT").arg(value));
    }

    TGatewaySettings& FSettings;
    const QString FName;
    int FLine = 0;
    QString FSection;
    int FGripper = -1;
    std::set<QString> FKeys;
    std::set<QString> FSeenSections;
    std::map<int, int> FGripperLines; // gripper index -> line of its section
};

} // namespace

bool ParseHostPort(const QString& text, QString& host, int& port)
{
    static const QRegularExpression form(QStringLiteral("^(\\[[0-9A-Fa-f:.]+\\]|[^:\\[\\]\\s]+):(\\d{1,5})$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    const int number = match.captured(2).toInt();
    if (number > 65535)
        return false;
    host = match.captured(1);
    if (host.startsWith(u'['))
        host = host.mid(1, host.size() - 2);
    port = number;
    return true;
}

bool ParseMqttUrl(const QString& url, TMqttSettings& mqtt)
{
    bool tls = false;
    QString rest;
    if (url.startsWith(QLatin1String("mqtt://"))) {
        rest = url.mid(7);
    } else if (url.startsWith(QLatin1String("mqtts://"))) {
        tls = true;
        rest = url.mid(8);
    } else {
        return false;
    }
    if (rest.endsWith(u'/'))
        rest.chop(1);
    QString host;
    int port = 0;
    if (!ParseHostPort(rest, host, port)) {
        // The port may be left out: the protocol's own.
        if (rest.isEmpty() || rest.contains(u':') || rest.contains(u'/') || rest.contains(u'@'))
            return false;
        host = rest;
        port = tls ? 8883 : 1883;
    }
    if (port == 0)
        return false;
    mqtt.Enabled = true;
    mqtt.Tls = tls;
    mqtt.Host = host;
    mqtt.Port = port;
    return true;
}

TGatewaySettings ParseGatewayConfig(const QString& text, const QString& name)
{
    TGatewaySettings settings;
    TConfigParser parser(settings, name);
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i)
        parser.Line(lines[i], static_cast<int>(i) + 1);
    parser.Finish();
    return settings;
}

TGatewayOptions ParseGatewayOptions(const QStringList& arguments)
{
    TGatewayOptions options;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        if (word == QLatin1String("--help") || word == QLatin1String("-h")) {
            options.Help = true;
            continue;
        }
        if (word == QLatin1String("--version")) {
            options.Version = true;
            continue;
        }
        if (word != QLatin1String("--config") && word != QLatin1String("--gripper") && word != QLatin1String("--mqtt")
            && word != QLatin1String("--metrics"))
            throw TConfigError(QStringLiteral("unknown option \"%1\" (krm-gateway --help lists the options)").arg(word));
        if (i + 1 >= arguments.size())
            throw TConfigError(QStringLiteral("%1 needs a value").arg(word));
        const QString value = arguments[++i];
        if (word == QLatin1String("--config")) {
            options.ConfigFile = value;
        } else if (word == QLatin1String("--mqtt")) {
            options.MqttUrl = value;
        } else if (word == QLatin1String("--metrics")) {
            options.Metrics = value;
        } else {
            const qsizetype equals = value.indexOf(u'=');
            const QString name = value.left(equals);
            if (equals < 0 || !ValidName(name) || equals + 1 == value.size())
                throw TConfigError(QStringLiteral("--gripper \"%1\" is not NAME=CONNECTION (NAME of letters, digits, '_' and '-')").arg(value));
            for (const TGripperSettings& gripper : options.Grippers)
                if (gripper.Name == name)
                    throw TConfigError(QStringLiteral("--gripper %1 is given twice").arg(name));
            const QString fault = ConnectionFault(value.mid(equals + 1));
            if (!fault.isEmpty())
                throw TConfigError(QStringLiteral("--gripper %1: %2").arg(name, fault));
            options.Grippers.push_back({name, value.mid(equals + 1), 50});
        }
    }
    return options;
}

TGatewaySettings LoadGatewaySettings(const TGatewayOptions& options)
{
    TGatewaySettings settings;
    if (!options.ConfigFile.isEmpty())
        settings = ParseGatewayConfig(ReadFileText(options.ConfigFile, QStringLiteral("config")), options.ConfigFile);
    for (const TGripperSettings& given : options.Grippers) {
        auto same = std::find_if(settings.Grippers.begin(), settings.Grippers.end(),
            [&given](const TGripperSettings& gripper) { return gripper.Name == given.Name; });
        if (same != settings.Grippers.end())
            same->Connection = given.Connection; // its report period stays
        else
            settings.Grippers.push_back(given);
    }
    if (!options.MqttUrl.isEmpty() && !ParseMqttUrl(options.MqttUrl, settings.Mqtt))
        throw TConfigError(QStringLiteral("--mqtt \"%1\" is not mqtt://HOST:PORT or mqtts://HOST:PORT").arg(options.MqttUrl));
    if (!options.Metrics.isEmpty() && !ParseHostPort(options.Metrics, settings.MetricsHost, settings.MetricsPort))
        throw TConfigError(QStringLiteral("--metrics \"%1\" is not HOST:PORT").arg(options.Metrics));
    if (settings.Grippers.empty())
        throw TConfigError(QStringLiteral("no gripper is configured: give [gripper NAME] sections or --gripper NAME=CONNECTION"));
    if (!settings.Mqtt.Enabled && (!settings.Mqtt.Username.isEmpty() || !settings.Mqtt.CaFile.isEmpty()))
        throw TConfigError(QStringLiteral("[mqtt] has settings but no url="));
    if (!settings.Mqtt.CaFile.isEmpty() && !settings.Mqtt.Tls)
        throw TConfigError(QStringLiteral("ca_file is given, but the url is not mqtts://"));
    return settings;
}

QString GatewayUsage()
{
    return QStringLiteral(
        "Usage: krm-gateway [--config FILE] [--gripper NAME=CONNECTION]... [--mqtt URL] [--metrics HOST:PORT]\n"
        "Serves every configured gripper on MQTT and its metrics to Prometheus.\n"
        "\n"
        "  --config FILE               read the settings from FILE (INI)\n"
        "  --gripper NAME=CONNECTION   serve a gripper (repeatable), e.g. cell1=tcp:10.0.0.5:1000\n"
        "  --mqtt URL                  the broker: mqtt://HOST:PORT or mqtts://HOST:PORT\n"
        "  --metrics HOST:PORT         where /metrics is served (default 127.0.0.1:9750)\n"
        "  --help                      show this help and exit\n"
        "  --version                   show the version and exit\n"
        "\n"
        "The options override the file. See krm-gateway(1).\n");
}
