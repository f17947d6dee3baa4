// krm-cli's connection string: --connect beside --tcp/--serial/--can, and
// KRM_CONNECT as the connection when none is given.
#include "CliTestSupport.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

namespace {

// Runs krm-cli with KRM_CONNECT set to `value` (unset when null).
TCliRun RunWithEnvironment(const char* value, const QStringList& args)
{
    const QByteArray saved = qgetenv("KRM_CONNECT");
    const bool had = qEnvironmentVariableIsSet("KRM_CONNECT");
    if (value)
        qputenv("KRM_CONNECT", value);
    else
        qunsetenv("KRM_CONNECT");
    TCliRun run = RunCli(args);
    if (had)
        qputenv("KRM_CONNECT", saved);
    else
        qunsetenv("KRM_CONNECT");
    return run;
}

} // namespace

TEST(CliConnect, ConnectionStringAndEnvironment)
{
    TSimulatorProcess sim;
    ASSERT_TRUE(sim.Start());
    const QByteArray connection = "tcp:127.0.0.1:" + QByteArray::number(sim.TcpPort());

    const TCliRun given = RunWithEnvironment(nullptr, {QStringLiteral("--connect"), QString::fromLatin1(connection), QStringLiteral("info")});
    EXPECT_EQ(given.ExitCode, 0) << given.Err.toStdString();
    EXPECT_TRUE(given.Out.contains(QLatin1String("SerialNumber=12345678"))) << given.Out.toStdString();

    const TCliRun fromEnvironment = RunWithEnvironment(connection.constData(), {QStringLiteral("info")});
    EXPECT_EQ(fromEnvironment.ExitCode, 0) << fromEnvironment.Err.toStdString();
    EXPECT_EQ(fromEnvironment.Out, given.Out);

    // An explicit connection wins over the environment, even a broken one.
    const TCliRun explicitWins = RunWithEnvironment("tcp:nowhere", OverTcp(sim.TcpPort(), {QStringLiteral("info")}));
    EXPECT_EQ(explicitWins.ExitCode, 0) << explicitWins.Err.toStdString();
}

TEST(CliConnect, MalformedStringsAreUsageErrors)
{
    const TCliRun port = RunWithEnvironment(nullptr, {QStringLiteral("--connect"), QStringLiteral("tcp:127.0.0.1:99999"), QStringLiteral("info")});
    EXPECT_EQ(port.ExitCode, 2);
    EXPECT_TRUE(port.Err.contains(QLatin1String("--connect: PORT \"99999\" is not a number from 1 to 65535"))) << port.Err.toStdString();

    const TCliRun environment = RunWithEnvironment("can:virtualcan:can0@33", {QStringLiteral("info")});
    EXPECT_EQ(environment.ExitCode, 2);
    EXPECT_TRUE(environment.Err.contains(QLatin1String("KRM_CONNECT: KBITS \"33\""))) << environment.Err.toStdString();

    const TCliRun twice = RunWithEnvironment(nullptr, {QStringLiteral("--connect"), QStringLiteral("serial:/tmp/x"),
        QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:1000"), QStringLiteral("info")});
    EXPECT_EQ(twice.ExitCode, 2);
    EXPECT_TRUE(twice.Err.contains(QLatin1String("only one connection"))) << twice.Err.toStdString();
}
