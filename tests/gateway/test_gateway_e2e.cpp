// krm-gateway against real parts: the mosquitto broker, gripper-sim
// processes and, for the metrics over time, a Prometheus server.
#include "GatewayHarness.h"
#include "SimulatorProcess.h"

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QDateTime>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr int WaitMs = 10000;

class GatewayEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FBroker.Start());
        // a holds a 30 mm part, which slips out after a second; b is a
        // plain gripper.
        ASSERT_TRUE(FSimA.Start({QStringLiteral("--referenced"), QStringLiteral("--part-width"), QStringLiteral("30"),
            QStringLiteral("--part-lost-after"), QStringLiteral("1000")}));
        ASSERT_TRUE(FSimB.Start({QStringLiteral("--referenced")}));
    }

    void StartGateway(bool readOnly = false)
    {
        ASSERT_TRUE(FGateway.Start(Config(readOnly))) << FGateway.Errors().toStdString();
        ConnectProbe();
    }

    void ConnectProbe()
    {
        FProbe = std::make_unique<TProbe>(FBroker.Port(), QStringList{QStringLiteral("krm/#"), QStringLiteral("reply/#")});
        ASSERT_TRUE(FProbe->WaitConnected(WaitMs));
        for (const char* name : {"a", "b"})
            ASSERT_FALSE(WaitForStatus(name, "online").Topic.isEmpty()) << name;
    }

    QString Config(bool readOnly) const
    {
        return QStringLiteral(
            "; two cells\n[gripper a]\nconnection = tcp:127.0.0.1:%1\nreport_period_ms = 20\n\n"
            "[gripper b]\nconnection=tcp:127.0.0.1:%2\n\n[mqtt]\nurl=%3\nclient_id=test\nread_only=%4\n\n[metrics]\nlisten=127.0.0.1:0\n")
            .arg(FSimA.TcpPort())
            .arg(FSimB.TcpPort())
            .arg(FBroker.Url(), readOnly ? QStringLiteral("true") : QStringLiteral("false"));
    }

    TMessage WaitForStatus(const QString& gripper, const QByteArray& status, size_t from = 0, int timeoutMs = WaitMs)
    {
        const QString topic = QStringLiteral("krm/%1/status").arg(gripper);
        return FProbe->WaitFor([&](const TMessage& m) { return m.Topic == topic && m.Payload == status; }, timeoutMs, from);
    }

    TMessage WaitForEvent(const QString& gripper, const QString& event, size_t from = 0)
    {
        const QString topic = QStringLiteral("krm/%1/event").arg(gripper);
        return FProbe->WaitFor(
            [&](const TMessage& m) { return m.Topic == topic && m.Json().value(QStringLiteral("event")).toString() == event; }, WaitMs,
            from);
    }

    // Sends a command to gripper `name` and waits for its result.
    QJsonObject Command(const QString& name, const QByteArray& json, int timeoutMs = WaitMs)
    {
        const QByteArray correlation = QByteArray::number(++FRequests);
        const size_t from = FProbe->Count();
        FProbe->Request(QStringLiteral("krm/%1/command").arg(name), json, QStringLiteral("reply/%1").arg(name), correlation);
        const TMessage result = FProbe->WaitFor(
            [&](const TMessage& m) { return m.Topic == QStringLiteral("reply/%1").arg(name) && m.Correlation == correlation; },
            timeoutMs, from);
        return result.Json();
    }

    double Metric(const QString& series)
    {
        for (const QByteArray& line : FGateway.Scrape().split('\n'))
            if (line.startsWith(series.toUtf8() + ' '))
                return line.mid(series.size() + 1).toDouble();
        return std::nan("");
    }

    // Scrapes until `series` has `value`; the value last seen.
    double WaitForMetric(const QString& series, double value)
    {
        const QDeadlineTimer deadline(WaitMs);
        double seen = Metric(series);
        while (seen != value && !deadline.hasExpired()) {
            QThread::msleep(50);
            seen = Metric(series);
        }
        return seen;
    }

    TBroker FBroker;
    TSimulatorProcess FSimA;
    TSimulatorProcess FSimB;
    TGatewayProcess FGateway;
    std::unique_ptr<TProbe> FProbe;
    int FRequests = 0;
};

