// libkrm as C++ programs use it: timeouts of any std::chrono duration that
// never overflow, reports pulled from a queue, subscriptions that end with
// their handle, homing directions, an empty Gripper opened later, and a
// Gripper destroyed while another thread is inside one of its calls.
#include "HXT_commands.h"
#include "ScriptedPeer.h"
#include "SimChild.h"

#include <krm/krm.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <cstdio>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// Compile-time: any duration becomes whole milliseconds, rounded up, and
// nothing too large to count overflows.
static_assert(krm::to_milliseconds(2.5s) == 2500ms);
static_assert(krm::to_milliseconds(1ns) == 1ms);
static_assert(krm::to_milliseconds(-5s) == 0ms);
static_assert(krm::to_milliseconds(std::chrono::hours::max()) == krm::forever);
static_assert(krm::to_milliseconds(std::chrono::nanoseconds::max()) < krm::forever);
static_assert(krm::to_milliseconds(std::chrono::duration<double>(std::numeric_limits<double>::infinity())) == krm::forever);
static_assert(krm::Timeout(std::chrono::milliseconds::max()).is_forever());
static_assert(!krm::Timeout().has_value());

TByteArray Float(float value)
{
    uint8_t b[4];
    std::memcpy(b, &value, 4);
    return {b[0], b[1], b[2], b[3]};
}

struct Cell {
    krm::Gripper gripper; // opened later
};

} // namespace

TEST(LibCpp, AnyDurationIsATimeoutAndHugeOnesWaitWithoutLimit)
{
    SimChild sim({"--referenced"});
    ASSERT_TRUE(sim.Started());
    krm::Gripper g = krm::Gripper::open(sim.Tcp(), 5s);
    EXPECT_TRUE(g.home(2.5s).ok());
    EXPECT_THROW(g.info(std::chrono::duration<double>(std::nan(""))), std::invalid_argument);
    // Each of these once ended the motion at once with a negative time.
    for (const krm::Timeout limit : {krm::Timeout(std::chrono::milliseconds::max()), krm::Timeout(std::chrono::hours::max()),
             krm::Timeout(krm::forever), krm::Timeout(std::chrono::duration<double>(1e300))}) {
        const krm::MotionResult r = g.move(limit.is_forever() ? 20.0 : 60.0, 400, limit);
        EXPECT_TRUE(r.ok()) << krm::status_name(r.status);
    }
    g.set_motion_timeout(std::chrono::hours::max());
    EXPECT_EQ(g.motion_timeout(), krm::forever);
    EXPECT_TRUE(g.move(40, 400).ok());
    g.set_motion_timeout(1.5min);
    EXPECT_EQ(g.motion_timeout(), 90s);
    krm::Motion m = g.start_move(90, 100, 1.5s);
    EXPECT_FALSE(m.wait_for(0.01s).has_value());
    ASSERT_TRUE(m.wait_for(krm::forever).has_value());
    krm::Options options;
    options.timeout = 2.5s;
    options.reports.clear();
    EXPECT_TRUE(krm::Gripper::open(sim.Tcp(), options).is_open());
}

TEST(LibCpp, ReportsFromAQueueAndSubscriptionsThatEndWithTheirHandle)
{
    SimChild sim({"--referenced"});
    ASSERT_TRUE(sim.Started());
    krm::Gripper g = krm::Gripper::open(sim.Tcp());
    krm::ReportQueue q = g.reports();
    std::atomic<int> handled{0};
    std::optional<krm::Subscription> subscription = g.on_report([&](const krm::Report&) { ++handled; });
    EXPECT_TRUE(subscription->active());
    g.move(10, 400);
    int positions = 0;
    while (const auto report = q.next(200ms))
        positions += report->kind == krm::Report::Kind::position ? 1 : 0;
    EXPECT_GT(positions, 2);
    EXPECT_EQ(q.dropped(), 0u);
    EXPECT_GT(handled.load(), 2);

    subscription.reset(); // the handle's end ends the subscription
    const int seen = handled;
    g.move(80, 400);
    EXPECT_EQ(handled.load(), seen);
    EXPECT_GT(q.size(), 0u);
    q.close();
    while (q.next(0s)) {
    }
    EXPECT_FALSE(q.next(1s).has_value()) << "a closed queue ends at once";

    // Closing the Gripper ends a waiting next() with ConnectionError; queues
    // and subscriptions may outlive it.
    krm::ReportQueue open = g.reports();
    krm::Subscription late = g.on_report([](const krm::Report&) {});
    auto waiting = std::async(std::launch::async, [&] { return open.next(krm::forever); });
    std::this_thread::sleep_for(100ms);
    g.close();
    EXPECT_THROW(waiting.get(), krm::ConnectionError);
    g = krm::Gripper();
    late.reset();
    EXPECT_FALSE(late.active());
    EXPECT_THROW(krm::ReportQueue().next(0s), krm::ConnectionError);
}

