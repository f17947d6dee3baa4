// The gripper model driven directly with a hand-set clock: command answers,
// motion in time, grasping, locks and error codes.
#include "ModelFixture.h"

#include "HXT_commands.h"

#include <cmath>
#include <limits>

namespace {
using M = TGripperModel;

float PositionOf(TGripperModel& m) { return SingleAt(m.Reading(CMD_GET_POS).data()); }
}

TEST_F(ModelFixture, SystemInformationAndLimitsHaveTheDecodedLayout)
{
    Make();
    EXPECT_EQ(Result(CMD_GET_SYSINFO), (TByteArray{0x01, 0x02, 0x03, 0x01, 0x4E, 0x61, 0xBC, 0x00}));
    const TByteArray limits = Result(CMD_GET_SYSTEM_LIMITS);
    ASSERT_EQ(limits.size(), 32u);
    const float expected[] = {110, 5, 420, 100, 5000, 5, 80, 120};
    for (int i = 0; i < 8; ++i)
        EXPECT_FLOAT_EQ(SingleAt(limits.data() + 4 * i), expected[i]) << "value " << i;
}

TEST_F(ModelFixture, MotionNeedsHomingWhichReferencesAtTheOpenEnd)
{
    Make();
    EXPECT_EQ(Status(CMD_GOTO, GotoPayload(20, 100)), E_NOT_INITIALIZED);
    EXPECT_EQ(Status(CMD_HOMING, {0}), E_CMD_PENDING);
    EXPECT_EQ(model->SystemState() & (M::FlagMoving | M::FlagReferenced), M::FlagMoving);
    Advance(100);
    EXPECT_GT(PositionOf(*model), 55.0f);
    Advance(2000);
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].origin, Client);
    EXPECT_EQ(finals[0].command, CMD_HOMING);
    EXPECT_EQ(finals[0].status, E_SUCCESS);
    EXPECT_EQ(model->SystemState() & (M::FlagMoving | M::FlagReferenced), M::FlagReferenced);
    EXPECT_FLOAT_EQ(PositionOf(*model), 110.0f);
    EXPECT_EQ(Status(CMD_GOTO, GotoPayload(20, 100)), E_CMD_PENDING);
}

TEST_F(ModelFixture, GotoRunsInRealTimeAndReachesItsTarget)
{
    Make(Referenced());
    ASSERT_EQ(Status(CMD_SET_ACCELERATION, F({1000})), E_SUCCESS);
    ASSERT_EQ(Status(CMD_GOTO, GotoPayload(15, 100)), E_CMD_PENDING);
    // 40 mm at 100 mm/s with 1000 mm/s²: 0.1 s ramps at both ends, 0.5 s in all.
    Advance(50);
    EXPECT_NEAR(PositionOf(*model), 55 - 1.25, 0.01);
    EXPECT_NEAR(SingleAt(model->Reading(CMD_GET_SPEED).data()), -50, 0.01);
    Advance(250);
    EXPECT_NEAR(PositionOf(*model), 55 - 25, 0.01);
    EXPECT_TRUE(finals.empty());
    Advance(205);
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].status, E_SUCCESS);
    EXPECT_FLOAT_EQ(PositionOf(*model), 15.0f);
    EXPECT_EQ(model->SystemState() & (M::FlagMoving | M::FlagTargetReached), M::FlagTargetReached);
}

TEST_F(ModelFixture, NewMotionAbortsTheRunningOneFirst)
{
    Make(Referenced());
    ASSERT_EQ(Status(CMD_GOTO, GotoPayload(100, 50)), E_CMD_PENDING);
    Advance(100);
    EXPECT_EQ(Status(CMD_GOTO, GotoPayload(60, 420)), E_CMD_PENDING);
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].command, CMD_GOTO);
    EXPECT_EQ(finals[0].status, E_CMD_ABORTED);
    Advance(1000);
    ASSERT_EQ(finals.size(), 2u);
    EXPECT_EQ(finals[1].status, E_SUCCESS);
    EXPECT_FLOAT_EQ(PositionOf(*model), 60.0f);
}

