// The gateway's settings and the commands it takes, without any process.
#include "GatewayCommand.h"
#include "GatewayConfig.h"
#include "Metrics.h"
#include "stat.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <ostream>

// Messages read as text when a check fails.
void PrintTo(const QString& text, std::ostream* os) { *os << text.toStdString(); }

namespace {

QString ConfigError(const QString& text)
{
    try {
        ParseGatewayConfig(text, QStringLiteral("gw.conf"));
    } catch (const TConfigError& error) {
        return error.Message();
    }
    return {};
}

TEST(GatewayConfig, AFullFileIsRead)
{
    QTemporaryDir folder;
    QFile password(folder.filePath(QStringLiteral("pw")));
    ASSERT_TRUE(password.open(QIODevice::WriteOnly));
    password.write("s3cret\n");
    password.close();
    const TGatewaySettings settings = ParseGatewayConfig(QStringLiteral("# plant\n[Gripper cell-1]\nConnection = tcp:10.0.0.5:1000\n"
                                                                        "report_period_ms=100\n[gripper cell_2]\nconnection=serial:/dev/ttyUSB0@57600\n"
                                                                        "[MQTT]\nurl=mqtts://broker.plant:8884\nclient_id=gw1\nusername=krm\n"
                                                                        "password_file=%1\nprefix=plant/krm\nread_only=TRUE\n"
                                                                        "[metrics]\nlisten=[::1]:9999\n")
                                                             .arg(password.fileName()),
        QStringLiteral("gw.conf"));
    ASSERT_EQ(settings.Grippers.size(), 2u);
    EXPECT_EQ(settings.Grippers[0].Name, QStringLiteral("cell-1"));
    EXPECT_EQ(settings.Grippers[0].Connection, QStringLiteral("tcp:10.0.0.5:1000"));
    EXPECT_EQ(settings.Grippers[0].ReportPeriodMs, 100);
    EXPECT_EQ(settings.Grippers[1].ReportPeriodMs, 50);
    EXPECT_TRUE(settings.Mqtt.Enabled);
    EXPECT_TRUE(settings.Mqtt.Tls);
    EXPECT_EQ(settings.Mqtt.Host, QStringLiteral("broker.plant"));
    EXPECT_EQ(settings.Mqtt.Port, 8884);
    EXPECT_EQ(settings.Mqtt.Password, QStringLiteral("s3cret"));
    EXPECT_EQ(settings.Mqtt.Prefix, QStringLiteral("plant/krm"));
    EXPECT_TRUE(settings.Mqtt.ReadOnly);
    EXPECT_EQ(settings.MetricsHost, QStringLiteral("::1"));
    EXPECT_EQ(settings.MetricsPort, 9999);
}

TEST(GatewayConfig, AWrongFileIsRefusedWithLineAndReason)
{
    EXPECT_EQ(ConfigError(QStringLiteral("[gripper a]\nconnection=tcp:h:1\nspeed=3\n")),
        QStringLiteral("gw.conf:3: unknown key \"speed\" in [gripper a] (known: connection, report_period_ms)"));
    EXPECT_EQ(ConfigError(QStringLiteral("url=mqtt://h:1\n")), QStringLiteral("gw.conf:1: key \"url\" stands before the first section"));
    EXPECT_EQ(ConfigError(QStringLiteral("[gripper a]\nreport_period_ms=5\n")),
        QStringLiteral("gw.conf:2: report_period_ms \"5\" is not a whole number from 10 to 65535"));
    EXPECT_EQ(ConfigError(QStringLiteral("\n[gripper a]\nreport_period_ms=50\n")), QStringLiteral("gw.conf:2: [gripper a] has no connection="));
    EXPECT_EQ(ConfigError(QStringLiteral("[gripper a]\nconnection=tcp:h:1\n[gripper a]\n")), QStringLiteral("gw.conf:3: gripper \"a\" is configured twice"));
    EXPECT_EQ(ConfigError(QStringLiteral("[gripper a/b]\n")).left(10), QStringLiteral("gw.conf:1:"));
    EXPECT_EQ(ConfigError(QStringLiteral("[gripper a]\n\nconnection=tcp:127.0.0.1:99999\n")),
        QStringLiteral("gw.conf:3: connection \"tcp:127.0.0.1:99999\": PORT \"99999\" is not a number from 1 to 65535"));
    EXPECT_EQ(ConfigError(QStringLiteral("[mqtt]\nurl=http://h:1\n")),
        QStringLiteral("gw.conf:2: url \"http://h:1\" is not mqtt://HOST:PORT or mqtts://HOST:PORT"));
    EXPECT_EQ(ConfigError(QStringLiteral("[mqtt]\nread_only=yes\n")), QStringLiteral("gw.conf:2: read_only \"yes\" is neither true nor false"));
    EXPECT_EQ(ConfigError(QStringLiteral("[mqtt]\nprefix=krm/#\n")).left(11), QStringLiteral("gw.conf:2: "));
    EXPECT_EQ(ConfigError(QStringLiteral("[mqtt]\nprefix=a\nprefix=b\n")), QStringLiteral("gw.conf:3: key \"prefix\" is given twice in [mqtt]"));
    EXPECT_EQ(ConfigError(QStringLiteral("[mqtt]\npassword_file=/nonexistent/pw\n")).left(44),
        QStringLiteral("password_file /nonexistent/pw: cannot read: "));
    EXPECT_EQ(ConfigError(QStringLiteral("[metrics]\nlisten=9750\n")), QStringLiteral("gw.conf:2: listen \"9750\" is not HOST:PORT"));
    EXPECT_EQ(ConfigError(QStringLiteral("[metrics]\nlisten=h:70000\n")), QStringLiteral("gw.conf:2: listen \"h:70000\" is not HOST:PORT"));
    EXPECT_TRUE(ConfigError(QStringLiteral("[logging]\n")).startsWith(QStringLiteral("gw.conf:1: unknown section [logging]")));
    EXPECT_EQ(ConfigError(QStringLiteral("[mqtt\n")), QStringLiteral("gw.conf:1: \"[mqtt\" is not closed by ]"));
    EXPECT_EQ(ConfigError(QStringLiteral("[mqtt]\njust words\n")), QStringLiteral("gw.conf:2: \"just words\" is neither a [section] nor a key=value line"));
}

TEST(GatewayConfig, TheCommandLineOverridesTheFile)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("gateway.conf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[gripper a]\nconnection=tcp:127.0.0.1:1\nreport_period_ms=200\n[mqtt]\nurl=mqtt://old:1883\n");
    file.close();
    const TGatewaySettings settings = LoadGatewaySettings(ParseGatewayOptions({QStringLiteral("--config"), path, QStringLiteral("--gripper"),
        QStringLiteral("a=tcp:127.0.0.1:2"), QStringLiteral("--gripper"), QStringLiteral("b=can:virtualcan:can0"), QStringLiteral("--mqtt"),
        QStringLiteral("mqtt://new"), QStringLiteral("--metrics"), QStringLiteral("0.0.0.0:9100")}));
    ASSERT_EQ(settings.Grippers.size(), 2u);
    EXPECT_EQ(settings.Grippers[0].Connection, QStringLiteral("tcp:127.0.0.1:2"));
    EXPECT_EQ(settings.Grippers[0].ReportPeriodMs, 200);
    EXPECT_EQ(settings.Grippers[1].Name, QStringLiteral("b"));
    EXPECT_EQ(settings.Mqtt.Host, QStringLiteral("new"));
    EXPECT_EQ(settings.Mqtt.Port, 1883);
    EXPECT_EQ(settings.MetricsPort, 9100);

