// A flood of unrequested reports (three frames every millisecond, sent from
// another thread) while transactions run, and answers that come behind a
// burst of thousands of reports: every transaction gets its own answer,
// every report is handled in order, and the event loop keeps running timers
// throughout.
#include "RobustTestSupport.h"

#include "FloodPeer.h"

#include "CustomCmdForm.h"
#include "DeviceComponent.h"
#include "FloatEdit.h"
#include "IntegerEdit.h"
#include "MainForm.h"

#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

namespace {

using ReportFloodTest = RobustTest;

// Ticks of a 10 ms timer, or of the flood peer's 1 ms timer, that show it kept
// running: a timer the event loop starves gets none or a few. What a busy
// machine's scheduler lets through beyond that is no matter of these tests.
constexpr int MinTicks = 20;

// Waits until the log holds as many received frames as the peer wrote. The
// bound only limits how long a failing run waits: a sanitizer build on a busy
// machine works off a backlog many times slower than a release build.
bool AllFramesReceived(const TCommLog& log, const TFloodPeer& peer)
{
    return WaitFor([&] { return static_cast<int>(ReceivedFrames(log).size()) >= peer.FramesSent(); }, 60000);
}

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

    // Back to back, so the event loop runs only inside the transactions; on
    // until the timer has ticked often enough to tell, however busy the
    // machine (a starved timer never gets there, and the bound ends it).
    QElapsedTimer clock;
    clock.start();
    const int ticksBefore = timerTicks;
    int rounds = 0;
    while (rounds < 20 || clock.elapsed() < 1500 || (timerTicks - ticksBefore < MinTicks && clock.elapsed() < 60000)) {
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

    EXPECT_GE(ticksDuring, MinTicks) << elapsed << " ms";
    EXPECT_GE(peer.Ticks(), MinTicks) << "the flood ran";

    // Every frame the peer wrote was handled, the reports in order.
    ASSERT_TRUE(AllFramesReceived(*Log, peer));
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

TEST_F(ReportFloodTest, AnswerInsideABurstOfReportsArrivesAndNoReportIsLost)
{
    TFloodPeer peer;
    ASSERT_TRUE(peer.Start());
    ASSERT_TRUE(ConnectTo(peer.Port()));
    std::vector<float> positions;
    Gripper->OnPosition = [&](QObject*) { positions.push_back(Gripper->Position()); };
    // Far more reports than the packet queue holds, in the socket before the
    // answer, and as many behind it, which are still coming in when the
    // transaction ends.
    peer.SetBurstAroundAnswer(3000, 3000);
    for (int round = 0; round < 2; ++round) {
        TSystemInfo info;
        ASSERT_EQ(Gripper->GetSystemInfo(info), E_SUCCESS) << round;
        EXPECT_EQ(info.SerialNumber, round + 1);
    }
    ASSERT_TRUE(AllFramesReceived(*Log, peer));
    EXPECT_EQ(ReceivedFrames(*Log).size(), peer.FramesSent());
    ASSERT_EQ(positions.size(), 12000u);
    size_t outOfOrder = 0;
    for (size_t i = 0; i < positions.size(); ++i)
        outOfOrder += positions[i] == static_cast<float>(i + 1) ? 0 : 1;
    EXPECT_EQ(outOfOrder, 0u);
}

TEST_F(ReportFloodTest, BurstBetweenTransactionsSurvivesSlowReportHandling)
{
    // The burst is read in several chunks with the handlers of a whole chunk
    // in between, which here take longer than the gap limit of a frame. The
    // bytes arrived together, so no frame may be cut apart.
    TFloodPeer peer;
    ASSERT_TRUE(peer.Start());
    ASSERT_TRUE(ConnectTo(peer.Port()));
    std::vector<float> positions;
    Gripper->OnPosition = [&](QObject*) {
        positions.push_back(Gripper->Position());
        QElapsedTimer busy;
        busy.start();
        while (busy.nsecsElapsed() < 400000) {
        }
    };
    constexpr int Reports = 2000;
    peer.SendReportBurst(Reports);
    WaitFor([&] { return static_cast<int>(positions.size()) >= Reports; }, 10000);
    Settle(200);
    EXPECT_EQ(static_cast<int>(positions.size()), Reports);
    size_t outOfOrder = 0;
    for (size_t i = 0; i < positions.size(); ++i)
        outOfOrder += positions[i] == static_cast<float>(i + 1) ? 0 : 1;
    EXPECT_EQ(outOfOrder, 0u);
}

TEST_F(ReportFloodTest, MainWindowDisplayFollowsAReportFlood)
{
    // The state reports never carry "Referenced", so each one makes the
    // window ask for the position reports again: a transaction inside the
    // handling of nearly every third packet.
    TFloodPeer peer;
    ASSERT_TRUE(peer.Start());
    Gripper.reset();
    TMainWin window;
    window.show();
    ASSERT_TRUE(Driver.Connect(window, peer.Port()));
    ASSERT_TRUE(window.btnGoto->isEnabled());
    int timerTicks = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++timerTicks; });
    ticker.start();

