// libkrm over the Qt virtual CAN bus, without a QCoreApplication: the CAN
// bus thread and the receive thread deliver to the session's link thread.
#include "SimChild.h"

#include <krm/krm.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>
#include <unistd.h>

TEST(LibCan, SessionOverTheVirtualBus)
{
    // The virtual bus is shared by every process on the machine: an
    // identifier of this process's own keeps other simulators' answers out.
    const std::string id = std::to_string(0x400 + (getpid() % 0x3000) * 2);
    SimChild sim({"--referenced", "--part-width", "30", "--can", "virtualcan:can0", "--can-id", id});
    ASSERT_TRUE(sim.Started());
    // Qt's own messages of the open (plug-ins that cannot load their
    // drivers, the virtual bus's lines) are notices, never standard error.
    std::mutex mutex;
    std::vector<std::string> notices;
    krm::Options options;
    options.notice = [&](krm::Notice, const std::string& text) {
        std::lock_guard lock(mutex);
        notices.push_back(text);
    };
    testing::internal::CaptureStderr();
    std::optional<krm::Gripper> opened = krm::Gripper::open("can:virtualcan:can0@500#" + id, options);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    {
        std::lock_guard lock(mutex);
        EXPECT_TRUE(std::any_of(notices.begin(), notices.end(), [](const std::string& n) { return n.find(": Qt: ") != std::string::npos; }));
    }
    krm::Gripper& g = *opened;
    // The CAN hand-off reaches the link thread as posted events, which its
    // poll dispatcher delivers before it blocks: each answer must end the
    // wait at once, not when the link's 3 s answer time runs out.
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(g.info(std::chrono::seconds(2)).serial_number, 12345678u);
    const krm::MotionResult grasp = g.grasp(20, 200);
    EXPECT_TRUE(grasp.ok()) << krm::status_name(grasp.status);
    EXPECT_EQ(g.state().grasping_state, krm::GraspingState::holding);
}

TEST(LibCan, ScanFindsTheIdentifierOnTheVirtualBus)
{
    // An identifier of this process's own, and a range just around it.
    const std::uint32_t id = 0x500 + static_cast<std::uint32_t>(getpid() % 0x2000) * 4;
    SimChild sim({"--serial", "2001", "--can", "virtualcan:can0", "--can-id", std::to_string(id)});
    ASSERT_TRUE(sim.Started());
    krm::ScanOptions options;
    options.system_ports = false;
    options.connections = {"can:virtualcan:can0@500"};
    options.first_can_id = id - 2;
    options.last_can_id = id + 2;
    const krm::ScanResult result = krm::scan(options);
    ASSERT_EQ(result.found.size(), 1u);
    EXPECT_EQ(result.found[0].connection, "can:virtualcan:can0@500#" + std::to_string(id));
    EXPECT_EQ(result.found[0].info.serial_number, 2001u);
    EXPECT_TRUE(result.problems.empty());
}
