// A flood of unrequested reports (three frames every millisecond, sent from
// another thread) while transactions run, and answers that come behind a
// burst of thousands of reports: every transaction gets its own answer,
// every report is handled in order, and the event loop keeps running timers
// throughout.
#include "RobustTestSupport.h"

#include "FloodPeer.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {

using ReportFloodTest = RobustTest;

TEST_F(ReportFloodTest, TransactionsAndTimersKeepGoingUnderAReportFlood)
{
    TFloodPeer peer;
    ASSERT_TRUE(peer.Start());
    ASSERT_TRUE(ConnectTo(peer.Port()));
    std::vector<float> positions;
    Gripper->OnPosition = [&](QObject*) { positions.push_back(Gripper->Position()); };
    int stateEvents = 0;
    Gripper->OnSystemState = [&](QObject*) { ++stateEvents; };
    int timerTicks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++timerTicks; });
    ticker.start();

    peer.SetFlooding(true);
    ASSERT_TRUE(WaitFor([&] { return positions.size() >= 50; }));

    // Back to back, so the event loop runs only inside the transactions.
    QElapsedTimer clock;
    clock.start();
    const int ticksBefore = timerTicks;
    int rounds = 0;
    while (rounds < 20 || clock.elapsed() < 1500) {
        TSystemInfo info;
        ASSERT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS) << rounds;
        EXPECT_EQ(info.SerialNumber, rounds + 1);
        ASSERT_EQ(Gripper->Stop(), E_SUCCESS) << rounds;
        ++rounds;
    }
    const qint64 elapsed = clock.elapsed();
    const int ticksDuring = timerTicks - ticksBefore;
    peer.SetFlooding(false);
    ticker.stop();

    // A 10 ms timer fires far more often than this even on a busy machine.
    EXPECT_GE(ticksDuring, std::max<qint64>(10, elapsed / 10 / 5)) << elapsed << " ms";
    EXPECT_GT(peer.Ticks(), 100);

    // Every frame the peer wrote was handled, the reports in order.
    ASSERT_TRUE(WaitFor([&] { return static_cast<int>(ReceivedFrames(*Log).size()) >= peer.FramesSent(); }));
    Settle(50);
    EXPECT_EQ(ReceivedFrames(*Log).size(), peer.FramesSent());
    ASSERT_FALSE(positions.empty());
    size_t outOfOrder = 0;
    for (size_t i = 0; i < positions.size(); ++i)
        outOfOrder += positions[i] == static_cast<float>(i + 1) ? 0 : 1;
    EXPECT_EQ(outOfOrder, 0u) << positions.size() << " position reports";
    EXPECT_EQ(static_cast<int>(positions.size()), 2 * stateEvents);
    EXPECT_EQ(Gripper->SystemState(), static_cast<uint32_t>(positions.size()));
    EXPECT_TRUE(Driver.Messages.empty());
}

TEST_F(ReportFloodTest, AnswerBehindABurstOfReportsArrivesAndNoReportIsLost)
{
    TFloodPeer peer;
    ASSERT_TRUE(peer.Start());
    ASSERT_TRUE(ConnectTo(peer.Port()));
    std::vector<float> positions;
    Gripper->OnPosition = [&](QObject*) { positions.push_back(Gripper->Position()); };
    // Far more reports than the packet queue holds, all in the socket before
    // the answer.
    peer.SetBurstBeforeAnswer(3000);
    for (int round = 0; round < 2; ++round) {
        TSystemInfo info;
        ASSERT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS) << round;
        EXPECT_EQ(info.SerialNumber, round + 1);
    }
    ASSERT_TRUE(WaitFor([&] { return static_cast<int>(ReceivedFrames(*Log).size()) >= peer.FramesSent(); }));
    EXPECT_EQ(ReceivedFrames(*Log).size(), peer.FramesSent());
    ASSERT_EQ(positions.size(), 6000u);
    size_t outOfOrder = 0;
    for (size_t i = 0; i < positions.size(); ++i)
        outOfOrder += positions[i] == static_cast<float>(i + 1) ? 0 : 1;
    EXPECT_EQ(outOfOrder, 0u);
}

} // namespace