TEST_F(ModelFixture, StopBrakesThenReportsTheMotionAborted)
{
    Make(Referenced());
    ASSERT_EQ(Status(CMD_SET_ACCELERATION, F({1000})), E_SUCCESS);
    ASSERT_EQ(Status(CMD_GOTO, GotoPayload(105, 200)), E_CMD_PENDING);
    Advance(200); // at full speed
    EXPECT_EQ(Status(CMD_STOP), E_SUCCESS);
    EXPECT_TRUE(finals.empty()) << "still braking";
    EXPECT_TRUE(model->SystemState() & M::FlagMoving);
    Advance(250);
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].status, E_CMD_ABORTED);
    // From 55: 20 mm ramp to full speed, then 20 mm of braking.
    EXPECT_NEAR(PositionOf(*model), 95, 0.5);
    EXPECT_EQ(model->SystemState() & (M::FlagMoving | M::FlagAxisStopped | M::FlagTargetReached), M::FlagAxisStopped);
}

TEST_F(ModelFixture, FastStopLocksMotionUntilAcknowledged)
{
    Make(Referenced());
    ASSERT_EQ(Status(CMD_GOTO, GotoPayload(100, 50)), E_CMD_PENDING);
    Advance(100);
    const float where = PositionOf(*model);
    EXPECT_EQ(Status(CMD_FAST_STOP), E_SUCCESS);
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].status, E_CMD_ABORTED);
    EXPECT_TRUE(model->SystemState() & M::FlagFastStop);
    Advance(100);
    EXPECT_FLOAT_EQ(PositionOf(*model), where);

    for (uint8_t cmd : {CMD_HOMING, CMD_GOTO, CMD_GRASP_RAW, CMD_RELEASE_RAW}) {
        const TByteArray payload = cmd == CMD_HOMING ? TByteArray{0} : cmd == CMD_GOTO ? GotoPayload(20, 50) : F({20, 50});
        EXPECT_EQ(Status(cmd, payload), E_ACCESS_DENIED) << CommandName(cmd);
    }
    EXPECT_EQ(Status(CMD_FAST_STOP_ACK, {'a', 'b', 'c'}), E_INVALID_PARAMETER);
    EXPECT_EQ(Status(CMD_FAST_STOP_ACK, {'a', 'c'}), E_CMD_FORMAT_ERROR);
    EXPECT_TRUE(model->SystemState() & M::FlagFastStop);
    EXPECT_EQ(Status(CMD_FAST_STOP_ACK, {'a', 'c', 'k'}), E_SUCCESS);
    EXPECT_FALSE(model->SystemState() & M::FlagFastStop);
    EXPECT_EQ(Status(CMD_GOTO, GotoPayload(20, 50)), E_CMD_PENDING);
}