    const auto refused = [](const QStringList& arguments) {
        try {
            LoadGatewaySettings(ParseGatewayOptions(arguments));
        } catch (const TConfigError& error) {
            return error.Message();
        }
        return QString();
    };
    EXPECT_EQ(refused({}), QStringLiteral("no gripper is configured: give [gripper NAME] sections or --gripper NAME=CONNECTION"));
    EXPECT_EQ(refused({QStringLiteral("--gripper"), QStringLiteral("tcp:127.0.0.1:1")}).left(36), QStringLiteral("--gripper \"tcp:127.0.0.1:1\" is not N"));
    EXPECT_EQ(refused({QStringLiteral("--mqtt")}), QStringLiteral("--mqtt needs a value"));
    EXPECT_TRUE(refused({QStringLiteral("--gripper"), QStringLiteral("a=udp:h:1")}).startsWith(QStringLiteral("--gripper a: connection \"udp:h:1\": ")));
    EXPECT_EQ(refused({QStringLiteral("--verbose")}), QStringLiteral("unknown option \"--verbose\" (krm-gateway --help lists the options)"));
    EXPECT_EQ(refused({QStringLiteral("--gripper"), QStringLiteral("a=tcp:h:1"), QStringLiteral("--mqtt"), QStringLiteral("mqtt://h:0")}),
        QStringLiteral("--mqtt \"mqtt://h:0\" is not mqtt://HOST:PORT or mqtts://HOST:PORT"));
    EXPECT_TRUE(refused({QStringLiteral("--config"), folder.filePath(QStringLiteral("missing.conf"))}).startsWith(QStringLiteral("config ")));
}

