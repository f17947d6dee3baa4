// krm::scan through the public interface: a simulator on a pseudo-terminal
// at a line speed of its own is found and opens with what the scan returned.
#include "SimChild.h"

#include <krm/krm.hpp>

#include <gtest/gtest.h>

TEST(LibScan, FindsTheSimulatorAndItsConnectionOpens)
{
    SimChild sim({"--serial", "4242", "--baud", "19200"}, true);
    ASSERT_TRUE(sim.Started());
    krm::ScanOptions options;
    options.system_ports = false;
    options.connections = {sim.Serial(), sim.Tcp()};
    const krm::ScanResult result = krm::scan(options);
    ASSERT_EQ(result.found.size(), 2u);
    EXPECT_TRUE(result.problems.empty());
    EXPECT_EQ(result.found[0].connection, sim.Serial() + "@19200");
    EXPECT_EQ(result.found[0].info.serial_number, 4242u);
    EXPECT_EQ(result.found[1].connection, sim.Tcp());

    krm::Gripper g = krm::Gripper::open(result.found[0].connection);
    EXPECT_EQ(g.info().serial_number, 4242u);
}

TEST(LibScan, RefusesMalformedInputBeforeSendingAnything)
{
    krm::ScanOptions options;
    options.system_ports = false;
    options.connections = {"serial:"};
    EXPECT_THROW(krm::scan(options), krm::ConnectionStringError);
    try {
        krm::scan(options);
    } catch (const krm::ConnectionError& e) {
        EXPECT_EQ(std::string(e.what()), "connection string \"serial:\": PATH is empty");
    }
    options.connections.clear();
    options.line_speeds = {1234};
    EXPECT_THROW(krm::scan(options), std::invalid_argument);
    options.line_speeds.clear();
    options.first_can_id = 0;
    options.last_can_id = 0x1FFFFFFE;
    EXPECT_THROW(krm::scan(options), std::invalid_argument) << "a range too long to send";
}