TEST_F(GatewayEndToEnd, StateAndEventsArriveAndCommandsMoveTheFingers)
{
    StartGateway();
    const TMessage state = FProbe->WaitFor([](const TMessage& m) { return m.Topic == QLatin1String("krm/a/state"); }, WaitMs);
    ASSERT_FALSE(state.Topic.isEmpty());
    EXPECT_TRUE(state.Json().value(QStringLiteral("online")).toBool());
    EXPECT_EQ(state.Json().value(QStringLiteral("Flags")).toArray().first().toString(), QStringLiteral("Referenced"));

    // A grasp: its result comes back with the correlation data, its end as
    // an event, the part held in the state and the metrics.
    const size_t before = FProbe->Count();
    const QJsonObject grasp = Command(QStringLiteral("a"), R"({"command": "grasp", "width": 25, "speed": 200})");
    EXPECT_EQ(grasp.value(QStringLiteral("status")).toString(), QStringLiteral("E_SUCCESS"));
    EXPECT_EQ(grasp.value(QStringLiteral("command")).toString(), QStringLiteral("grasp"));
    EXPECT_NEAR(grasp.value(QStringLiteral("Width")).toDouble(), 30, 0.5);
    const QJsonObject finished = WaitForEvent(QStringLiteral("a"), QStringLiteral("motion_finished"), before).Json();
    EXPECT_EQ(finished.value(QStringLiteral("command")).toString(), QStringLiteral("grasp"));
    EXPECT_EQ(finished.value(QStringLiteral("status")).toString(), QStringLiteral("E_SUCCESS"));
    EXPECT_GT(finished.value(QStringLiteral("duration_s")).toDouble(), 0);
    EXPECT_FALSE(FProbe
                     ->WaitFor([](const TMessage& m) {
                         return m.Topic == QLatin1String("krm/a/state")
                             && m.Json().value(QStringLiteral("GraspingStateText")).toString() == QLatin1String("holding");
                     },
                         WaitMs, before)
                     .Topic.isEmpty());
    EXPECT_EQ(Metric(R"(krm_motions_total{gripper="a",command="grasp",status="E_SUCCESS"})"), 1);
    EXPECT_EQ(Metric(R"(krm_grasps_total{gripper="a",outcome="holding"})"), 1);
    EXPECT_EQ(WaitForMetric(R"(krm_grasp_width_meters_bucket{gripper="a",le="0.03"})", 1), 1);
    EXPECT_EQ(Metric(R"(krm_motion_duration_seconds_count{gripper="a",command="grasp"})"), 1);
    EXPECT_TRUE(WaitForEvent(QStringLiteral("a"), QStringLiteral("part_lost"), before).Json().value(QStringLiteral("position")).isDouble());
    EXPECT_EQ(WaitForMetric(R"(krm_grasps_total{gripper="a",outcome="part_lost"})", 1), 1);

    // Malformed or out of range: an error result, and nothing moves.
    const double position = Metric(R"(krm_position_meters{gripper="b"})");
    EXPECT_EQ(Command(QStringLiteral("b"), "{\"command\": \"goto\", \"position\": 10").value(QStringLiteral("status")).toString(),
        QStringLiteral("E_CMD_FORMAT_ERROR"));
    EXPECT_EQ(Command(QStringLiteral("b"), R"({"command": "goto", "position": "10", "speed": 50})").value(QStringLiteral("status")).toString(),
        QStringLiteral("E_CMD_FORMAT_ERROR"));
    EXPECT_EQ(Command(QStringLiteral("b"), R"({"command": "goto", "width": 10, "speed": 50})").value(QStringLiteral("status")).toString(),
        QStringLiteral("E_CMD_FORMAT_ERROR"));
    EXPECT_EQ(Command(QStringLiteral("b"), R"({"command": "raw", "value": 1})").value(QStringLiteral("status")).toString(),
        QStringLiteral("E_CMD_UNKNOWN"));
    const QJsonObject range = Command(QStringLiteral("b"), R"({"command": "goto", "position": 500, "speed": 50})");
    EXPECT_EQ(range.value(QStringLiteral("status")).toString(), QStringLiteral("E_RANGE_ERROR"));
    EXPECT_TRUE(range.value(QStringLiteral("error")).toString().contains(QStringLiteral("POSITION 500 is outside")));
    EXPECT_EQ(Metric(R"(krm_position_meters{gripper="b"})"), position);
    EXPECT_TRUE(std::isnan(Metric(R"(krm_motions_total{gripper="b",command="goto",status="E_SUCCESS"})")));

    // Every state is compact JSON exactly as Qt writes it, with the receive
    // time in milliseconds.
    for (const TMessage& m : FProbe->Messages()) {
        if (!m.Topic.endsWith(QLatin1String("/state")))
            continue;
        EXPECT_EQ(QJsonDocument::fromJson(m.Payload).toJson(QJsonDocument::Compact), m.Payload);
        const QString time = m.Json().value(QStringLiteral("time")).toString();
        EXPECT_TRUE(QDateTime::fromString(time, Qt::ISODateWithMs).isValid()) << time.toStdString();
        EXPECT_TRUE(time.endsWith(u'Z')) << time.toStdString();
    }
}

