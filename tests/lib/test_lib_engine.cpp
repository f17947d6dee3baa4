// The session engine's rules through libkrm's public interface, against the
// simulator and, where it cannot act the fault, a scripted peer: the stop
// lane, given-up requests, the motion rule (a lost first answer, a timeout,
// an interrupt and a second one), a second "pending", two motions sharing a
// command byte, malformed answers, stray answers, reports on demand and the
// packet observers.
#include "HXT_commands.h"
#include "LibTestSupport.h"
#include "ScriptedPeer.h"
#include "stat.h"
#include "SimChild.h"

#include <krm/krm.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

krm::Options NoReports()
{
    krm::Options options;
    options.reports.clear();
    return options;
}

int Count(const ScriptedPeer& peer, uint8_t command)
{
    int n = 0;
    for (const auto& r : peer.Requests())
        n += r.first == command ? 1 : 0;
    return n;
}

// The index of the first request with `command` after index `from`; -1 if none.
int IndexOf(const ScriptedPeer& peer, uint8_t command, int from = -1)
{
    const auto requests = peer.Requests();
    for (int i = from + 1; i < static_cast<int>(requests.size()); ++i)
        if (requests[static_cast<size_t>(i)].first == command)
            return i;
    return -1;
}

TByteArray Float(float value)
{
    uint8_t b[4];
    std::memcpy(b, &value, 4);
    return {b[0], b[1], b[2], b[3]};
}

} // namespace

TEST(LibEngine, StopGoesAheadOfAWaitingRequestAndAGivenUpOneFreesTheLink)
{
    // The peer never answers GET_SYSINFO.
    ScriptedPeer peer([](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command == CMD_STOP || command == CMD_GET_ACCELERATION)
            return {ScriptedPeer::Answer(command, 0, command == CMD_GET_ACCELERATION ? Float(2500) : TByteArray{})};
        return {};
    });
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    std::atomic_bool infoEnded{false};
    auto info = std::async(std::launch::async, [&] {
        const std::string error = ErrorOf([&] { g.info(); });
        infoEnded = true;
        return error;
    });
    ASSERT_TRUE(peer.WaitFor(CMD_GET_SYSINFO));
    g.stop();
    EXPECT_FALSE(infoEnded) << "STOP waited for the unanswered request";
    EXPECT_EQ(IndexOf(peer, CMD_STOP), IndexOf(peer, CMD_GET_SYSINFO) + 1);
    // "No answer" is said in words, not as the gripper's "Command failed".
    const std::string error = info.get();
    EXPECT_TRUE(Contains(error, "info: no answer from the gripper within 3 s")) << error;
    EXPECT_FALSE(Contains(error, "Command failed"));

    // A caller that gave up does not hold the link for the rest of the 3 s,
    // and a request given up on before it was sent is never sent.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(g.info(100ms), krm::TimeoutError);
    EXPECT_EQ(g.acceleration(), 2500);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_EQ(Count(peer, CMD_GET_SYSINFO), 2);
}

TEST(LibEngine, AMotionWithoutItsFirstAnswerIsSentStop)
{
    ScriptedPeer peer([](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command == CMD_STOP)
            return {ScriptedPeer::Answer(command, 0)};
        return {};
    });
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    const std::string error = ErrorOf([&] { g.move(50, 100); });
    EXPECT_TRUE(Contains(error, "move: no answer from the gripper within 3 s; STOP sent and answered")) << error;
    EXPECT_GT(IndexOf(peer, CMD_STOP), IndexOf(peer, CMD_GOTO));
}

TEST(LibEngine, ASecondPendingIsNoFinalAnswer)
{
    ScriptedPeer peer([](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command == CMD_GOTO)
            return {ScriptedPeer::Answer(command, E_CMD_PENDING), ScriptedPeer::Answer(command, E_CMD_PENDING)};
        if (command == CMD_GET_POS)
            return {ScriptedPeer::Answer(command, 0, Float(50))};
        return {};
    });
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    krm::Motion motion = g.start_move(50, 100);
    std::this_thread::sleep_for(200ms);
    EXPECT_FALSE(motion.done());
    peer.Send(ScriptedPeer::Answer(CMD_GOTO, E_SUCCESS));
    const krm::MotionResult result = motion.wait(5s);
    EXPECT_EQ(result.status, krm::Status::success);
    EXPECT_EQ(result.position, 50);
    EXPECT_EQ(g.stray_answers(), 0u);
}