    // Position requests the window sent.
    int positionRequests = 0;
    const TPacketLogSink logPacket = window.Gripper()->PacketLog;
    window.Gripper()->PacketLog = [&](const TPacket& p, bool received) {
        positionRequests += !received && (p.command & 0xFF) == 0x43 ? 1 : 0;
        if (logPacket)
            logPacket(p, received);
    };

    // A second of flood, and on until the window has asked for the position
    // reports often enough and the timer has ticked, however busy the machine.
    peer.SetFlooding(true);
    QElapsedTimer clock;
    clock.start();
    WaitFor([&] { return clock.elapsed() >= 1000 && positionRequests > 100 && timerTicks >= MinTicks; }, 60000);
    peer.SetFlooding(false);
    const qint64 elapsed = clock.elapsed();
    ASSERT_TRUE(AllFramesReceived(*Log, peer));
    Settle(50);
    ticker.stop();

    EXPECT_GE(timerTicks, MinTicks) << elapsed << " ms";
    EXPECT_GE(peer.Ticks(), MinTicks) << "the flood ran";
    EXPECT_EQ(ReceivedFrames(*Log).size(), peer.FramesSent());
    // The display shows the last report of each kind (answers to the report
    // requests carry only their status).
    auto lastReport = [&](uint8_t command) -> const TPacket* {
        for (int i = Log->PacketCount() - 1; i >= 0; --i) {
            const TPacket& p = Log->StoredPacket(i);
            if ((p.command & PacketReceivedMark) && (p.command & 0xFF) == command && p.ValidLength() == 6)
                return &p;
        }
        return nullptr;
    };
    const TPacket* state = lastReport(0x40);
    const TPacket* position = lastReport(0x43);
    ASSERT_TRUE(state && position);
    uint32_t stateWord = 0;
    float positionValue = 0;
    std::memcpy(&stateWord, &state->data[2], 4);
    std::memcpy(&positionValue, &position->data[2], 4);
    EXPECT_EQ(window.lbSystemstate->text(), QString::asprintf("%.8Xh", stateWord));
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    EXPECT_EQ(window.lbPosition->text(), locale.toString(static_cast<double>(positionValue), 'f', 2) + QStringLiteral(" mm"));
    EXPECT_GT(positionRequests, 100);
    EXPECT_TRUE(window.Disconnect1->isEnabled());
    EXPECT_TRUE(Driver.Messages.empty());
}