// A consumer that falls behind loses the oldest reports, counted.
TEST(LibCpp, AQueueThatFallsBehindCountsWhatItDropped)
{
    ScriptedPeer peer([](uint8_t, const TByteArray&) -> std::vector<TPacket> { return {}; });
    krm::Options options;
    options.read_limits = false;
    options.reports.clear();
    krm::Gripper g = krm::Gripper::open(peer.Tcp(), options);
    krm::ReportQueue q = g.reports();
    constexpr int Sent = 10500;
    // Sent in batches that the session takes in before the next, so that only
    // the queue, which nobody reads, falls behind (however busy the machine).
    constexpr int Batch = 500;
    for (int sent = 0; sent < Sent;) {
        for (const int end = sent + Batch; sent < end; ++sent)
            peer.Send(ScriptedPeer::Answer(CMD_GET_POS, 0, Float(static_cast<float>(sent))));
        for (int i = 0; i < 1000 && q.size() + q.dropped() < static_cast<std::uint64_t>(sent); ++i)
            std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(q.size(), 10000u);
    EXPECT_EQ(q.dropped(), static_cast<std::uint64_t>(Sent - 10000));
    const auto oldest = q.next(0s);
    ASSERT_TRUE(oldest.has_value());
    EXPECT_EQ(oldest->position, Sent - 10000) << "the oldest are the ones dropped";
}

TEST(LibCpp, HomingDirections)
{
    SimChild sim;
    ASSERT_TRUE(sim.Started());
    krm::Gripper g = krm::Gripper::open(sim.Tcp());
    const double stroke = g.limits().stroke;
    EXPECT_NEAR(g.home(krm::HomeDirection::negative, 30s).position, 0, 0.5);
    EXPECT_NEAR(g.home(krm::HomeDirection::positive).position, stroke, 0.5);
    EXPECT_NEAR(g.start_home(krm::HomeDirection::negative).wait().position, 0, 0.5);
    EXPECT_NEAR(g.home().position, stroke, 0.5) << "the simulator's configured direction is positive";
}

TEST(LibCpp, AnEmptyGripperIsAMemberThatIsOpenedLater)
{
    Cell cell;
    EXPECT_FALSE(cell.gripper.is_open());
    cell.gripper.close();
    try {
        cell.gripper.info();
        ADD_FAILURE() << "an empty Gripper answered";
    } catch (const krm::ConnectionError& error) {
        EXPECT_NE(std::string(error.what()).find("not open"), std::string::npos) << error.what();
        EXPECT_NE(std::string(error.what()).find("krm::Gripper::open"), std::string::npos) << error.what();
    }
    EXPECT_THROW((void)cell.gripper.on_report([](const krm::Report&) {}), krm::ConnectionError);
    SimChild sim({"--referenced"});
    ASSERT_TRUE(sim.Started());
    cell.gripper = krm::Gripper::open(sim.Tcp());
    EXPECT_TRUE(cell.gripper.is_open());
    EXPECT_TRUE(cell.gripper.move(30, 400).ok());
    krm::Gripper moved = std::move(cell.gripper);
    EXPECT_THROW(cell.gripper.state(), krm::ConnectionError);
    EXPECT_TRUE(moved.is_open());
}

// Another thread inside a motion, a request the peer never answers and a
// report wait: destroying the Gripper ends each with ConnectionError and
// frees nothing they still use.
TEST(LibCpp, DestroyingAGripperEndsTheCallsOfOtherThreads)
{
    SimChild sim({"--referenced"});
    ASSERT_TRUE(sim.Started());
    krm::Options quiet;
    quiet.read_limits = false;
    quiet.reports.clear();
    for (int round = 0; round < 3; ++round) {
        ScriptedPeer silent([](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
            if (command == CMD_GET_SYSINFO)
                return {};
            return {ScriptedPeer::Answer(command, 0)};
        });
        std::optional<krm::Gripper> moving = krm::Gripper::open(sim.Tcp());
        moving->move(0, 400);
        std::optional<krm::Gripper> asking = krm::Gripper::open(silent.Tcp(), quiet);
        auto motion = std::async(std::launch::async, [&g = *moving] { g.move(110, 20, 30s); });
        auto request = std::async(std::launch::async, [&g = *asking] { g.info(30s); });
        ASSERT_TRUE(silent.WaitFor(CMD_GET_SYSINFO));
        std::this_thread::sleep_for(100ms);
        const auto start = std::chrono::steady_clock::now();
        moving.reset();
        asking.reset();
        EXPECT_THROW(motion.get(), krm::ConnectionError);
        EXPECT_THROW(request.get(), krm::ConnectionError);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    }
}

// A session with a Reconnect policy outlives a simulator that ends and is
// started again: calls fail at once while the link is down, the link comes
// back with the limits and reports it had, and the motion the loss ended is
// never sent again.
TEST(LibCpp, ReconnectsAfterTheSimulatorRestarts)
{
    auto sim = std::make_unique<SimChild>(std::vector<std::string>{"--referenced"});
    ASSERT_TRUE(sim->Started());
    const int port = sim->Port();
    krm::Options options;
    options.reports = {krm::Report::Kind::position};
    options.report_period = 20ms;
    options.reconnect = krm::Reconnect{50ms, 400ms};
    krm::Gripper g = krm::Gripper::open(sim->Tcp(), options);
    std::mutex mutex;
    std::vector<std::pair<krm::LinkState, std::string>> changes;
    g.on_link([&](krm::LinkState state, const std::string& text) {
        std::lock_guard lock(mutex);
        changes.emplace_back(state, text);
    });
    std::atomic<int> motions{0};
    const auto packets = g.on_packet([&](const krm::Packet& packet) {
        if (packet.direction == krm::Packet::Direction::sent && packet.command == CMD_GOTO)
            ++motions;
    });
    g.move(0, 400);
    krm::Motion m = g.start_move(110, 10);
    sim->Kill();
    EXPECT_THROW(m.wait(5s), krm::ConnectionError);
    for (int i = 0; i < 100 && g.link_state() == krm::LinkState::up; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(g.link_state(), krm::LinkState::down);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(g.info(), krm::ConnectionError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "a call while the link is down fails at once, not after an answer time";
    sim.reset();
    std::this_thread::sleep_for(600ms); // attempts against a closed port fail and back off

    sim = std::make_unique<SimChild>(std::vector<std::string>{"--referenced"}, false, port);
    ASSERT_TRUE(sim->Started());
    for (int i = 0; i < 500 && g.link_state() != krm::LinkState::up; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(g.link_state(), krm::LinkState::up);
    EXPECT_TRUE(g.is_open());
    EXPECT_EQ(motions.load(), 2) << "the motion the loss ended is not sent again";
    // The link handler runs on the library's thread just after the state
    // changed.
    const auto told = [&] {
        std::lock_guard lock(mutex);
        return changes.size() >= 2 && changes.back().first == krm::LinkState::up;
    };
    for (int i = 0; i < 300 && !told(); ++i)
        std::this_thread::sleep_for(10ms);
    {
        std::lock_guard lock(mutex);
        ASSERT_GE(changes.size(), 2u);
        EXPECT_EQ(changes.front().first, krm::LinkState::down);
        EXPECT_EQ(changes.back().first, krm::LinkState::up);
    }
    // The reports it had are on again, and the limits were read again.
    krm::ReportQueue q = g.reports();
    EXPECT_TRUE(g.move(50, 400).ok());
    EXPECT_TRUE(q.next(2s).has_value());
    EXPECT_GT(g.limits().stroke, 0);
    g.remove_packet_handler(packets);
    g.close();
    EXPECT_EQ(g.link_state(), krm::LinkState::closed);
}

// The serial port's faults in the words krm-cli uses: what is wrong and what
// to do, and nothing on standard error.
TEST(LibCpp, SerialConnectionErrorsNameCauseAndRemedy)
{
    SimChild sim({"--referenced"}, true);
    ASSERT_TRUE(sim.Started());
    char folderTemplate[] = "/tmp/krm-serial-XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
    const std::string plain = folder + "/plain-file";
    std::fclose(std::fopen(plain.c_str(), "w"));
    krm::Gripper holder = krm::Gripper::open(sim.Serial());
    const auto failure = [](const std::string& connection) {
        testing::internal::CaptureStderr();
        std::string text = "opened";
        try {
            krm::Gripper::open(connection, 3s);
        } catch (const krm::ConnectionError& error) {
            text = error.what();
            EXPECT_NE(text.find(error.cause()), std::string::npos) << text;
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        return text;
    };
    const std::string gone = failure("serial:" + folder + "/ttyUSB9");
    EXPECT_NE(gone.find("does not exist (unplugged?): plug the adapter in again or choose another port"), std::string::npos)
        << gone;
    const std::string file = failure("serial:" + plain);
    EXPECT_NE(file.find(plain + " is not a serial port: choose another port"), std::string::npos) << file;
    const std::string busy = failure(sim.Serial());
    EXPECT_NE(busy.find("is in use by another program: close that program or choose another port"), std::string::npos)
        << busy;
    std::remove(plain.c_str());
    rmdir(folder.c_str());
}
