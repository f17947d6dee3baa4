// Fault decisions for outgoing packets, and the command-line checks.
#include "Answer.h"
#include "FaultInjector.h"
#include "Framing.h"
#include "HXT_commands.h"
#include "SimCommandLine.h"
#include "crc.h"

#include <gtest/gtest.h>

namespace {

TPacket Answer(uint8_t command) { return MakeAnswer(command, E_SUCCESS, {1, 2, 3, 4}); }

bool ChecksumOk(const TByteArray& frame) { return CrcBytes(frame.data(), frame.size(), 0xFFFF) == 0; }

TFaultInjector::TWireFrame Wire(TFaultInjector& f, uint8_t command)
{
    const auto w = f.Prepare(Answer(command));
    EXPECT_TRUE(w.has_value());
    return w.value_or(TFaultInjector::TWireFrame{});
}

TCommandLineResult Parse(QStringList args)
{
    args.prepend(QStringLiteral("gripper-sim"));
    return ParseCommandLine(args);
}

} // namespace

TEST(FaultInjector, WithoutFaultsFramesGoOutUnchanged)
{
    TFaultInjector f{TFaultOptions{}};
    const auto w = Wire(f, CMD_GET_POS);
    EXPECT_EQ(w.frameStart, 0u);
    EXPECT_FALSE(w.corrupted);
    const TPacket p = Answer(CMD_GET_POS);
    EXPECT_EQ(w.bytes, BuildFrame(CMD_GET_POS, p.data.data(), p.data.size()));
    EXPECT_FALSE(f.ForcedStatus(CMD_GET_POS).has_value());
}

TEST(FaultInjector, DropsAndForcesOnlyTheChosenCommands)
{
    TFaultOptions o;
    o.drop = {CMD_GOTO};
    o.forcedStatus[CMD_GET_SYSINFO] = E_ACCESS_DENIED;
    TFaultInjector f(o);
    EXPECT_FALSE(f.Prepare(Answer(CMD_GOTO)).has_value());
    EXPECT_TRUE(f.Prepare(Answer(CMD_GRASP_RAW)).has_value());
    EXPECT_EQ(f.ForcedStatus(CMD_GET_SYSINFO), std::optional<uint16_t>(E_ACCESS_DENIED));
    EXPECT_FALSE(f.ForcedStatus(CMD_GOTO).has_value());
}

TEST(FaultInjector, CorruptionBreaksTheChecksumAtTheGivenRate)
{
    TFaultOptions o;
    o.corruptRate = 0.25;
    TFaultInjector f(o);
    int corrupted = 0;
    for (int i = 0; i < 2000; ++i) {
        const auto w = Wire(f, CMD_GET_POS);
        EXPECT_EQ(w.corrupted, !ChecksumOk(w.bytes));
        corrupted += w.corrupted;
    }
    EXPECT_NEAR(corrupted, 500, 80);
}

TEST(FaultInjector, GarbageNeverHoldsAPreambleByte)
{
    TFaultOptions o;
    o.garbageRate = 1;
    TFaultInjector f(o);
    for (int i = 0; i < 500; ++i) {
        const auto w = Wire(f, CMD_GET_POS);
        ASSERT_GE(w.frameStart, 1u);
        ASSERT_LE(w.frameStart, size_t(TFaultInjector::MaxGarbage));
        for (size_t k = 0; k < w.frameStart; ++k)
            ASSERT_NE(w.bytes[k], 0xAA);
        EXPECT_TRUE(ChecksumOk(TByteArray(w.bytes.begin() + std::ptrdiff_t(w.frameStart), w.bytes.end())));
    }
}

TEST(FaultInjector, SameSeedSameFaults)
{
    TFaultOptions o;
    o.corruptRate = 0.5;
    o.garbageRate = 0.5;
    o.seed = 42;
    TFaultInjector a(o), b(o);
    o.seed = 43;
    TFaultInjector c(o);
    bool differs = false;
    for (int i = 0; i < 50; ++i) {
        const auto wa = Wire(a, CMD_GET_POS);
        EXPECT_EQ(wa.bytes, Wire(b, CMD_GET_POS).bytes);
        differs |= wa.bytes != Wire(c, CMD_GET_POS).bytes;
    }
    EXPECT_TRUE(differs);
}