TEST_F(ReportFloodTest, MainWindowOutlastsAStateReportFloodWithoutNesting)
{
    // State reports without "Referenced", as fast as the window takes them,
    // for several seconds. Each would ask for the position reports again;
    // asked from inside the previous request's wait, the waits nested until
    // the stack ran out. The peer keeps FloodLead reports ahead of those
    // handled: more bytes than the program may buffer, while the backlog
    // left at the end stays the same whatever the kernel buffers.
    constexpr int FloodLead = 24000;
    constexpr int FloodMs = 4000;
    TFloodPeer peer;
    ASSERT_TRUE(peer.Start());
    Gripper.reset();
    // The log's own cost per packet is not what this looks at.
    Log.reset();
    TMainWin window;
    window.show();
    ASSERT_TRUE(Driver.Connect(window, peer.Port()));
    THXT* gripper = window.Gripper();
    const TNotifyEvent showState = gripper->OnSystemState;
    int stateEvents = 0;
    int deepest = 0;
    gripper->OnSystemState = [&](QObject* sender) {
        ++stateEvents;
        peer.StateReportHandled();
        deepest = std::max(deepest, gripper->TransactionDepth());
        showState(sender);
    };
    TDevice* device = gripper->Dispatcher()->CurrentDevice();
    ASSERT_TRUE(device);
    int timerTicks = 0;
    int32_t mostWaiting = 0;
    QTimer ticker;
    ticker.setInterval(10);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        ++timerTicks;
        mostWaiting = std::max(mostWaiting, device->BytesAvailable());
    });
    ticker.start();

    // A timer ends the flood: it has to run while the reports pour in.
    QElapsedTimer clock;
    bool flooding = true;
    QTimer::singleShot(FloodMs, [&] {
        peer.SetStateFlood(false);
        flooding = false;
    });
    clock.start();
    peer.SetStateFlood(true, FloodLead);
    ASSERT_TRUE(WaitFor([&] { return !flooding && stateEvents >= peer.StateFloodReports(); }, 240000))
        << stateEvents << " of " << peer.StateFloodReports();
    const qint64 elapsed = clock.elapsed();
    ticker.stop();
    std::printf("%d state reports in %lld ms (%lld/s), deepest wait %d, at most %d bytes waiting in the socket\n",
                stateEvents, static_cast<long long>(elapsed), static_cast<long long>(stateEvents * 1000LL / elapsed),
                deepest, mostWaiting);

    EXPECT_EQ(stateEvents, peer.StateFloodReports());
    EXPECT_GT(stateEvents, FloodLead);
    // Reports are handled either between transactions or inside the wait of
    // one position request, never deeper.
    EXPECT_LE(deepest, 1);
    EXPECT_GE(timerTicks, MinTicks) << elapsed << " ms";
    // What the peer sends faster than it is handled stays with TCP, not in
    // the program's memory.
    EXPECT_LE(mostWaiting, 256 * 1024);
    EXPECT_EQ(window.lbSystemstate->text(), QString::asprintf("%.8Xh", peer.LastFloodState()));
    EXPECT_TRUE(window.Disconnect1->isEnabled());
    EXPECT_TRUE(Driver.Messages.empty());
}

