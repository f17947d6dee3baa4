// One session with the simulated gripper through libkrm's public interface:
// motions and their results, readings, reports, the limits check, status
// errors with their advice, several threads and several grippers at once.
#include "SimChild.h"

#include <krm/krm.hpp>

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <optional>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A referenced gripper holding nothing, unless the test gives other options.
struct Sim {
    explicit Sim(std::vector<std::string> args = {"--referenced"}, bool pty = false) : child(args, pty) {}
    SimChild child;
};

} // namespace

TEST(LibSession, MotionsReadingsAndResults)
{
    Sim sim({"--part-width", "30"});
    ASSERT_TRUE(sim.child.Started());
    krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
    EXPECT_TRUE(g.is_open());
    EXPECT_EQ(g.connection(), sim.child.Tcp());

    const krm::Info info = g.info();
    EXPECT_EQ(info.gripper_type, 1);
    EXPECT_EQ(info.firmware_revision, 259);
    EXPECT_EQ(info.serial_number, 12345678u);
    const krm::Limits limits = g.limits();
    EXPECT_EQ(limits.stroke, 110);
    EXPECT_EQ(limits.max_speed, 420);

    const krm::MotionResult home = g.home();
    EXPECT_EQ(home.kind, krm::MotionKind::home);
    EXPECT_TRUE(home.ok()) << krm::status_name(home.status);
    EXPECT_GT(home.duration.count(), 0.0);

    const krm::MotionResult grasp = g.grasp(20, 100);
    EXPECT_EQ(grasp.status, krm::Status::success);
    EXPECT_NEAR(grasp.position, 30, 0.5); // the part's width
    const krm::State held = g.state();
    EXPECT_EQ(held.grasping_state, krm::GraspingState::holding);
    EXPECT_TRUE(held.has(krm::flags::referenced));
    EXPECT_NE(held.position_time, krm::Clock::time_point{});

    const krm::MotionResult release = g.release(60, 200);
    EXPECT_TRUE(release.ok());
    EXPECT_NEAR(release.position, 60, 0.5);

    const krm::Stats stats = g.stats(true);
    EXPECT_EQ(stats.grasps, 1u);
    EXPECT_EQ(g.stats().grasps, 0u);

    g.set_acceleration(2500);
    EXPECT_FLOAT_EQ(static_cast<float>(g.acceleration()), 2500.0f);
    g.set_force_limit(40);
    EXPECT_FLOAT_EQ(static_cast<float>(g.force_limit()), 40.0f);

    const std::vector<std::uint8_t> position = g.raw(0x43, {});
    EXPECT_EQ(position.size(), 4u);
    try {
        g.raw(0x99, {});
        FAIL() << "an unknown command was answered";
    } catch (const krm::StatusError& error) {
        EXPECT_EQ(error.code(), krm::Status::cmd_unknown);
        EXPECT_EQ(error.name(), "E_CMD_UNKNOWN");
    }
}

TEST(LibSession, GraspWithoutPartReportsItsFinalStatus)
{
    Sim sim;
    krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
    const krm::MotionResult r = g.grasp(20, 200);
    EXPECT_EQ(r.status, krm::Status::cmd_failed);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(g.state().grasping_state, krm::GraspingState::no_part);
}

TEST(LibSession, MotionTimeoutSendsStop)
{
    Sim sim;
    krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
    g.move(0, 400);
    krm::Motion m = g.start_move(110, 5); // 22 s at the slowest speed
    EXPECT_FALSE(m.done());
    EXPECT_FALSE(m.wait_for(50ms).has_value()); // looking does not stop it
    EXPECT_THROW(m.wait(300ms), krm::TimeoutError);
    const krm::MotionResult stopped = m.wait(10s);
    EXPECT_EQ(stopped.status, krm::Status::cmd_aborted);
    EXPECT_LT(stopped.position, 20);
    EXPECT_FALSE(g.state().has(krm::flags::moving));

    EXPECT_THROW(g.move(110, 5, 200ms), krm::TimeoutError);
    EXPECT_FALSE(g.state().has(krm::flags::moving));

    krm::Motion cancelled = g.start_move(0, 5);
    cancelled.cancel();
    EXPECT_EQ(cancelled.wait(10s).status, krm::Status::cmd_aborted);
}