TEST_F(GatewayEndToEnd, StatesAreLimitedPerSecondAndTheLastOneGetsOut)
{
    StartGateway();
    // a reports every 20 ms: 50 a second while its fingers move.
    const size_t before = FProbe->Count();
    const QJsonObject moved = Command(QStringLiteral("a"), R"({"command": "goto", "position": 100, "speed": 25})");
    ASSERT_EQ(moved.value(QStringLiteral("status")).toString(), QStringLiteral("E_SUCCESS"));
    const TMessage last = FProbe->WaitFor(
        [](const TMessage& m) { return m.Topic == QLatin1String("krm/a/state") && m.Json().value(QStringLiteral("Position")).toDouble() == 100; },
        WaitMs, before);
    ASSERT_FALSE(last.Topic.isEmpty());
    std::vector<qint64> times;
    for (const TMessage& m : FProbe->Messages(before))
        if (m.Topic == QLatin1String("krm/a/state"))
            times.push_back(m.ReceivedUs);
    // About two seconds of motion. Unlimited, 21 messages would span 400 ms;
    // the rest is allowed for the broker's delivery on a busy machine, which
    // may bring two messages closer than they were sent.
    EXPECT_GT(times.size(), 30U);
    for (size_t i = 20; i < times.size(); ++i)
        EXPECT_GE(times[i] - times[i - 20], 700000) << i;
}

TEST_F(GatewayEndToEnd, StopGoesOutWhileAMotionIsWaitedFor)
{
    StartGateway();
    // A slow move takes seconds; its command waits for the final answer.
    const QByteArray correlation = "slow";
    const size_t before = FProbe->Count();
    FProbe->Request(QStringLiteral("krm/b/command"), R"({"command": "goto", "position": 0, "speed": 5})", QStringLiteral("reply/b"), correlation);
    ASSERT_FALSE(FProbe->WaitFor([](const TMessage& m) {
                           return m.Topic == QLatin1String("krm/b/state") && m.Json().value(QStringLiteral("Flags")).toArray().contains(QStringLiteral("Moving"));
                       },
                           WaitMs, before)
                     .Topic.isEmpty());
    const QJsonObject stop = Command(QStringLiteral("b"), R"({"command": "stop"})", 2000);
    EXPECT_EQ(stop.value(QStringLiteral("status")).toString(), QStringLiteral("E_SUCCESS"));
    const TMessage moved = FProbe->WaitFor(
        [&](const TMessage& m) { return m.Topic == QLatin1String("reply/b") && m.Correlation == correlation; }, WaitMs, before);
    EXPECT_EQ(moved.Json().value(QStringLiteral("status")).toString(), QStringLiteral("E_CMD_ABORTED"));

    // A fast stop and its acknowledgement are events and counted.
    const size_t fast = FProbe->Count();
    EXPECT_EQ(Command(QStringLiteral("b"), R"({"command": "fast_stop"})").value(QStringLiteral("status")).toString(), QStringLiteral("E_SUCCESS"));
    EXPECT_FALSE(WaitForEvent(QStringLiteral("b"), QStringLiteral("fast_stop"), fast).Topic.isEmpty());
    EXPECT_EQ(Command(QStringLiteral("b"), R"({"command": "goto", "position": 50, "speed": 50})").value(QStringLiteral("status")).toString(),
        QStringLiteral("E_ACCESS_DENIED"));
    EXPECT_EQ(Command(QStringLiteral("b"), R"({"command": "ack"})").value(QStringLiteral("status")).toString(), QStringLiteral("E_SUCCESS"));
    EXPECT_FALSE(WaitForEvent(QStringLiteral("b"), QStringLiteral("fast_stop_acknowledged"), fast).Topic.isEmpty());
    EXPECT_EQ(Metric(R"(krm_fast_stops_total{gripper="b"})"), 1);
}