TEST(LibEngine, ATimedOutMotionWaitsForStopAtMostOneSecondBeyondItsTime)
{
    // GOTO starts; STOP is never answered.
    ScriptedPeer peer([](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command == CMD_GOTO)
            return {ScriptedPeer::Answer(command, E_CMD_PENDING)};
        return {};
    });
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    const auto start = std::chrono::steady_clock::now();
    const std::string error = ErrorOf([&] { g.move(50, 100, 300ms); });
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(Contains(error, "move: not finished within the timeout; STOP sent, no answer to it")) << error;
    EXPECT_TRUE(peer.WaitFor(CMD_STOP));
}

TEST(LibEngine, AStopTheGripperRefusesIsNotReportedAsSent)
{
    ScriptedPeer peer([](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command == CMD_GOTO)
            return {ScriptedPeer::Answer(command, E_CMD_PENDING)};
        if (command == CMD_STOP)
            return {ScriptedPeer::Answer(command, E_ACCESS_DENIED)};
        return {};
    });
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    const std::string error = ErrorOf([&] { g.move(50, 100, 200ms); });
    EXPECT_TRUE(Contains(error, "STOP sent but refused: E_ACCESS_DENIED (Access denied)")) << error;
}

TEST(LibEngine, AnInterruptStopsTheMotionAndASecondOneEndsTheWaitForStop)
{
    ScriptedPeer peer([](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command == CMD_GOTO)
            return {ScriptedPeer::Answer(command, E_CMD_PENDING)};
        return {};
    });
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    std::atomic<int> interrupts{0};
    std::atomic_bool first{false};
    g.set_interrupt_check([&] {
        // The first interrupt once the motion runs; the second once STOP is out.
        if (!first && Count(peer, CMD_GOTO) > 0)
            return first = true, ++interrupts, true;
        if (first && interrupts == 1 && Count(peer, CMD_STOP) > 0)
            return ++interrupts, true;
        return false;
    });
    const auto start = std::chrono::steady_clock::now();
    const std::string error = ErrorOf([&] { g.move(50, 100, 10s); });
    EXPECT_TRUE(Contains(error, "move: interrupted; STOP sent, its answer not awaited (interrupted again)")) << error;
    EXPECT_EQ(interrupts.load(), 2);
    // The second interrupt ended the wait for STOP's answer.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
}

TEST(LibEngine, TwoGraspsInARowEachTakeTheirOwnAnswers)
{
    std::atomic<int> grasps{0};
    ScriptedPeer* self = nullptr;
    ScriptedPeer peer([&](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command == CMD_GET_POS)
            return {ScriptedPeer::Answer(command, 0, Float(20))};
        if (command != CMD_GRASP_RAW)
            return {};
        // The first grasp ends just as the second is sent: its final answer
        // comes before the second's "pending".
        if (grasps++ == 0)
            return {ScriptedPeer::Answer(command, E_CMD_PENDING)};
        return {ScriptedPeer::Answer(command, E_SUCCESS), ScriptedPeer::Answer(command, E_CMD_PENDING)};
    });
    self = &peer;
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    krm::Motion a = g.start_grasp(20, 50);
    krm::Motion b = g.start_grasp(20, 50);
    EXPECT_EQ(a.wait(2s).status, krm::Status::success);
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(b.done()) << "the second grasp took the first one's end";
    self->Send(ScriptedPeer::Answer(CMD_GRASP_RAW, E_CMD_FAILED));
    EXPECT_EQ(b.wait(2s).status, krm::Status::cmd_failed);
    EXPECT_EQ(Count(peer, CMD_STOP), 0);
    EXPECT_EQ(g.stray_answers(), 0u);
}

