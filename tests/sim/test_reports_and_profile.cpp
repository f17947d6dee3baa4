// Automatic reports of one connection and the trapezoidal motion profile.
#include "ModelFixture.h"
#include "MotionProfile.h"
#include "SimEndpoint.h"

#include "HXT_commands.h"

#include <cmath>
#include <random>

namespace {

void PutFloatAt(TByteArray& bytes, size_t at, float value)
{
    const auto b = SingleToBytes(value);
    std::copy(b.begin(), b.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

class ReportFixture : public ModelFixture {
protected:
    void SetUp() override
    {
        Make(Referenced());
        endpoint = std::make_unique<TSimEndpoint>(*model, Client);
    }

    TPacket Ask(uint8_t command, const TByteArray& payload)
    {
        return endpoint->Handle(TPacket{command, static_cast<int32_t>(payload.size()), payload});
    }

    // Runs for ms in 5 ms ticks and returns (time since start, command) of every report.
    std::vector<std::pair<double, uint8_t>> Run(double ms)
    {
        std::vector<std::pair<double, uint8_t>> out;
        const double start = nowMs;
        for (double t = 0; t < ms; t += 5) {
            Advance(5);
            for (const TPacket& p : endpoint->DueReports()) {
                EXPECT_EQ(WordAt(p.data.data()), E_SUCCESS);
                out.emplace_back(nowMs - start, static_cast<uint8_t>(p.command));
            }
        }
        return out;
    }

    std::unique_ptr<TSimEndpoint> endpoint;
};

} // namespace

TEST_F(ReportFixture, ReportRequestAnswersWithTheCurrentValue)
{
    const TPacket state = Ask(CMD_GET_SYSTEM_STATE, {0x03, 0x32, 0x00});
    ASSERT_EQ(state.data.size(), 6u);
    EXPECT_EQ(WordAt(state.data.data()), E_SUCCESS);
    EXPECT_EQ(IntAt(state.data.data() + 2), int32_t(TGripperModel::FlagReferenced));
    const TPacket grasp = Ask(CMD_GET_GRASPING_STATE, {0x03, 0x32, 0x00});
    EXPECT_EQ(grasp.data, (TByteArray{0, 0, TGripperModel::GS_IDLE}));
    const TPacket pos = Ask(CMD_GET_POS, {});
    ASSERT_EQ(pos.data.size(), 6u);
    EXPECT_FLOAT_EQ(SingleAt(pos.data.data() + 2), 55.0f);
}

TEST_F(ReportFixture, PeriodicReportsComeAtTheirPeriod)
{
    ASSERT_EQ(WordAt(Ask(CMD_GET_POS, {0x01, 0x64, 0x00}).data.data()), E_SUCCESS); // every 100 ms
    ASSERT_EQ(WordAt(Ask(CMD_GET_FORCE, {0x01, 0x32, 0x00}).data.data()), E_SUCCESS); // every 50 ms
    const auto reports = Run(1000);
    int pos = 0, force = 0;
    for (const auto& [at, cmd] : reports) {
        if (cmd == CMD_GET_POS)
            EXPECT_NEAR(at, 100.0 * ++pos, 5.0);
        else if (cmd == CMD_GET_FORCE)
            EXPECT_NEAR(at, 50.0 * ++force, 5.0);
        else
            ADD_FAILURE() << "unexpected report " << int(cmd);
    }
    EXPECT_EQ(pos, 10);
    EXPECT_EQ(force, 20);

    ASSERT_EQ(WordAt(Ask(CMD_GET_POS, {0x00, 0x00, 0x00}).data.data()), E_SUCCESS);
    for (const auto& [at, cmd] : Run(300))
        EXPECT_EQ(cmd, CMD_GET_FORCE) << "position reports were switched off";
}

TEST_F(ReportFixture, OnlyChangedValuesAreReportedWhenAskedSo)
{
    ASSERT_EQ(WordAt(Ask(CMD_GET_POS, {0x03, 0x0A, 0x00}).data.data()), E_SUCCESS);
    EXPECT_TRUE(Run(200).empty()) << "the fingers stand still";
    ASSERT_EQ(Status(CMD_GOTO, GotoPayload(45, 100)), E_CMD_PENDING);
    const auto moving = Run(300);
    EXPECT_GE(moving.size(), 8u);
    EXPECT_LE(moving.size(), 16u);
    EXPECT_TRUE(Run(200).empty()) << "arrived, no change any more";
}

TEST_F(ReportFixture, BadReportRequestsAreRefused)
{
    EXPECT_EQ(WordAt(Ask(CMD_GET_POS, {0x01, 0x05, 0x00}).data.data()), E_RANGE_ERROR);
    EXPECT_EQ(WordAt(Ask(CMD_GET_POS, {0x01, 0x05}).data.data()), E_CMD_FORMAT_ERROR);
    EXPECT_EQ(Ask(CMD_GET_POS, {0x01, 0x05, 0x00}).data.size(), 2u);
    EXPECT_TRUE(Run(100).empty());
}

TEST(MotionProfile, TrapezoidKeepsSpeedAndAccelerationLimits)
{
    const double a = 2000, vmax = 150;
    const TMotionProfile p(10, 0, 100, vmax, a);
    // 90 mm: ramps of 75 ms and 5.625 mm, cruise of 78.75 mm.
    EXPECT_NEAR(p.Duration(), 0.075 * 2 + 78.75 / 150, 1e-9);
    double lastV = 0;
    for (double t = 0; t <= p.Duration(); t += 0.001) {
        const double v = p.SpeedAt(t);
        EXPECT_LE(v, vmax + 1e-9);
        EXPECT_GE(v, -1e-9);
        EXPECT_LE(std::fabs(v - lastV), a * 0.001 + 1e-6) << "at " << t;
        lastV = v;
    }
    EXPECT_DOUBLE_EQ(p.PositionAt(p.Duration()), 100);
    EXPECT_DOUBLE_EQ(p.PositionAt(99), 100);
    EXPECT_EQ(p.SpeedAt(p.Duration()), 0);
}

TEST(MotionProfile, ShortMoveIsATriangle)
{
    const TMotionProfile p(0, 0, 1, 400, 1000);
    // Peak at sqrt(a d) = 31.6 mm/s, far below the travel speed.
    EXPECT_NEAR(p.Duration(), 2 * std::sqrt(1.0 / 1000), 1e-9);
    EXPECT_NEAR(p.SpeedAt(p.Duration() / 2), std::sqrt(1000.0), 1e-6);
}

TEST(MotionProfile, MovingTheWrongWayBrakesAndComesBack)
{
    const TMotionProfile p(50, 100, 40, 100, 1000);
    // Brakes 0.1 s (5 mm further to 55), then travels 15 mm back.
    EXPECT_NEAR(p.PositionAt(0.1), 55, 1e-9);
    EXPECT_NEAR(p.SpeedAt(0.1), 0, 1e-9);
    EXPECT_LT(p.SpeedAt(0.15), 0);
    EXPECT_DOUBLE_EQ(p.PositionAt(p.Duration()), 40);
    // Overshooting: too fast to stop within 1 mm, it passes and returns.
    const TMotionProfile q(0, 100, 1, 100, 1000);
    EXPECT_NEAR(q.PositionAt(0.1), 5, 1e-9);
    EXPECT_DOUBLE_EQ(q.PositionAt(q.Duration()), 1);
}

TEST(MotionProfile, BrakingStopsAfterTheBrakingDistance)
{
    const TMotionProfile p = TMotionProfile::Braking(20, -60, 1200);
    EXPECT_NEAR(p.Duration(), 0.05, 1e-12);
    EXPECT_NEAR(p.PositionAt(1), 20 - 1.5, 1e-9);
    EXPECT_EQ(p.SpeedAt(1), 0);
}

TEST_F(ReportFixture, RandomRequestsAlwaysGetAWellFormedAnswer)
{
    std::mt19937 random(3);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 20);
    for (int i = 0; i < 20000; ++i) {
        // Command bytes around the table with payloads of every short length,
        // and motion requests of the right length with plausible values.
        static constexpr std::pair<uint8_t, size_t> Motions[] = {{CMD_GOTO, 9}, {CMD_GRASP_RAW, 8},
            {CMD_RELEASE_RAW, 8}, {CMD_GRASP_PROFILE, 16}, {CMD_RELEASE_PROFILE, 12}, {CMD_STOP, 0}};
        const bool motion = i % 3 == 0;
        const auto& pick = Motions[static_cast<size_t>(byte(random)) % std::size(Motions)];
        const uint8_t cmd = motion ? pick.first : static_cast<uint8_t>(0x1E + byte(random) % 0x38);
        TByteArray payload(motion ? pick.second : static_cast<size_t>(length(random)));
        for (auto& b : payload)
            b = static_cast<uint8_t>(byte(random));
        if (motion)
            for (size_t at = payload.size() % 4; at + 4 <= payload.size(); at += 4)
                PutFloatAt(payload, at, static_cast<float>(5 + byte(random) % 100));
        const TPacket answer = Ask(cmd, payload);
        ASSERT_EQ(answer.command, cmd);
        ASSERT_GE(answer.length, 2);
        ASSERT_EQ(static_cast<size_t>(answer.length), answer.data.size());
        Advance(byte(random) % 20);
        endpoint->DueReports();
        if (i % 50 == 0)
            Ask(CMD_FAST_STOP_ACK, {'a', 'c', 'k'});
    }
    EXPECT_GT(finals.size(), 100u) << "motions ran";
    for (const TFinal& f : finals)
        EXPECT_EQ(f.origin, Client);
    const float position = SingleAt(model->Reading(CMD_GET_POS).data());
    EXPECT_GE(position, 0.0f);
    EXPECT_LE(position, 110.0f);
}