TEST_F(GatewayEndToEnd, ReadOnlyRefusesMotions)
{
    StartGateway(true);
    const QJsonObject refused = Command(QStringLiteral("a"), R"({"command": "goto", "position": 80, "speed": 100})");
    EXPECT_EQ(refused.value(QStringLiteral("status")).toString(), QStringLiteral("E_ACCESS_DENIED"));
    EXPECT_EQ(Command(QStringLiteral("a"), R"({"command": "stats", "reset": true})").value(QStringLiteral("status")).toString(),
        QStringLiteral("E_ACCESS_DENIED"));
    EXPECT_EQ(Command(QStringLiteral("a"), R"({"command": "accel", "value": 1000})").value(QStringLiteral("status")).toString(),
        QStringLiteral("E_ACCESS_DENIED"));
    // Reading and stopping are taken.
    const QJsonObject limits = Command(QStringLiteral("a"), R"({"command": "limits"})");
    EXPECT_EQ(limits.value(QStringLiteral("status")).toString(), QStringLiteral("E_SUCCESS"));
    EXPECT_EQ(limits.value(QStringLiteral("Stroke")).toDouble(), 110);
    EXPECT_EQ(Command(QStringLiteral("a"), R"({"command": "stop"})").value(QStringLiteral("status")).toString(), QStringLiteral("E_SUCCESS"));
    EXPECT_TRUE(std::isnan(Metric(R"(krm_motions_total{gripper="a",command="goto",status="E_SUCCESS"})")));
}

