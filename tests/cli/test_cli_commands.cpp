// krm-cli against the simulator over TCP: each command, its output in both
// forms, and the checks that keep bad values off the wire.
#include "CliTestSupport.h"
#include "SimulatorProcess.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

class CliCommands : public ::testing::Test {
protected:
    void Start(const QStringList& simArgs = {QStringLiteral("--part-width"), QStringLiteral("15")})
    {
        ASSERT_TRUE(FSim.Start(simArgs));
    }
    TCliRun Cli(const QStringList& args, const QByteArray& input = {}) { return RunCli(OverTcp(FSim.TcpPort(), args), input); }

    TSimulatorProcess FSim;
};

TEST_F(CliCommands, HomeGotoGraspStatePrintsOneLinePerCommand)
{
    Start();
    const TCliRun run = Cli(Words("home , goto 50 100 , grasp 20 50 , state"));
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const QStringList lines = run.Lines();
    ASSERT_EQ(lines.size(), 4) << run.Out.toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("home: No error"));
    EXPECT_EQ(lines[1], QStringLiteral("goto: No error"));
    EXPECT_EQ(lines[2], QStringLiteral("grasp: No error"));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("state: No error; SystemState=0x"))) << lines[3].toStdString();
    EXPECT_TRUE(lines[3].contains(QStringLiteral("Referenced"))) << lines[3].toStdString();
    EXPECT_TRUE(lines[3].contains(QStringLiteral("GraspingStateText=holding"))) << lines[3].toStdString();
    EXPECT_TRUE(lines[3].contains(QStringLiteral("Position=15.000 mm"))) << lines[3].toStdString();
    EXPECT_TRUE(run.Err.isEmpty()) << run.Err.toStdString();
}

TEST_F(CliCommands, JsonGivesOneParseableObjectPerCommand)
{
    Start();
    const TCliRun run = Cli(Words("--json home , goto 50 100 , grasp 20 50 , state"));
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const QList<QJsonObject> objects = run.Objects();
    ASSERT_EQ(objects.size(), 4);
    const QStringList names{"home", "goto", "grasp", "state"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(objects[i]["command"].toString(), names[i]);
        EXPECT_EQ(objects[i]["status"].toString(), QStringLiteral("E_SUCCESS"));
        EXPECT_EQ(objects[i]["text"].toString(), QStringLiteral("No error"));
    }
    const QJsonObject& state = objects[3];
    EXPECT_EQ(state["GraspingState"].toInt(), 4);
    EXPECT_NEAR(state["Position"].toDouble(), 15.0, 0.01);
    EXPECT_TRUE(state["Flags"].toArray().contains(QStringLiteral("Referenced")));
    EXPECT_EQ(state["SystemState"].toString().toUInt(nullptr, 16) & 1u, 1u);
}