TEST(LibEngine, AReplacedMotionNeverStopsItsSuccessorOnTheSimulator)
{
    SimChild sim({"--referenced"});
    krm::Gripper g = krm::Gripper::open(sim.Tcp());
    g.move(0, 400);
    krm::Motion slow = g.start_move(110, 5);
    krm::Motion fast = g.start_move(60, 400);
    // The replaced one ends aborted; its timeout could not stop the new one.
    EXPECT_EQ(slow.wait(2s).status, krm::Status::cmd_aborted);
    const krm::MotionResult result = fast.wait(5s);
    EXPECT_EQ(result.status, krm::Status::success);
    EXPECT_NEAR(result.position, 60, 0.5);
}

TEST(LibEngine, MalformedAnswersAndUnusableLimitsAreErrorsWithTheirCause)
{
    std::atomic<int> limitsAsked{0};
    ScriptedPeer peer([&](uint8_t command, const TByteArray& payload) -> std::vector<TPacket> {
        if (command == CMD_GET_SYSTEM_STATE && payload.empty())
            return {ScriptedPeer::Answer(command, 0, {1, 0, 0})};
        if (command == CMD_GET_SYSINFO)
            return {ScriptedPeer::Answer(command, 0, {})};
        if (command == CMD_GET_SYSTEM_LIMITS && limitsAsked++ > 0) {
            TByteArray limits;
            for (const float v : {110.f, 50.f, 20.f, 100.f, 5000.f, 5.f, 80.f, 120.f}) {
                const TByteArray b = Float(v);
                limits.insert(limits.end(), b.begin(), b.end());
            }
            return {ScriptedPeer::Answer(command, 0, limits)};
        }
        return {};
    });
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    EXPECT_EQ(ErrorOf([&] { g.state(); }), "state: the gripper's answer carries 3 result bytes instead of 4");
    EXPECT_EQ(ErrorOf([&] { g.info(); }), "info: the gripper's answer carries 0 result bytes instead of 8");
    EXPECT_EQ(ErrorOf([&] { g.limits(); }),
        "limits: the gripper's limits are unusable: the minimum speed 50 is above the maximum speed 20");
}

TEST(LibEngine, StrayAnswersAreCountedAndTheFirstIsWarnedAbout)
{
    ScriptedPeer peer([](uint8_t, const TByteArray&) { return std::vector<TPacket>{}; });
    std::mutex mutex;
    std::vector<std::string> warnings;
    krm::Options options = NoReports();
    options.notice = [&](krm::Notice level, const std::string& text) {
        std::lock_guard lock(mutex);
        if (level == krm::Notice::warning)
            warnings.push_back(text);
    };
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), options);
    peer.Send(ScriptedPeer::Answer(CMD_GET_SYSINFO, 0, {1, 2, 3, 4, 5, 6, 7, 8}));
    peer.Send(ScriptedPeer::Answer(CMD_GET_SYSINFO, 0, {1, 2, 3, 4, 5, 6, 7, 8}));
    for (int i = 0; i < 100 && g.stray_answers() < 2; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(g.stray_answers(), 2u);
    std::lock_guard lock(mutex);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(Contains(warnings[0], "a second gripper answers on the same line")) << warnings[0];
}