TEST(LibSession, AReplacedMotionEndsAbortedAndTheNewOneGetsItsOwnEnd)
{
    Sim sim;
    krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
    g.move(0, 400);
    // Both final answers carry the same command byte; the first to come is
    // the replaced motion's.
    krm::Motion first = g.start_move(110, 5);
    krm::Motion second = g.start_move(50, 400);
    EXPECT_EQ(first.wait(10s).status, krm::Status::cmd_aborted);
    const krm::MotionResult reached = second.wait(10s);
    EXPECT_TRUE(reached.ok()) << krm::status_name(reached.status);
    EXPECT_NEAR(reached.position, 50, 0.5);
    // Another command byte replaces it too.
    krm::Motion grasp = g.start_grasp(0, 5);
    krm::Motion release = g.start_release(100, 400);
    EXPECT_EQ(grasp.wait(10s).status, krm::Status::cmd_aborted);
    EXPECT_TRUE(release.wait(10s).ok());
}

TEST(LibSession, ClosingStopsTheMotionItStarted)
{
    Sim sim;
    double left = 0;
    {
        krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
        g.move(0, 400);
        krm::Motion m = g.start_move(110, 5);
        std::this_thread::sleep_for(100ms);
        left = g.last_state().position;
    }
    krm::Gripper again = krm::Gripper::open(sim.child.Tcp());
    const double first = again.state().position;
    std::this_thread::sleep_for(300ms);
    const krm::State later = again.state();
    EXPECT_FALSE(later.has(krm::flags::moving));
    EXPECT_EQ(later.position, first);
    EXPECT_LT(later.position, left + 5);
}

TEST(LibSession, ValuesOutsideTheLimitsAreRefused)
{
    Sim sim;
    krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
    const double before = g.state().position;
    try {
        g.move(111, 50);
        FAIL() << "a position past the stroke was sent";
    } catch (const krm::LimitError& error) {
        EXPECT_NE(std::string(error.what()).find("position 111 mm is outside the gripper's range 0 to 110 mm"), std::string::npos)
            << error.what();
    }
    EXPECT_THROW(g.grasp(20, 1000), krm::LimitError);
    EXPECT_THROW(g.start_release(20, 1), krm::LimitError);
    EXPECT_THROW(g.move(std::nan(""), 50), krm::LimitError);
    EXPECT_THROW(g.set_acceleration(99), krm::LimitError);
    EXPECT_THROW(g.set_force_limit(81), krm::LimitError);
    EXPECT_FALSE(g.state().has(krm::flags::moving));
    EXPECT_EQ(g.state().position, before);
}

TEST(LibSession, ValuesAreRefusedWhenTheLimitsCannotBeRead)
{
    Sim sim({"--referenced", "--force-status", "GET_SYSTEM_LIMITS=E_ACCESS_DENIED"});
    krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
    try {
        g.move(50, 50);
        FAIL() << "a value was sent unchecked";
    } catch (const krm::LimitError& error) {
        EXPECT_NE(std::string(error.what()).find("limits could not be read"), std::string::npos) << error.what();
    }
    EXPECT_THROW(g.set_force_limit(40), krm::LimitError);
    EXPECT_TRUE(g.home().ok()); // carries no value
    try {
        g.limits();
        FAIL();
    } catch (const krm::StatusError& error) {
        EXPECT_EQ(error.code(), krm::Status::access_denied);
    }
}

TEST(LibSession, StatusErrorsCarryAdvice)
{
    Sim sim(std::vector<std::string>{});
    krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
    try {
        g.move(50, 50);
        FAIL() << "an unreferenced gripper moved";
    } catch (const krm::StatusError& error) {
        EXPECT_EQ(error.code(), krm::Status::not_initialized);
        EXPECT_EQ(error.advice(), "home the gripper first");
        EXPECT_EQ(error.command(), "move");
    }
    g.home();
    g.fast_stop();
    try {
        g.move(50, 50);
        FAIL() << "a motion ran in fast stop";
    } catch (const krm::StatusError& error) {
        EXPECT_EQ(error.code(), krm::Status::access_denied);
        EXPECT_EQ(error.name(), "E_ACCESS_DENIED");
        EXPECT_EQ(error.text(), "Access denied");
        EXPECT_EQ(error.advice(), "acknowledge the fast stop first");
        EXPECT_STREQ(error.what(), "move: Access denied (E_ACCESS_DENIED); acknowledge the fast stop first");
    }
    g.acknowledge();
    EXPECT_TRUE(g.move(50, 200).ok());
}