TEST_F(GatewayEndToEnd, ASimulatorRestartedShowsOfflineThenOnlineAndIsCounted)
{
    StartGateway();
    TPrometheus prometheus;
    ASSERT_TRUE(prometheus.Start(FGateway.MetricsPort()));
    ASSERT_TRUE(prometheus.WaitForValue(QStringLiteral("krm_link_up{gripper=\"b\"}"), 1, WaitMs));

    const quint16 port = FSimB.TcpPort();
    const size_t before = FProbe->Count();
    // A slow move under way when the gripper goes: its command ends with the
    // link, not with the motion timeout.
    FProbe->Request(QStringLiteral("krm/b/command"), R"({"command": "goto", "position": 0, "speed": 5})", QStringLiteral("reply/b"), "cut");
    ASSERT_FALSE(FProbe->WaitFor([](const TMessage& m) {
                           return m.Topic == QLatin1String("krm/b/state") && m.Json().value(QStringLiteral("Flags")).toArray().contains(QStringLiteral("Moving"));
                       },
                           WaitMs, before)
                     .Topic.isEmpty());
    FSimB.Stop();
    const TMessage cut = FProbe->WaitFor([](const TMessage& m) { return m.Topic == QLatin1String("reply/b") && m.Correlation == "cut"; }, WaitMs, before);
    EXPECT_EQ(cut.Json().value(QStringLiteral("status")).toString(), QStringLiteral("E_NOT_OPENED")) << cut.Payload.toStdString();
    EXPECT_FALSE(WaitForStatus(QStringLiteral("b"), "offline", before).Topic.isEmpty());
    EXPECT_FALSE(WaitForEvent(QStringLiteral("b"), QStringLiteral("link_lost"), before).Topic.isEmpty());
    ASSERT_TRUE(prometheus.WaitForValue(QStringLiteral("krm_link_up{gripper=\"b\"}"), 0, WaitMs));
    // Without its link a command is answered at once.
    EXPECT_EQ(Command(QStringLiteral("b"), R"({"command": "state"})").value(QStringLiteral("status")).toString(), QStringLiteral("E_NOT_OPENED"));

    ASSERT_TRUE(FSimB.Start({QStringLiteral("--referenced")}, port));
    const size_t down = FProbe->Count();
    EXPECT_FALSE(WaitForStatus(QStringLiteral("b"), "online", down).Topic.isEmpty());
    EXPECT_FALSE(WaitForEvent(QStringLiteral("b"), QStringLiteral("link_back"), down).Topic.isEmpty());
    EXPECT_TRUE(prometheus.WaitForValue(QStringLiteral("krm_reconnects_total{gripper=\"b\"}"), 1, WaitMs));
    EXPECT_TRUE(prometheus.WaitForValue(QStringLiteral("krm_link_up{gripper=\"b\"}"), 1, WaitMs));
    // The other gripper never noticed.
    EXPECT_EQ(prometheus.Query(QStringLiteral("krm_reconnects_total{gripper=\"a\"}")), 0);
}

TEST_F(GatewayEndToEnd, ABrokerRestartedLosesNoRetainedStateAndNoEvent)
{
    StartGateway();
    ASSERT_FALSE(FProbe->WaitFor([](const TMessage& m) { return m.Topic == QLatin1String("krm/b/state"); }, WaitMs).Topic.isEmpty());
    FBroker.Stop();
    // An event while the broker is away waits for it.
    FSimA.Stop();
    QThread::msleep(500);
    ASSERT_TRUE(FBroker.Start());

    TProbe fresh(FBroker.Port(), {QStringLiteral("krm/#")});
    ASSERT_TRUE(fresh.WaitConnected(WaitMs));
    const auto retained = [&](const QString& topic, const QByteArray& payload) {
        return !fresh
                    .WaitFor([&](const TMessage& m) { return m.Topic == topic && (payload.isEmpty() || m.Payload == payload); },
                        WaitMs)
                    .Topic.isEmpty();
    };
    EXPECT_TRUE(retained(QStringLiteral("krm/b/status"), "online"));
    EXPECT_TRUE(retained(QStringLiteral("krm/a/status"), "offline"));
    EXPECT_TRUE(retained(QStringLiteral("krm/b/state"), {}));
    EXPECT_TRUE(retained(QStringLiteral("krm/a/state"), {}));
    EXPECT_FALSE(fresh.WaitFor([](const TMessage& m) {
                          return m.Topic == QLatin1String("krm/a/event") && m.Json().value(QStringLiteral("event")).toString() == QLatin1String("link_lost");
                      },
                          WaitMs)
                     .Topic.isEmpty());
    // A client that comes later still finds them retained.
    TProbe later(FBroker.Port(), {QStringLiteral("krm/+/status")});
    ASSERT_TRUE(later.WaitConnected(WaitMs));
    const TMessage status = later.WaitFor([](const TMessage& m) { return m.Topic == QLatin1String("krm/b/status"); }, WaitMs);
    EXPECT_TRUE(status.Retained);
    EXPECT_EQ(status.Payload, "online");
}

