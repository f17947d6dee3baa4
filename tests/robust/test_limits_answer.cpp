// A gripper whose limits answer cannot be used as input ranges (a value that
// is not a number or infinite, a minimum above its maximum, a negative
// stroke): the program treats it like an unreadable answer instead of
// accepting any typed value.
#include "RobustTestSupport.h"

#include "FloodPeer.h"

#include "MainForm.h"

#include <QAction>
#include <QPushButton>

#include <array>
#include <limits>

namespace {

using LimitsAnswerTest = RobustTest;

constexpr float Inf = std::numeric_limits<float>::infinity();
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();

// Stroke, speed, acceleration and force ranges, overdrive force.
const std::array<std::array<float, 8>, 6> UnusableLimits{{
    {110, 5, Inf, 100, 5000, 5, 80, 120},
    {NaN, 5, 420, 100, 5000, 5, 80, 120},
    {110, 5, 420, -Inf, 5000, 5, 80, 120},
    {110, 5, 420, 100, 5000, 5, 80, NaN},
    {110, 5, 420, 100, 5000, 90, 80, 120},
    {-1, 5, 420, 100, 5000, 5, 80, 120},
}};

TEST_F(LimitsAnswerTest, UnusableLimitsLeaveTheRecordAndTheWindowDisconnected)
{
    TFloodPeer peer;
    ASSERT_TRUE(peer.Start());
    ASSERT_TRUE(ConnectTo(peer.Port()));
    for (size_t i = 0; i < UnusableLimits.size(); ++i) {
        peer.SetLimits(UnusableLimits[i]);
        TSystemLimits limits;
        limits.Stroke = 7;
        EXPECT_EQ(Gripper->GetSystemLimits(limits), E_CMD_FAILED) << i;
        EXPECT_EQ(limits.Stroke, 7) << i;
    }
    // Equal minimum and maximum is a range of one value, not an error.
    peer.SetLimits({110, 50, 50, 100, 5000, 5, 5, 120});
    TSystemLimits limits;
    EXPECT_EQ(Gripper->GetSystemLimits(limits), E_SUCCESS);
    EXPECT_EQ(limits.MaxSpeed, 50);
    Gripper.reset();

    TMainWin window;
    window.show();
    for (size_t i = 0; i < UnusableLimits.size(); ++i) {
        peer.SetLimits(UnusableLimits[i]);
        Driver.Messages.clear();
        EXPECT_FALSE(Driver.Connect(window, peer.Port())) << i;
        ASSERT_EQ(Driver.Messages.size(), 1u) << i;
        EXPECT_EQ(Driver.Messages[0].text,
                  QStringLiteral("Unable to retreive gripper limits.\n"
                                 "Please try again by selecting \"Gripper|Connect\" from the menu."))
            << i;
        EXPECT_TRUE(window.Connect1->isEnabled()) << i;
        EXPECT_FALSE(window.btnGoto->isEnabled()) << i;
        EXPECT_FALSE(window.Gripper()->IsConnected()) << i;
    }
}

} // namespace
