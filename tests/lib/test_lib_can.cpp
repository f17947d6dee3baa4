// libkrm over the Qt virtual CAN bus, without a QCoreApplication: the CAN
// bus thread and the receive thread deliver to the session's link thread.
#include "SimChild.h"

#include <krm/krm.hpp>

#include <gtest/gtest.h>

#include <unistd.h>

TEST(LibCan, SessionOverTheVirtualBus)
{
    // The virtual bus is shared by every process on the machine: an
    // identifier of this process's own keeps other simulators' answers out.
    const std::string id = std::to_string(0x400 + (getpid() % 0x3000) * 2);
    SimChild sim({"--referenced", "--part-width", "30", "--can", "virtualcan:can0", "--can-id", id});
    ASSERT_TRUE(sim.Started());
    krm::Gripper g = krm::Gripper::open("can:virtualcan:can0@500#" + id);
    EXPECT_EQ(g.info().serial_number, 12345678u);
    const krm::MotionResult grasp = g.grasp(20, 200);
    EXPECT_TRUE(grasp.ok()) << krm::status_name(grasp.status);
    EXPECT_EQ(g.state().grasping_state, krm::GraspingState::holding);
}