TEST_F(GatewayEndToEnd, FramesAnswerTimesAndLineFaultsAreCounted)
{
    // b sends some frames with a wrong checksum and some after stray bytes;
    // with this seed none of the first 22, which connecting takes.
    const quint16 port = FSimB.TcpPort();
    FSimB.Stop();
    ASSERT_TRUE(FSimB.Start({QStringLiteral("--referenced"), QStringLiteral("--corrupt-rate"), QStringLiteral("0.05"),
                                QStringLiteral("--garbage-rate"), QStringLiteral("0.2"), QStringLiteral("--seed"), QStringLiteral("2")},
        port));
    StartGateway();

    // One request: one frame out, and its answer timed.
    const QString sent = QStringLiteral(R"(krm_packets_total{gripper="a",direction="sent"})");
    const QString received = QStringLiteral(R"(krm_packets_total{gripper="a",direction="received"})");
    const QString answers = QStringLiteral(R"(krm_answer_time_seconds_count{gripper="a"})");
    const double sentBefore = Metric(sent);
    const double receivedBefore = Metric(received);
    const double answersBefore = Metric(answers);
    EXPECT_GT(answersBefore, 0); // the state read on connecting
    EXPECT_EQ(Command(QStringLiteral("a"), R"({"command": "info"})").value(QStringLiteral("status")).toString(), QStringLiteral("E_SUCCESS"));
    EXPECT_EQ(WaitForMetric(answers, answersBefore + 1), answersBefore + 1);
    EXPECT_EQ(Metric(sent), sentBefore + 1);
    EXPECT_GE(Metric(received), receivedBefore + 1);
    EXPECT_EQ(Metric(QStringLiteral(R"(krm_answer_time_seconds_bucket{gripper="a",le="+Inf"})")), answersBefore + 1);
    const double sum = Metric(QStringLiteral(R"(krm_answer_time_seconds_sum{gripper="a"})"));
    EXPECT_GT(sum, 0);
    EXPECT_LT(sum, 3 * (answersBefore + 1));

    // b's fingers move to and fro until its reports have brought both faults.
    const QString checksum = QStringLiteral(R"(krm_frame_errors_total{gripper="b",fault="checksum"})");
    const QString stray = QStringLiteral(R"(krm_frame_errors_total{gripper="b",fault="stray_bytes"})");
    const QDeadlineTimer deadline(3 * WaitMs);
    for (int i = 0; !(Metric(checksum) > 0 && Metric(stray) > 0) && !deadline.hasExpired(); ++i)
        Command(QStringLiteral("b"), i % 2 ? R"({"command": "goto", "position": 90, "speed": 200})" : R"({"command": "goto", "position": 20, "speed": 200})");
    EXPECT_GT(Metric(checksum), 0);
    EXPECT_GT(Metric(stray), 0);
    EXPECT_GT(Metric(QStringLiteral(R"(krm_packets_total{gripper="b",direction="received"})")), 0);
    // a's line is clean.
    EXPECT_EQ(Metric(QStringLiteral(R"(krm_frame_errors_total{gripper="a",fault="checksum"})")), 0);
    EXPECT_EQ(Metric(QStringLiteral(R"(krm_frame_errors_total{gripper="a",fault="stray_bytes"})")), 0);
}

TEST_F(GatewayEndToEnd, ABrokerThatComesLaterIsConnectedTo)
{
    // The gateway starts while nothing listens on the broker's port, and
    // its grippers come up without it.
    FBroker.Stop();
    ASSERT_TRUE(FGateway.Start(Config(false))) << FGateway.Errors().toStdString();
    ASSERT_EQ(WaitForMetric(QStringLiteral(R"(krm_link_up{gripper="a"})"), 1), 1);
    ASSERT_TRUE(FBroker.Start());
    ConnectProbe();
    EXPECT_EQ(Command(QStringLiteral("b"), R"({"command": "state"})").value(QStringLiteral("status")).toString(), QStringLiteral("E_SUCCESS"));
}