TEST_F(CliCommands, JsonResultsCarryStartDurationAndFinalPosition)
{
    Start();
    const TCliRun run = Cli(Words("--json home , goto 50 100 , grasp 20 50 , release 60 200 , wait 100 , limits"));
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const QList<QJsonObject> o = run.Objects();
    ASSERT_EQ(o.size(), 6);
    static const QRegularExpression iso(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"));
    QDateTime previous;
    for (const QJsonObject& object : o) {
        const QString start = object["start"].toString();
        EXPECT_TRUE(iso.match(start).hasMatch()) << start.toStdString();
        const QDateTime time = QDateTime::fromString(start, Qt::ISODateWithMs);
        EXPECT_TRUE(time.isValid());
        if (previous.isValid())
            EXPECT_GE(time, previous);
        previous = time;
        EXPECT_TRUE(object["duration_ms"].isDouble());
        EXPECT_GE(object["duration_ms"].toDouble(), 0.0);
    }
    EXPECT_NEAR(o[0]["Position"].toDouble(), 110.0, 0.01); // homing opens fully
    EXPECT_NEAR(o[1]["Position"].toDouble(), 50.0, 0.01);
    EXPECT_NEAR(o[2]["Width"].toDouble(), 15.0, 0.01); // the part
    EXPECT_NEAR(o[3]["Width"].toDouble(), 60.0, 0.01);
    EXPECT_GE(o[4]["duration_ms"].toDouble(), 99.0);
    // Every value of the limits' answer, the eighth too.
    EXPECT_DOUBLE_EQ(o[5]["Extra"].toDouble(), 120.0);
    EXPECT_EQ(o[5].size(), 4 + 2 + 8);

    // The text lines stay as they were.
    const TCliRun text = Cli(Words("goto 50 100 , limits"));
    ASSERT_EQ(text.ExitCode, 0) << text.Err.toStdString();
    EXPECT_EQ(text.Lines()[0], QStringLiteral("goto: No error"));
    EXPECT_EQ(text.Lines()[1], QStringLiteral("limits: No error; Stroke=110.000 mm MinSpeed=5.000 mm/s MaxSpeed=420.000 mm/s "
                                              "MinAcceleration=100.000 mm/s² MaxAcceleration=5000.000 mm/s² MinForce=5.000 N "
                                              "MaxForce=80.000 N"));
}

TEST_F(CliCommands, ReadingsAndSettings)
{
    Start();
    const TCliRun run = Cli(Words("--json info , limits , accel 1000 , accel , force-limit 20 , force-limit , home , "
                                  "grasp 20 50 , stats --reset , stats , stop"));
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const QList<QJsonObject> o = run.Objects();
    ASSERT_EQ(o.size(), 11);
    EXPECT_EQ(o[0]["SerialNumber"].toInt(), 12345678);
    EXPECT_EQ(o[0]["FirmwareRevision"].toInt(), 259);
    EXPECT_DOUBLE_EQ(o[1]["Stroke"].toDouble(), 110.0);
    EXPECT_DOUBLE_EQ(o[1]["MaxSpeed"].toDouble(), 420.0);
    EXPECT_DOUBLE_EQ(o[3]["Acceleration"].toDouble(), 1000.0);
    EXPECT_DOUBLE_EQ(o[5]["ForceLimit"].toDouble(), 20.0);
    EXPECT_EQ(o[8]["NumGrasps"].toInt(), 1);
    EXPECT_EQ(o[9]["NumGrasps"].toInt(), 0);
    EXPECT_EQ(o[10]["command"].toString(), QStringLiteral("stop"));
}

TEST_F(CliCommands, FastStopRefusesMotionUntilAcknowledged)
{
    Start();
    const TCliRun stopped = Cli(Words("home , fast-stop , goto 50 100 , state"));
    EXPECT_EQ(stopped.ExitCode, 1);
    EXPECT_TRUE(stopped.Err.contains(QStringLiteral("command 3: goto: E_ACCESS_DENIED: Access denied"))) << stopped.Err.toStdString();
    EXPECT_EQ(stopped.Lines().size(), 2) << "the run ends at the failed command";

    const TCliRun going = Cli(Words("--json --keep-going fast-stop , goto 50 100 , ack , home , goto 50 100"));
    EXPECT_EQ(going.ExitCode, 1);
    QStringList statuses;
    for (const QJsonObject& object : going.Objects())
        statuses.append(object["status"].toString());
    EXPECT_EQ(statuses, (QStringList{"E_SUCCESS", "E_ACCESS_DENIED", "E_SUCCESS", "E_SUCCESS", "E_SUCCESS"}));
}

TEST_F(CliCommands, RawSendsTheEditorsSyntaxAndWaitsForAPendingResult)
{
    Start();
    const TCliRun tags = Cli({"--json", "--keep-going", "raw", "0x51", "\"TAG\"", "33", ",", "raw", "GET_DEVICE_TAG", ",", "raw",
        "$20", "0", ",", "raw", "0x99"});
    EXPECT_EQ(tags.ExitCode, 1);
    const QList<QJsonObject> o = tags.Objects();
    ASSERT_EQ(o.size(), 4);
    EXPECT_EQ(o[0]["status"].toString(), QStringLiteral("E_SUCCESS"));
    EXPECT_EQ(o[1]["Name"].toString(), QStringLiteral("GET_DEVICE_TAG"));
    EXPECT_EQ(o[1]["Payload"].toString(), QStringLiteral("54 41 47 21"));
    EXPECT_EQ(o[2]["Name"].toString(), QStringLiteral("HOMING"));
    EXPECT_TRUE(o[2]["Pending"].toBool());
    EXPECT_EQ(o[2]["status"].toString(), QStringLiteral("E_SUCCESS"));
    EXPECT_EQ(o[3]["status"].toString(), QStringLiteral("E_CMD_UNKNOWN"));
}

TEST_F(CliCommands, WatchPrintsTimedReportsAndSwitchesThemOff)
{
    Start();
    const QString log = QDir::temp().filePath(QStringLiteral("krm-cli-watch-%1.csv").arg(QCoreApplication::applicationPid()));
    const TCliRun run = Cli({"--json", "--log", log, "watch", "0.5"});
    ASSERT_EQ(run.ExitCode, 0) << run.Err.toStdString();
    const QList<QJsonObject> o = run.Objects();
    ASSERT_GE(o.size(), 6);
    QStringList reports;
    for (qsizetype i = 0; i + 1 < o.size(); ++i) {
        EXPECT_EQ(o[i]["command"].toString(), QStringLiteral("watch"));
        EXPECT_TRUE(QDateTime::fromString(o[i]["time"].toString(), Qt::ISODateWithMs).isValid());
        reports.append(o[i]["report"].toString());
    }
    for (const char* name : {"GET_SYSTEM_STATE", "GET_GRASPING_STATE", "GET_POS", "GET_SPEED", "GET_FORCE"})
        EXPECT_TRUE(reports.contains(QLatin1String(name))) << name;
    EXPECT_EQ(o.last()["status"].toString(), QStringLiteral("E_SUCCESS"));

    // Each report was switched on and, at the end, off again.
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString rows = QString::fromUtf8(file.readAll());
    file.remove();
    for (const char* command : {"0x40", "0x41", "0x43", "0x44", "0x45"}) {
        EXPECT_TRUE(rows.contains(QStringLiteral(",TX,%1,").arg(QLatin1String(command)))) << command;
        EXPECT_TRUE(rows.contains(QRegularExpression(QStringLiteral(",TX,%1,[A-Z_]+,3,,reports off,00 00 00\n").arg(QLatin1String(command)))))
            << command;
    }
}

TEST_F(CliCommands, BadValuesNeverReachTheWire)
{
    Start({QStringLiteral("--verbose")});
    const TCliRun notANumber = Cli(Words("home , goto fifty 100"));
    EXPECT_EQ(notANumber.ExitCode, 2);
    EXPECT_TRUE(notANumber.Err.contains(QStringLiteral("command 2: goto: POSITION \"fifty\" is not a number")))
        << notANumber.Err.toStdString();

    const TCliRun outside = Cli(Words("home , goto 50 500"));
    EXPECT_EQ(outside.ExitCode, 2);
    EXPECT_TRUE(outside.Err.contains(QStringLiteral("goto: SPEED 500 is outside the gripper's range 5 to 420 mm/s")))
        << outside.Err.toStdString();
    const TCliRun force = Cli(Words("force-limit 81"));
    EXPECT_EQ(force.ExitCode, 2);
    EXPECT_TRUE(force.Err.contains(QStringLiteral("VALUE 81 is outside the gripper's range 5 to 80 N"))) << force.Err.toStdString();

    EXPECT_EQ(Cli(Words("dance")).ExitCode, 2);
    EXPECT_EQ(Cli(Words("grasp 20")).ExitCode, 2);
    EXPECT_EQ(Cli(Words("info , , state")).ExitCode, 2);

    // Only the limits were asked for; no motion or setting was sent.
    FSim.Stop();
    const QString frames = FSim.Errors();
    EXPECT_TRUE(frames.contains(QStringLiteral("GET_SYSTEM_LIMITS"))) << frames.toStdString();
    for (const char* name : {"HOMING", "GOTO", "SET_FORCE_LIMIT", "GRASP_RAW"})
        EXPECT_FALSE(frames.contains(QLatin1String(name))) << name;
}

} // namespace