TEST(LibEngine, ReportsAreOnlyWhatTheGripperSentByItselfAndGoOffAtClose)
{
    ScriptedPeer peer([](uint8_t command, const TByteArray& payload) -> std::vector<TPacket> {
        if (command == CMD_GET_POS && payload.empty())
            return {ScriptedPeer::Answer(command, 0, Float(42))};
        if (command == CMD_GET_SYSTEM_STATE && payload.empty())
            return {ScriptedPeer::Answer(command, 0, {1, 0, 0, 0})};
        if (command == CMD_GET_GRASPING_STATE && payload.empty())
            return {ScriptedPeer::Answer(command, 0, {0})};
        return {};
    });
    krm::Options options;
    options.reports = {krm::Report::Kind::position, krm::Report::Kind::flags};
    options.report_period = 20ms;
    {
        krm::Gripper g = krm::Gripper::open(peer.Tcp(), options);
        std::atomic<int> reports{0};
        const krm::Subscription subscription = g.on_report([&](const krm::Report&) { ++reports; });
        // The library's own reads are no reports.
        EXPECT_EQ(g.state().position, 42);
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(reports.load(), 0);
        EXPECT_EQ(g.last_state().position_time, krm::Clock::time_point{});
        peer.Send(ScriptedPeer::Answer(CMD_GET_POS, 0, Float(7)));
        for (int i = 0; i < 100 && reports == 0; ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_EQ(reports.load(), 1);
        EXPECT_EQ(g.last_state().position, 7);
    }
    // Switched on with the period chosen, and off again at close.
    const auto requests = peer.Requests();
    const TByteArray on{0x03, 20, 0};
    const TByteArray off{0, 0, 0};
    for (const uint8_t command : {uint8_t(CMD_GET_POS), uint8_t(CMD_GET_SYSTEM_STATE)}) {
        EXPECT_NE(std::find(requests.begin(), requests.end(), std::make_pair(command, on)), requests.end());
        EXPECT_NE(std::find(requests.begin(), requests.end(), std::make_pair(command, off)), requests.end());
    }
    EXPECT_EQ(Count(peer, CMD_GET_SPEED), 0);
}

TEST(LibEngine, ClosingWithAMotionUnderWaySendsStopBeforeTheReportsGoOff)
{
    ScriptedPeer peer([](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command == CMD_GOTO)
            return {ScriptedPeer::Answer(command, E_CMD_PENDING)};
        if (command == CMD_STOP)
            return {ScriptedPeer::Answer(command, 0), ScriptedPeer::Answer(CMD_GOTO, E_CMD_ABORTED)};
        return {};
    });
    {
        krm::Gripper g = krm::Gripper::open(peer.Tcp());
        g.start_move(100, 5);
    }
    const int stop = IndexOf(peer, CMD_STOP);
    ASSERT_GE(stop, 0);
    EXPECT_GT(IndexOf(peer, CMD_GET_POS, stop), stop);
}

TEST(LibEngine, PacketObserversAndThePacketLogSeeFaultyFramesToo)
{
    ScriptedPeer peer([](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command == CMD_GET_ACCELERATION)
            return {ScriptedPeer::Answer(command, 0, Float(1000))};
        return {};
    });
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    std::mutex mutex;
    std::vector<krm::Packet> seen;
    g.on_packet([&](const krm::Packet& p) {
        std::lock_guard lock(mutex);
        seen.push_back(p);
    });
    char path[] = "/tmp/krm-engine-log-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    g.write_packet_log(path);
    EXPECT_EQ(g.acceleration(), 1000);
    // A frame with a wrong checksum and bytes before the next frame.
    const TByteArray badFrame{0xAA, 0xAA, 0xAA, CMD_GET_SYSINFO, 0x02, 0x00, 0x00, 0x00, 0x12, 0x34};
    peer.SendBytes(badFrame);
    peer.SendBytes({0x01, 0x02});
    EXPECT_EQ(g.acceleration(), 1000);
    g.close();
    std::ifstream file(path);
    std::stringstream log;
    log << file.rdbuf();
    std::remove(path);
    // The header and one row per frame, the faulty ones marked.
    const std::string rows = log.str();
    EXPECT_EQ(std::count(rows.begin(), rows.end(), '\n'), 7) << rows;
    EXPECT_TRUE(Contains(rows, ",RX,0x50,GET_SYSINFO,2,,FAULT: wrong checksum,00 00\n")) << rows;
    EXPECT_TRUE(Contains(rows, ",RX,0x00,,2,,FAULT: stray bytes,01 02\n")) << rows;
    std::lock_guard lock(mutex);
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen[0].direction, krm::Packet::Direction::sent);
    EXPECT_EQ(seen[0].command, CMD_GET_ACCELERATION);
    EXPECT_EQ(seen[1].direction, krm::Packet::Direction::received);
    EXPECT_EQ(seen[1].payload.size(), 6u);
    // The faulty frames come between the two exchanges, in the order sent.
    const auto bad = std::find_if(seen.begin(), seen.end(), [](const krm::Packet& p) { return !p.ok(); });
    ASSERT_NE(bad, seen.end());
    ASSERT_NE(bad + 1, seen.end());
    EXPECT_EQ(bad->faults, krm::Packet::checksum);
    EXPECT_EQ(bad->command, CMD_GET_SYSINFO);
    EXPECT_EQ((bad + 1)->faults, krm::Packet::stray_bytes);
    EXPECT_EQ((bad + 1)->payload, (std::vector<std::uint8_t>{0x01, 0x02}));
    EXPECT_TRUE(seen[5].ok());
}