TEST_F(GatewayEndToEnd, TlsToTheBrokerCarriesStateAndAForeignCaIsRefused)
{
    // The broker listens for TLS besides the plain listener the probe uses.
    FBroker.Stop();
    ASSERT_TRUE(FBroker.AddTls());
    ASSERT_TRUE(FBroker.Start());
    FProbe = std::make_unique<TProbe>(FBroker.Port(), QStringList{QStringLiteral("foreign/#"), QStringLiteral("trusted/#")});
    ASSERT_TRUE(FProbe->WaitConnected(WaitMs));
    const auto config = [this](const QString& prefix, const QString& caFile) {
        return QStringLiteral("[gripper a]\nconnection=tcp:127.0.0.1:%1\n[mqtt]\nurl=%2\nca_file=%3\nclient_id=%4\nprefix=%4\n"
                              "[metrics]\nlisten=127.0.0.1:0\n")
            .arg(FSimA.TcpPort())
            .arg(FBroker.TlsUrl(), caFile, prefix);
    };

    // A certificate from a CA it was not given: the gateway keeps its
    // gripper, tells that the broker cannot be reached, and nothing of it
    // reaches the broker.
    ASSERT_TRUE(FGateway.Start(config(QStringLiteral("foreign"), FBroker.OtherCaFile()))) << FGateway.Errors().toStdString();
    ASSERT_EQ(WaitForMetric(QStringLiteral(R"(krm_link_up{gripper="a"})"), 1), 1);
    ASSERT_EQ(WaitForMetric(QStringLiteral(R"(krm_mqtt_connected{gripper="a"})"), 0), 0);
    const QString errors = FGateway.Errors();
    EXPECT_TRUE(errors.contains(QStringLiteral("a: the broker cannot be reached")) && errors.contains(QStringLiteral("certificate verify failed")))
        << errors.toStdString();
    EXPECT_TRUE(FProbe->WaitFor([](const TMessage& m) { return m.Topic.startsWith(QStringLiteral("foreign/")); }, 1000).Topic.isEmpty());
    FGateway.Stop();

    // The CA that signed it: status and state arrive through TLS.
    ASSERT_TRUE(FGateway.Start(config(QStringLiteral("trusted"), FBroker.CaFile()))) << FGateway.Errors().toStdString();
    EXPECT_FALSE(FProbe->WaitFor([](const TMessage& m) { return m.Topic == QStringLiteral("trusted/a/status") && m.Payload == "online"; }, WaitMs)
                     .Topic.isEmpty());
    const TMessage state = FProbe->WaitFor([](const TMessage& m) { return m.Topic == QStringLiteral("trusted/a/state"); }, WaitMs);
    EXPECT_EQ(state.Json().value(QStringLiteral("online")).toBool(), true) << state.Payload.toStdString();
    EXPECT_EQ(Metric(QStringLiteral(R"(krm_mqtt_connected{gripper="a"})")), 1);
}

TEST_F(GatewayEndToEnd, PromtoolAcceptsTheMetrics)
{
    StartGateway();
    Command(QStringLiteral("a"), R"({"command": "grasp", "width": 25, "speed": 200})");
    ASSERT_EQ(WaitForMetric(R"(krm_grasp_width_meters_count{gripper="a"})", 1), 1);
    const QByteArray text = FGateway.Scrape();
    for (const char* family : {"krm_link_up", "krm_reconnects_total", "krm_position_meters", "krm_speed_meters_per_second",
             "krm_force_newtons", "krm_state_flag", "krm_grasping_state", "krm_motions_total", "krm_motion_duration_seconds",
             "krm_grasp_width_meters", "krm_grasps_total", "krm_fast_stops_total", "krm_fault_flag_raised_total",
             "krm_packets_total", "krm_frame_errors_total", "krm_answer_time_seconds"})
        EXPECT_TRUE(text.contains(QByteArray("# TYPE ") + family + ' ')) << family;
    for (const QByteArray& line : text.split('\n'))
        if (!line.isEmpty() && !line.startsWith('#'))
            EXPECT_TRUE(line.contains("gripper=\"")) << line.toStdString();
    QProcess promtool;
    promtool.start(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
    ASSERT_TRUE(promtool.waitForStarted());
    promtool.write(text);
    promtool.closeWriteChannel();
    ASSERT_TRUE(promtool.waitForFinished(WaitMs));
    EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAll().toStdString();
}

} // namespace