TEST_F(ModelFixture, BadRequestsGetTheirErrorCodes)
{
    Make(Referenced());
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        uint8_t command;
        TByteArray payload;
        uint16_t status;
    };
    const Case cases[] = {
        {CMD_GOTO, GotoPayload(20, 4.9f), E_RANGE_ERROR},
        {CMD_GOTO, GotoPayload(20, 421), E_RANGE_ERROR},
        {CMD_GOTO, GotoPayload(110.5f, 50), E_RANGE_ERROR},
        {CMD_GOTO, GotoPayload(-1, 50), E_RANGE_ERROR},
        {CMD_GOTO, GotoPayload(nan, 50), E_RANGE_ERROR},
        {CMD_GOTO, F({20, 50}), E_CMD_FORMAT_ERROR},
        {CMD_GRASP_RAW, GotoPayload(20, 50), E_CMD_FORMAT_ERROR},
        {CMD_RELEASE_RAW, F({20, nan}), E_RANGE_ERROR},
        {CMD_GRASP_PROFILE, F({20, 50, 50, 40}), E_RANGE_ERROR},
        {CMD_GRASP_PROFILE, F({20, 50, 500, 81}), E_RANGE_ERROR},
        {CMD_HOMING, {3}, E_RANGE_ERROR},
        {CMD_HOMING, {}, E_CMD_FORMAT_ERROR},
        {CMD_STOP, {0}, E_CMD_FORMAT_ERROR},
        {CMD_SET_ACCELERATION, F({99}), E_RANGE_ERROR},
        {CMD_SET_ACCELERATION, F({5001}), E_RANGE_ERROR},
        {CMD_SET_ACCELERATION, {1, 2}, E_CMD_FORMAT_ERROR},
        {CMD_SET_FORCE_LIMIT, F({4}), E_RANGE_ERROR},
        {CMD_SET_FORCE_LIMIT, F({100}), E_RANGE_ERROR},
        {CMD_SET_SOFT_LIMITS, F({80, 20}), E_RANGE_ERROR},
        {CMD_GET_GRASPING_STATS, {2}, E_INVALID_PARAMETER},
        {CMD_GET_GRASPING_STATS, {}, E_CMD_FORMAT_ERROR},
        {CMD_GET_SYSINFO, {0}, E_CMD_FORMAT_ERROR},
        {CMD_GET_POS, {1, 2}, E_CMD_FORMAT_ERROR},
        {CMD_SET_DEVICE_TAG, {}, E_CMD_FORMAT_ERROR},
        {CMD_SET_DEVICE_TAG, TByteArray(65, 'x'), E_CMD_FORMAT_ERROR},
        {CMD_OVERDRIVE_MODE, {2}, E_INVALID_PARAMETER},
        {0x29, {}, E_CMD_UNKNOWN},
        {0x00, {}, E_CMD_UNKNOWN},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Status(c.command, c.payload), c.status) << CommandName(c.command) << " with " << c.payload.size()
                                                         << " bytes";
    EXPECT_FALSE(model->Moving());
}

TEST_F(ModelFixture, OverdriveRaisesTheForceLimitRange)
{
    Make(Referenced());
    EXPECT_EQ(Status(CMD_SET_FORCE_LIMIT, F({100})), E_RANGE_ERROR);
    EXPECT_EQ(Status(CMD_OVERDRIVE_MODE, {1}), E_SUCCESS);
    EXPECT_TRUE(model->SystemState() & M::FlagOverdrive);
    EXPECT_EQ(Status(CMD_SET_FORCE_LIMIT, F({100})), E_SUCCESS);
    EXPECT_EQ(Result(CMD_GET_FORCE_LIMIT), F({100}));
    EXPECT_EQ(Status(CMD_OVERDRIVE_MODE, {0}), E_SUCCESS);
    EXPECT_EQ(Result(CMD_GET_FORCE_LIMIT), F({80}));
}