TEST_F(ReportFloodTest, AtTheDepthLimitStopsAreStillSentAndRefusalsLeaveHandlersAlone)
{
    // The simulator never answers GET_SYSINFO or STOP (it still stops), so
    // every System Information or Stop waits its full time. Each step runs
    // from a timer started by the step before, inside the wait that step
    // began: eight information requests fill the ordinary depth, then a
    // goto and a command editor send are refused, Fast Stop and its
    // acknowledgement go out at the limit, and twelve Stops go out beyond it.
    ASSERT_TRUE(StartSimulator({"--drop", "GET_SYSINFO,STOP", "--referenced"}));
    Gripper.reset();
    TMainWin window;
    window.show();
    ASSERT_TRUE(Driver.Connect(window, Sim.TcpPort()));
    THXT* gripper = window.Gripper();
    TCustomCmd* editor = window.CustomCmd();
    editor->edID->setText(QStringLiteral("0x50"));
    editor->edPayload->setEditText(QString());

    // A slow goto, still running when its second press is refused.
    window.edGotoPos->SetValue(5);
    window.edGotoSpeed->SetValue(5);
    window.btnGoto->click();
    ASSERT_TRUE(window.AsyncLog->toPlainText().isEmpty());

    std::vector<std::function<void()>> steps;
    for (int i = 0; i < THXT::MaxTransactionDepth; ++i)
        steps.emplace_back([&] { window.GetSystemInfo1->trigger(); });
    steps.emplace_back([&] { window.btnGoto->click(); });
    steps.emplace_back([&] { editor->btnSend->click(); });
    bool fastStopShown = false;
    steps.emplace_back([&] {
        window.btnEmergencyStop->click();
        fastStopShown = window.btnEmergencyStop->isChecked();
    });
    steps.emplace_back([&] { window.EmergencyStopAcknowledge1->trigger(); });
    constexpr int StopPresses = THXT::StopReserve + 4;
    for (int i = 0; i < StopPresses; ++i)
        steps.emplace_back([&] { window.btnStop->click(); });

    std::vector<int> depths;
    std::function<void(size_t)> run = [&](size_t step) {
        if (step + 1 < steps.size())
            QTimer::singleShot(20, &window, [&run, step] { run(step + 1); });
        depths.push_back(gripper->TransactionDepth());
        steps[step]();
    };
    QTimer::singleShot(0, &window, [&] { run(0); });
    ASSERT_TRUE(WaitFor([&] { return depths.size() == steps.size() && gripper->TransactionDepth() == 0; }, 60000));

    // Every step from the goto on ran at the limit or beyond it.
    const int limit = THXT::MaxTransactionDepth;
    EXPECT_EQ(depths[limit], limit);
    EXPECT_EQ(*std::max_element(depths.begin(), depths.end()), limit + THXT::StopReserve);
    auto sent = [&](uint8_t command) {
        int count = 0;
        for (int i = 0; i < Log->PacketCount(); ++i) {
            const TPacket& p = Log->StoredPacket(i);
            count += (p.command & PacketReceivedMark) == 0 && (p.command & 0xFF) == command ? 1 : 0;
        }
        return count;
    };
    EXPECT_EQ(sent(0x21), 1) << "the refused goto was not sent";
    EXPECT_EQ(sent(0x50), limit) << "the refused editor send was not sent";
    EXPECT_EQ(sent(0x23), 1);
    EXPECT_EQ(sent(0x24), 1);
    EXPECT_EQ(sent(0x22), StopPresses);
    EXPECT_TRUE(fastStopShown);
    EXPECT_FALSE(window.btnEmergencyStop->isChecked());

    // The goto that ran kept its handler: Fast Stop ended it, and its line
    // came. The refusals are told in words, without a box.
    const QString results = window.AsyncLog->toPlainText();
    EXPECT_TRUE(results.contains(QStringLiteral("Error while starting to move: Not sent: too many commands are "
                                                 "waiting for their answers.")))
        << results.toStdString();
    EXPECT_TRUE(results.contains(QStringLiteral("Command GOTO finished: %1.").arg(QString::fromStdString(StatusText(E_CMD_ABORTED)))))
        << results.toStdString();
    EXPECT_TRUE(editor->Log->toPlainText().contains(
        QStringLiteral("Sending Command 50h: Not sent: too many commands are waiting for their answers")))
        << editor->Log->toPlainText().toStdString();
    // Stops that waited time out with their box; those sent beyond the
    // reserve wait for nothing and open none.
    EXPECT_EQ(MessagesStartingWith(QStringLiteral("Cannot read system information: no answer from the gripper within 3 s")), limit);
    EXPECT_EQ(MessagesStartingWith(QStringLiteral("Error while stopping: no answer from the gripper within 3 s")), THXT::StopReserve);
    EXPECT_EQ(Driver.Messages.size(), static_cast<size_t>(limit + THXT::StopReserve));
    // Nothing is left over: a normal transaction runs at once afterwards.
    TGraspingStats stats;
    EXPECT_EQ(gripper->GetGraspingStats(stats, false), E_SUCCESS);
    EXPECT_FALSE(gripper->LastTransactionRefused());
}

} // namespace