TEST(CommandLine, ReadsTransportsAndFaults)
{
    const auto r = Parse({"--tcp", "10000", "--pty", "/tmp/x", "--can", "virtualcan:can0", "--can-id", "0x123",
        "--drop", "GOTO,0x43", "--drop", "grasp_raw", "--force-status", "GET_SYSINFO=E_ACCESS_DENIED",
        "--force-status", "83=29", "--corrupt-rate", "0.5", "--split-pause", "150", "--close-after", "3",
        "--part-width", "30", "--referenced", "--seed", "7"});
    ASSERT_EQ(r.kind, TCommandLineResult::Run) << r.text.toStdString();
    const TSimSettings& s = r.settings;
    ASSERT_TRUE(s.tcp && s.ptyPath && s.can);
    EXPECT_EQ(s.tcp->address, QHostAddress(QHostAddress::LocalHost));
    EXPECT_EQ(s.tcp->port, 10000);
    EXPECT_EQ(s.can->plugin, "virtualcan");
    EXPECT_EQ(s.can->interface, "can0");
    EXPECT_EQ(s.can->id, 0x123u);
    EXPECT_EQ(s.faults.drop, (std::set<uint8_t>{CMD_GOTO, CMD_GET_POS, CMD_GRASP_RAW}));
    EXPECT_EQ(s.faults.forcedStatus, (std::map<uint8_t, uint16_t>{{0x50, 16}, {0x53, 29}}));
    EXPECT_DOUBLE_EQ(s.faults.corruptRate, 0.5);
    EXPECT_EQ(s.faults.splitPauseMs, 150);
    EXPECT_EQ(s.faults.closeAfter, 3);
    EXPECT_EQ(s.faults.seed, 7u);
    EXPECT_FLOAT_EQ(s.gripper.partWidth, 30);
    EXPECT_TRUE(s.gripper.startReferenced);
    EXPECT_FLOAT_EQ(s.gripper.startPosition, 55);

    const auto v6 = Parse({"--tcp", "[::1]:0"});
    ASSERT_EQ(v6.kind, TCommandLineResult::Run) << v6.text.toStdString();
    EXPECT_EQ(v6.settings.tcp->address, QHostAddress(QHostAddress::LocalHostIPv6));
}

TEST(CommandLine, RefusesBadValuesWithAMessage)
{
    const QStringList bad[] = {
        {},
        {"--tcp", "70000"},
        {"--tcp", "nohost:1"},
        {"--tcp", "1", "--can", "virtualcan"},
        {"--tcp", "1", "--can-id", "5"},
        {"--can", "virtualcan:can0", "--can-id", "0x1FFFFFFF"},
        {"--tcp", "1", "--drop", "NOPE"},
        {"--tcp", "1", "--drop", "256"},
        {"--tcp", "1", "--force-status", "GOTO"},
        {"--tcp", "1", "--force-status", "GOTO=E_NOPE"},
        {"--tcp", "1", "--corrupt-rate", "1.5"},
        {"--tcp", "1", "--garbage-rate", "x"},
        {"--tcp", "1", "--delay", "-1"},
        {"--tcp", "1", "--max-speed", "4", "--min-speed", "5"},
        {"--tcp", "1", "--part-width", "111"},
        {"--tcp", "1", "--start-pos", "nan"},
        {"--tcp", "1", "--type", "256"},
        {"--tcp", "1", "stray"},
        {"--tcp", "1", "--unknown"},
    };
    for (const QStringList& args : bad) {
        const auto r = Parse(args);
        EXPECT_EQ(r.kind, TCommandLineResult::Error) << args.join(' ').toStdString();
        EXPECT_FALSE(r.text.isEmpty());
    }
}

TEST(CommandLine, HelpDocumentsThePayloads)
{
    const auto r = Parse({"--help"});
    ASSERT_EQ(r.kind, TCommandLineResult::Help);
    for (const char* word : {"--drop", "--close-after", "GRASP_PROFILE", "SET_SOFT_LIMITS", "GET_DEVICE_TAG"})
        EXPECT_TRUE(r.text.contains(QLatin1String(word))) << word;
}

TEST(CommandLine, VersionNamesTheProgram)
{
    const auto r = Parse({"--version"});
    ASSERT_EQ(r.kind, TCommandLineResult::Version);
    EXPECT_TRUE(r.text.startsWith(QLatin1String("gripper-sim "))) << r.text.toStdString();
}