TEST(LibSession, ReportsReachHandlersOneAtATime)
{
    // Late answers, so that reports arrive while the handler's request waits.
    Sim sim({"--referenced", "--delay", "30"});
    krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
    std::atomic<int> positions{0};
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> failures{0};
    std::string firstFailure;
    const auto caller = std::this_thread::get_id();
    krm::Subscription subscription = g.on_report([&](const krm::Report& report) {
        if (report.kind != krm::Report::Kind::position)
            return;
        if (inside++ > 0)
            ++overlaps;
        // A round trip from the handler lets further reports arrive meanwhile;
        // they wait for this call to return.
        try {
            if (g.state().position < 0 || std::this_thread::get_id() == caller)
                ++failures;
        } catch (const krm::Error& error) {
            if (failures++ == 0)
                firstFailure = error.what();
        }
        --inside;
        ++positions;
    });
    g.move(0, 100);
    g.move(100, 400);
    subscription.reset();
    EXPECT_GT(positions.load(), 2);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(failures.load(), 0) << firstFailure;
    const int seen = positions;
    g.move(50, 400);
    EXPECT_EQ(positions.load(), seen);
    // Only reports set the last state: the one of the end comes within a period.
    krm::State last = g.last_state();
    for (int i = 0; i < 100 && std::abs(last.position - 50) > 0.5; ++i) {
        std::this_thread::sleep_for(20ms);
        last = g.last_state();
    }
    EXPECT_NEAR(last.position, 50, 0.5);
    EXPECT_NE(last.flags_time, krm::Clock::time_point{});
}

// A handler may close its Gripper, and even destroy it: the motion waited
// for ends with ConnectionError, and no thread waits for itself (Qt says so
// on stderr when one does).
TEST(LibSession, AHandlerClosesOrDestroysItsGripper)
{
    Sim sim;
    for (const bool destroy : {false, true}) {
        testing::internal::CaptureStderr();
        std::optional<krm::Gripper> g = krm::Gripper::open(sim.child.Tcp());
        g->move(0, 400);
        std::atomic<bool> closing{false};
        std::atomic<bool> handled{false};
        std::string failure;
        const krm::Subscription subscription = g->on_report([&](const krm::Report&) {
            if (closing.exchange(true))
                return;
            try {
                if (destroy)
                    g.reset();
                else
                    g->close();
            } catch (const std::exception& error) {
                failure = error.what();
            }
            handled = true;
        });
        krm::Motion m = g->start_move(110, 50);
        EXPECT_THROW(m.wait(10s), krm::ConnectionError);
        for (int i = 0; i < 250 && !handled; ++i)
            std::this_thread::sleep_for(20ms);
        ASSERT_TRUE(handled.load());
        EXPECT_TRUE(failure.empty()) << failure;
        if (!destroy) {
            EXPECT_FALSE(g->is_open());
            EXPECT_THROW(g->state(), krm::ConnectionError);
        }
        g.reset();
        const std::string messages = testing::internal::GetCapturedStderr();
        EXPECT_EQ(messages.find("wait on itself"), std::string::npos) << messages;
    }
}

TEST(LibSession, SeveralThreadsShareOneGripper)
{
    Sim sim;
    krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 40; ++i) {
                try {
                    if (g.state().flags == 0 || g.limits().stroke != 110)
                        ++failures;
                } catch (const krm::Error&) {
                    ++failures;
                }
            }
        });
    threads.emplace_back([&] {
        for (int i = 0; i < 3; ++i)
            if (!g.move(i % 2 ? 100 : 10, 400).ok())
                ++failures;
    });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

// The link thread looks for the next request for a short while after its
// last one before it sleeps: requests that come right after, a little
// later or long after all go out, from several threads at once.
TEST(LibSession, RequestsAtAnySpacingAreAllAnswered)
{
    Sim sim;
    krm::Gripper g = krm::Gripper::open(sim.child.Tcp());
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                std::this_thread::sleep_for(std::chrono::microseconds((i + t) % 9 * 30));
                try {
                    g.stop(1s);
                } catch (const krm::Error&) {
                    ++failures;
                }
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(LibSession, TwoGrippersAtOnce)
{
    Sim first;
    Sim second({"--referenced", "--stroke", "80"});
    krm::Gripper a = krm::Gripper::open(first.child.Tcp());
    krm::Gripper b = krm::Gripper::open(second.child.Tcp());
    EXPECT_EQ(a.limits().stroke, 110);
    EXPECT_EQ(b.limits().stroke, 80);
    krm::Motion ma = a.start_move(100, 200);
    krm::Motion mb = b.start_move(70, 200);
    EXPECT_NEAR(ma.wait().position, 100, 0.5);
    EXPECT_NEAR(mb.wait().position, 70, 0.5);
}

TEST(LibSession, SerialLineOnAPseudoTerminal)
{
    Sim sim({"--referenced", "--part-width", "30"}, true);
    ASSERT_TRUE(sim.child.Started());
    krm::Gripper g = krm::Gripper::open(sim.child.Serial());
    EXPECT_EQ(g.info().serial_number, 12345678u);
    EXPECT_TRUE(g.grasp(20, 200).ok());
    EXPECT_EQ(g.state().grasping_state, krm::GraspingState::holding);
    EXPECT_TRUE(g.release(100, 200).ok());
}