uint8_t RefusedStatus(const QByteArray& json, bool readOnly = false)
{
    try {
        ParseGatewayCommand(json, readOnly);
    } catch (const TCommandRefused& refused) {
        return refused.Status;
    }
    return E_SUCCESS;
}

TEST(GatewayCommand, ValuesByNameBecomeKrmCliArguments)
{
    const TCliCommand grasp = ParseGatewayCommand(R"({"command": "grasp", "width": 20.5, "speed": 100})", false);
    EXPECT_EQ(grasp.Verb, TCliVerb::Grasp);
    EXPECT_EQ(grasp.Values, (std::vector<double>{20.5, 100}));
    EXPECT_EQ(ParseGatewayCommand(R"({"command": "fast_stop"})", true).Verb, TCliVerb::FastStop);
    EXPECT_EQ(ParseGatewayCommand(R"({"command": "force_limit"})", true).Verb, TCliVerb::ForceLimit);
    EXPECT_TRUE(ParseGatewayCommand(R"({"command": "stats", "reset": true})", false).Reset);
    EXPECT_EQ(ParseGatewayCommand(R"({"command": "home", "direction": 2})", false).Values, std::vector<double>{2});

    EXPECT_EQ(RefusedStatus("[1]"), E_CMD_FORMAT_ERROR);
    EXPECT_EQ(RefusedStatus(R"({"command": 3})"), E_CMD_FORMAT_ERROR);
    EXPECT_EQ(RefusedStatus(R"({"command": "dance"})"), E_CMD_UNKNOWN);
    EXPECT_EQ(RefusedStatus(R"({"command": "watch"})"), E_CMD_UNKNOWN);
    EXPECT_EQ(RefusedStatus(R"({"command": "grasp", "width": 20})"), E_CMD_FORMAT_ERROR);
    EXPECT_EQ(RefusedStatus(R"({"command": "grasp", "speed": 20})"), E_CMD_FORMAT_ERROR);
    EXPECT_EQ(RefusedStatus(R"({"command": "home", "direction": 256})"), E_CMD_FORMAT_ERROR);
    EXPECT_EQ(RefusedStatus(R"({"command": "home", "direction": 1.5})"), E_CMD_FORMAT_ERROR);
    EXPECT_EQ(RefusedStatus(R"({"command": "stats", "reset": 1})"), E_CMD_FORMAT_ERROR);
    EXPECT_EQ(RefusedStatus(R"({"command": "stop", "speed": 1})"), E_CMD_FORMAT_ERROR);

    EXPECT_EQ(RefusedStatus(R"({"command": "home"})", true), E_ACCESS_DENIED);
    EXPECT_EQ(RefusedStatus(R"({"command": "ack"})", true), E_ACCESS_DENIED);
    EXPECT_EQ(RefusedStatus(R"({"command": "force-limit", "value": 20})", true), E_ACCESS_DENIED);
    for (const char* reading : {R"({"command": "info"})", R"({"command": "state"})", R"({"command": "stats"})", R"({"command": "accel"})",
             R"({"command": "stop"})"})
        EXPECT_EQ(RefusedStatus(reading, true), E_SUCCESS) << reading;
}

TEST(GatewayMetrics, HistogramsAreCumulativeAndLabelValuesEscaped)
{
    TMetrics metrics;
    metrics.Declare("t_seconds", TMetrics::TType::Histogram, "Help.", {0.5, 0.1, 1});
    metrics.Declare("t_total", TMetrics::TType::Counter, "Help.");
    metrics.Observe("t_seconds", {{"gripper", "a"}}, 0.1);
    metrics.Observe("t_seconds", {{"gripper", "a"}}, 0.7);
    metrics.Observe("t_seconds", {{"gripper", "a"}}, 3);
    metrics.Add("t_total", {{"gripper", "x\"y\\z\n"}}, 2);
    EXPECT_EQ(metrics.Text(),
        "# HELP t_seconds Help.\n# TYPE t_seconds histogram\n"
        "t_seconds_bucket{gripper=\"a\",le=\"0.1\"} 1\n"
        "t_seconds_bucket{gripper=\"a\",le=\"0.5\"} 1\n"
        "t_seconds_bucket{gripper=\"a\",le=\"1\"} 2\n"
        "t_seconds_bucket{gripper=\"a\",le=\"+Inf\"} 3\n"
        "t_seconds_sum{gripper=\"a\"} 3.8\n"
        "t_seconds_count{gripper=\"a\"} 3\n"
        "# HELP t_total Help.\n# TYPE t_total counter\n"
        "t_total{gripper=\"x\\\"y\\\\z\\n\"} 2\n");
}

} // namespace