TEST_F(ModelFixture, GraspHoldsAPartThenReleases)
{
    TGripperConfig c = Referenced();
    c.partWidth = 30;
    Make(c);
    ASSERT_EQ(Status(CMD_SET_FORCE_LIMIT, F({40})), E_SUCCESS);
    ASSERT_EQ(Status(CMD_GRASP_RAW, F({32, 200})), E_CMD_PENDING);
    EXPECT_EQ(model->GraspingState(), M::GS_GRASPING);
    Advance(1000);
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].command, CMD_GRASP_RAW);
    EXPECT_EQ(finals[0].status, E_SUCCESS);
    EXPECT_EQ(model->GraspingState(), M::GS_HOLDING);
    EXPECT_FLOAT_EQ(PositionOf(*model), 30.0f);
    EXPECT_NEAR(model->Force(), 40.4, 1e-3);

    ASSERT_EQ(Status(CMD_RELEASE_RAW, F({50, 200})), E_CMD_PENDING);
    EXPECT_EQ(model->GraspingState(), M::GS_RELEASING);
    Advance(1000);
    ASSERT_EQ(finals.size(), 2u);
    EXPECT_EQ(finals[1].status, E_SUCCESS);
    EXPECT_EQ(model->GraspingState(), M::GS_IDLE);
    EXPECT_EQ(Result(CMD_GET_GRASPING_STATS, {0}), (TByteArray{1, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(ModelFixture, GraspMissesAPartOutsideItsTravel)
{
    TGripperConfig c = Referenced();
    c.partWidth = 5; // more than 10 mm below the nominal width
    Make(c);
    ASSERT_EQ(Status(CMD_GRASP_RAW, F({20, 200})), E_CMD_PENDING);
    Advance(1000);
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].status, E_CMD_FAILED);
    EXPECT_EQ(model->GraspingState(), M::GS_NO_PART);
    EXPECT_FLOAT_EQ(PositionOf(*model), 10.0f);
    EXPECT_EQ(Result(CMD_GET_GRASPING_STATS, {1}), (TByteArray{1, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(Result(CMD_GET_GRASPING_STATS, {0}), TByteArray(8, 0)) << "reset after reading";
}

TEST_F(ModelFixture, AHeldPartCanSlipOut)
{
    TGripperConfig c = Referenced();
    c.partWidth = 30;
    c.partLostAfterMs = 600;
    Make(c);
    ASSERT_EQ(Status(CMD_GRASP_RAW, F({30, 400})), E_CMD_PENDING);
    Advance(400);
    ASSERT_EQ(model->GraspingState(), M::GS_HOLDING);
    Advance(1000);
    EXPECT_EQ(model->GraspingState(), M::GS_PART_LOST);
    EXPECT_LT(PositionOf(*model), 30.0f) << "fingers close on the lost part";
    EXPECT_EQ(finals.size(), 1u) << "slipping answers nobody";
    EXPECT_EQ(Result(CMD_GET_GRASPING_STATS, {0}), (TByteArray{1, 0, 0, 0, 0, 0, 1, 0}));
}

TEST_F(ModelFixture, PartAndEndStopsBlockAGoto)
{
    TGripperConfig c = Referenced();
    c.partWidth = 30;
    Make(c);
    ASSERT_EQ(Status(CMD_GOTO, GotoPayload(10, 400)), E_CMD_PENDING);
    Advance(500);
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].status, E_AXIS_BLOCKED);
    EXPECT_FLOAT_EQ(PositionOf(*model), 30.0f);
    EXPECT_EQ(model->SystemState() & (M::FlagBlockedMinus | M::FlagBlockedPlus | M::FlagTargetReached),
        M::FlagBlockedMinus);

    ASSERT_EQ(Status(CMD_GOTO, GotoPayload(100, 400, 1)), E_CMD_PENDING); // relative, past the open end
    Advance(1000);
    ASSERT_EQ(finals.size(), 2u);
    EXPECT_EQ(finals[1].status, E_AXIS_BLOCKED);
    EXPECT_FLOAT_EQ(PositionOf(*model), 110.0f);
    EXPECT_EQ(model->SystemState() & (M::FlagBlockedMinus | M::FlagBlockedPlus), M::FlagBlockedPlus);
}

TEST_F(ModelFixture, SoftLimitsNarrowTheRange)
{
    Make(Referenced());
    ASSERT_EQ(Status(CMD_SET_SOFT_LIMITS, F({20, 80})), E_SUCCESS);
    EXPECT_EQ(Result(CMD_GET_SOFT_LIMITS), F({20, 80}));
    EXPECT_EQ(Status(CMD_GOTO, GotoPayload(90, 400)), E_RANGE_ERROR);
    EXPECT_EQ(Status(CMD_GOTO, GotoPayload(30, 400, 1)), E_RANGE_ERROR) << "55 + 30 is past the limit";
    ASSERT_EQ(Status(CMD_GOTO, GotoPayload(80, 400)), E_CMD_PENDING);
    Advance(500);
    EXPECT_TRUE(model->SystemState() & M::FlagSoftLimitPlus);
    EXPECT_FALSE(model->SystemState() & M::FlagSoftLimitMinus);
    EXPECT_EQ(Status(CMD_CLEAR_SOFT_LIMITS), E_SUCCESS);
    EXPECT_EQ(Result(CMD_GET_SOFT_LIMITS), F({0, 110}));
    EXPECT_FALSE(model->SystemState() & M::FlagSoftLimitPlus);
    EXPECT_EQ(Status(CMD_GOTO, GotoPayload(90, 400)), E_CMD_PENDING);
}

TEST_F(ModelFixture, TagAccelerationAndTareAreKept)
{
    Make(Referenced());
    EXPECT_EQ(Result(CMD_GET_DEVICE_TAG), (TByteArray{'G', 'R', 'I', 'P', 'P', 'E', 'R'}));
    EXPECT_EQ(Status(CMD_SET_DEVICE_TAG, {'L', 'e', 'f', 't'}), E_SUCCESS);
    EXPECT_EQ(Result(CMD_GET_DEVICE_TAG), (TByteArray{'L', 'e', 'f', 't'}));
    EXPECT_EQ(Status(CMD_SET_ACCELERATION, F({1234})), E_SUCCESS);
    EXPECT_EQ(Result(CMD_GET_ACCELERATION), F({1234}));
    EXPECT_NEAR(model->Force(), 0.4, 1e-6);
    ASSERT_EQ(Status(CMD_GOTO, GotoPayload(20, 50)), E_CMD_PENDING);
    EXPECT_EQ(Status(CMD_TARE), E_ACCESS_DENIED) << "not while moving";
    Advance(2000);
    EXPECT_EQ(Status(CMD_TARE), E_SUCCESS);
    EXPECT_EQ(model->Force(), 0.0f);
}

TEST_F(ModelFixture, ArrivingExactlyAtAnEndStopIsNoBlock)
{
    Make(Referenced());
    const double start = nowMs;
    ASSERT_EQ(Status(CMD_GOTO, GotoPayload(110, 400)), E_CMD_PENDING);
    // 55 mm as a triangle at 2500 mm/s²; a tick 10 µs before the end finds the
    // fingers a fraction of a micrometre short of the end stop, still moving.
    const double duration = 2 * std::sqrt(55.0 / 2500) * 1000;
    nowMs = start + duration - 0.01;
    model->Update();
    nowMs = start + duration + 1;
    model->Update();
    ASSERT_EQ(finals.size(), 1u);
    EXPECT_EQ(finals[0].status, E_SUCCESS);
    EXPECT_FALSE(model->SystemState() & M::FlagBlockedPlus);
}

TEST_F(ModelFixture, BrakingJustShortOfAnEndStopStaysInsideTheStroke)
{
    // Homing towards the closed end at 50 mm/s with 2500 mm/s² brakes over
    // 0.5 mm; stopped at 0.5 mm (2.2 s in) it comes to rest on the end stop,
    // where rounding put it a hair below zero. Stops around that moment, and
    // the same towards the open end, all end within the stroke.
    for (const uint8_t direction : {uint8_t{2}, uint8_t{0}}) {
        for (double stopAfterMs = 2190; stopAfterMs <= 2210; stopAfterMs += 0.5) {
            Make(Referenced());
            nowMs = 1000;
            ASSERT_EQ(Status(CMD_GOTO, GotoPayload(direction == 2 ? 110 : 0, 400)), E_CMD_PENDING);
            Advance(1000);
            ASSERT_EQ(Status(CMD_HOMING, {direction}), E_CMD_PENDING);
            nowMs += stopAfterMs;
            ASSERT_EQ(Status(CMD_STOP), E_SUCCESS);
            for (int step = 0; step < 40; ++step) {
                Advance(1);
                const float position = PositionOf(*model);
                ASSERT_TRUE(position >= 0.0f && position <= 110.0f)
                    << position << " mm, direction " << int(direction) << ", stopped after " << stopAfterMs << " ms";
            }
        }
    }
}