// On TCP a request that finds the session idle is written and its answer read
// by the calling thread, which gives the line back to the link thread when
// the answer is slow. Wherever they are read, answers reach their request,
// and what comes behind an answer (a report in the same burst) or while
// nobody waits reaches the report handlers.
TEST(LibEngine, AnswersFindTheirRequestWhetherTheCallerOrTheLinkThreadReadsThem)
{
    std::atomic<int> asked{0};
    ScriptedPeer peer([&](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command != CMD_GET_ACCELERATION)
            return {};
        // The first answer comes with a report right behind it; the second
        // one comes late, from the test.
        if (++asked == 1)
            return {ScriptedPeer::Answer(command, 0, Float(1000)), ScriptedPeer::Answer(CMD_GET_POS, 0, Float(12))};
        return {};
    });
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    std::mutex mutex;
    std::vector<float> positions;
    const krm::Subscription subscription = g.on_report([&](const krm::Report& report) {
        std::lock_guard lock(mutex);
        positions.push_back(static_cast<float>(report.position));
    });
    const auto reported = [&](size_t count) {
        for (int i = 0; i < 300; ++i) {
            {
                std::lock_guard lock(mutex);
                if (positions.size() >= count)
                    return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    };

    EXPECT_EQ(g.acceleration(), 1000);
    EXPECT_TRUE(reported(1));

    auto late = std::async(std::launch::async, [&] {
        peer.WaitFor(CMD_GET_ACCELERATION, 2);
        std::this_thread::sleep_for(200ms);
        peer.Send(ScriptedPeer::Answer(CMD_GET_ACCELERATION, 0, Float(2000)));
    });
    EXPECT_EQ(g.acceleration(), 2000);
    late.get();

    // A report while no request waits, then a request again.
    peer.Send(ScriptedPeer::Answer(CMD_GET_POS, 0, Float(34)));
    EXPECT_TRUE(reported(2));
    peer.Send(ScriptedPeer::Answer(CMD_GET_POS, 0, Float(56)));
    EXPECT_TRUE(reported(3));
    std::lock_guard lock(mutex);
    EXPECT_EQ(positions, (std::vector<float>{12, 34, 56}));
    EXPECT_EQ(g.stray_answers(), 0u);
}

// A packet queue holds every frame from its making on, in the order the
// frames passed, faulty ones too, for a thread that takes them itself.
TEST(LibEngine, APacketQueueHoldsEveryFrameForTheThreadThatTakesThem)
{
    ScriptedPeer peer([](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command == CMD_GET_ACCELERATION)
            return {ScriptedPeer::Answer(command, 0, Float(1000))};
        return {};
    });
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), NoReports());
    krm::PacketQueue frames = g.packets();
    EXPECT_EQ(g.acceleration(), 1000);
    peer.SendBytes({0xAA, 0xAA, 0xAA, CMD_GET_SYSINFO, 0x02, 0x00, 0x00, 0x00, 0x12, 0x34});
    EXPECT_EQ(g.acceleration(), 1000);

    std::vector<krm::Packet> taken;
    while (auto frame = frames.next(100ms))
        taken.push_back(*frame);
    ASSERT_EQ(taken.size(), 5u);
    EXPECT_EQ(taken[0].direction, krm::Packet::Direction::sent);
    EXPECT_EQ(taken[0].command, CMD_GET_ACCELERATION);
    EXPECT_EQ(taken[1].direction, krm::Packet::Direction::received);
    EXPECT_EQ(taken[1].payload.size(), 6u);
    const auto bad = std::find_if(taken.begin(), taken.end(), [](const krm::Packet& p) { return !p.ok(); });
    ASSERT_NE(bad, taken.end());
    EXPECT_EQ(bad->faults, krm::Packet::checksum);
    EXPECT_TRUE(taken[4].ok());
    EXPECT_EQ(frames.dropped(), 0u);

    // Closed, it takes no more; a queue outlives its gripper.
    frames.close();
    EXPECT_EQ(g.acceleration(), 1000);
    EXPECT_FALSE(frames.next(50ms));
    krm::PacketQueue later = g.packets();
    g.close();
    EXPECT_THROW(later.next(50ms), krm::ConnectionError);
}
