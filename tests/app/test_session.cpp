// The whole program against the gripper simulator over TCP on 127.0.0.1,
// driven through the real main window: connect dialogs scripted, message
// boxes recorded.
#include "AppTestSupport.h"
#include "CommLogForm.h"
#include "FindGripperDialog.h"
#include "FloatEdit.h"
#include "HXTForm.h"
#include "HXT_commands.h"
#include "IniFile.h"
#include "ListBoxDialog.h"
#include "MainForm.h"
#include "PlotWindow.h"
#include "Reconnector.h"
#include "SimulatorProcess.h"
#include "ZLBListBox.h"

#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QTcpServer>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <tuple>

namespace {

constexpr int MotionTimeoutMs = 15000;

class SessionTest : public ::testing::Test {
protected:
    // Starts the simulator with `simulatorArgs`, then the command log and the
    // main window.
    void Start(const QStringList& simulatorArgs = {})
    {
        ASSERT_TRUE(Simulator.Start(simulatorArgs)) << Simulator.Errors().toStdString();
        Log = std::make_unique<TCommLog>();
        Window = std::make_unique<TMainWin>();
        Window->show();
    }

    void StartConnected(const QStringList& simulatorArgs = {})
    {
        Start(simulatorArgs);
        ASSERT_TRUE(Driver.Connect(*Window, Simulator.TcpPort())) << MessageTexts().toStdString();
    }

    void TearDown() override
    {
        Window.reset();
        Log.reset();
        Simulator.Stop();
    }

    QString MessageTexts() const
    {
        QStringList texts;
        for (const TRecordedMessage& m : Driver.Messages)
            texts << m.text;
        return texts.join(QLatin1Char('|'));
    }

    bool WaitForLogLine(const QString& line, int timeoutMs = MotionTimeoutMs)
    {
        return WaitFor([&] { return Window->AsyncLog->toPlainText().split(QLatin1Char('\n')).contains(line); },
                       timeoutMs);
    }

    bool WaitForFlag(const QString& text, bool ticked, int timeoutMs = MotionTimeoutMs)
    {
        return WaitFor(
            [&] {
                for (QCheckBox* box : Window->FlagBoxes())
                    if (box->text() == text)
                        return box->isChecked() == ticked;
                return false;
            },
            timeoutMs);
    }

    // Sent packets of the command log with this command byte.
    int SentCount(uint8_t command) const
    {
        int count = 0;
        for (int i = 0; i < Log->PacketCount(); ++i) {
            const TPacket& p = Log->StoredPacket(i);
            if ((p.command & PacketReceivedMark) == 0 && (p.command & 0xFF) == command)
                ++count;
        }
        return count;
    }

    // Command bytes of the sent packets, in order.
    std::vector<int> SentCommands() const
    {
        std::vector<int> commands;
        for (int i = 0; i < Log->PacketCount(); ++i) {
            const TPacket& p = Log->StoredPacket(i);
            if ((p.command & PacketReceivedMark) == 0)
                commands.push_back(static_cast<int>(p.command & 0xFF));
        }
        return commands;
    }

    void Home()
    {
        Window->Homing1->trigger();
        ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command HOMING finished: No error.")));
    }

    TAppDriver Driver;
    TSimulatorProcess Simulator;
    std::unique_ptr<TCommLog> Log;
    std::unique_ptr<TMainWin> Window;
};

TEST_F(SessionTest, ConnectAppliesTheGripperLimits)
{
    StartConnected({QStringLiteral("--stroke"), QStringLiteral("40")});
    TMainWin& w = *Window;
    EXPECT_FALSE(w.Connect1->isEnabled());
    EXPECT_TRUE(w.Disconnect1->isEnabled());
    EXPECT_TRUE(w.btnGoto->isEnabled());
    EXPECT_TRUE(w.btnEmergencyStop->isEnabled());
    EXPECT_EQ(Driver.DialogRuns, 2); // interface and host dialogs
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();

    EXPECT_EQ(w.edGotoPos->toolTip(), QStringLiteral("Input range: 0.00 to 40.00 mm"));
    EXPECT_EQ(w.edGotoSpeed->toolTip(), QStringLiteral("Input range: 5.00 to 420.00 mm/s"));
    EXPECT_EQ(w.edForce->toolTip(), QStringLiteral("Input range: 5.00 to 80.00 N"));
    EXPECT_EQ(w.edAcc->toolTip(), QString::fromUtf8("Input range: 100.00 to 5000.00 mm/s²"));
    // 50 mm does not fit the stroke of 40 mm: it takes its minimum. The
    // acceleration shows what the gripper runs with (half its maximum). The
    // rest keep their values.
    EXPECT_EQ(w.edGotoPos->text(), QStringLiteral("0"));
    EXPECT_EQ(w.edReleasePos->text(), QStringLiteral("0"));
    EXPECT_EQ(w.edAcc->text(), QStringLiteral("2500"));
    EXPECT_EQ(w.edGraspingPos->text(), QStringLiteral("8"));
    EXPECT_EQ(w.edGotoSpeed->text(), QStringLiteral("50"));
    // Edits that stay valid keep their track bars where they were; the
    // force limit read back from the gripper (40 N) moves its track bar.
    EXPECT_EQ(w.tbGraspingPos->value(), 95);
    EXPECT_EQ(w.tbGotoSpeed->value(), 828);
    EXPECT_EQ(w.edForce->text(), QStringLiteral("40"));
    EXPECT_EQ(w.tbForce->value(), 467);
    EXPECT_EQ(w.tbGotoPos->value(), 0);

    // The automatic reports were asked for once each.
    EXPECT_EQ(SentCount(CMD_GET_SYSTEM_STATE), 1);
    EXPECT_EQ(SentCount(CMD_GET_GRASPING_STATE), 1);
    EXPECT_GE(SentCount(CMD_GET_POS), 1);
}

TEST_F(SessionTest, ReportsDriveTheStateDisplay)
{
    StartConnected({QStringLiteral("--start-pos"), QStringLiteral("33")});
    TMainWin& w = *Window;
    EXPECT_TRUE(WaitFor([&] { return w.lbSystemstate->text() == QStringLiteral("00000000h"); }));
    EXPECT_TRUE(WaitFor([&] { return w.lbGraspingState->text() == QStringLiteral("idle"); }));
    EXPECT_TRUE(WaitFor([&] { return w.lbPosition->text() == QStringLiteral("33.00 mm"); }));

    Home();
    EXPECT_TRUE(WaitForFlag(QStringLiteral("Referenced"), true));
    EXPECT_TRUE(WaitFor([&] { return w.lbSystemstate->text().endsWith(QStringLiteral("1h")); }));
}

TEST_F(SessionTest, GotoRunsUntilItsFinalResult)
{
    StartConnected({QStringLiteral("--referenced")});
    TMainWin& w = *Window;
    w.edGotoPos->SetValue(72.5);
    w.edGotoSpeed->SetValue(200);
    w.btnGoto->click();
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
    ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command GOTO finished: No error.")));
    EXPECT_EQ(w.AsyncLog->toPlainText(), QStringLiteral("Command GOTO finished: No error."));
    EXPECT_TRUE(WaitFor([&] { return w.lbPosition->text() == QStringLiteral("72.50 mm"); }));
    EXPECT_TRUE(Driver.Messages.empty());
}

TEST_F(SessionTest, GraspAndReleaseAPart)
{
    StartConnected({QStringLiteral("--referenced"), QStringLiteral("--part-width"), QStringLiteral("30")});
    TMainWin& w = *Window;
    w.edGraspingPos->SetValue(20);
    w.btnGrasp->click();
    ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command GRASP_RAW finished: No error.")));
    EXPECT_TRUE(WaitFor([&] { return w.lbGraspingState->text() == QStringLiteral("holding"); }));
    w.btnRelease->click();
    ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command RELEASE_RAW finished: No error.")));
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
}

TEST_F(SessionTest, RefusedCommandsShowTheirError)
{
    StartConnected({QStringLiteral("--referenced"), QStringLiteral("--force-status"),
                    QStringLiteral("GRASP_RAW=E_AXIS_BLOCKED"), QStringLiteral("--force-status"),
                    QStringLiteral("SET_ACCELERATION=E_RANGE_ERROR")});
    TMainWin& w = *Window;
    w.btnGrasp->click();
    w.btnApplyAcc->click();
    w.btnApplyForce->click();
    EXPECT_EQ(MessageTexts(), QStringLiteral("Error while starting to grasp: Axis is blocked|"
                                             "Error while setting acceleration: Range error"));
    // A grasp refused at once leaves no result to wait for, only the line
    // that says it was refused.
    QTest::qWait(300);
    EXPECT_EQ(w.AsyncLog->toPlainText(), QStringLiteral("Command GRASP_RAW refused: Axis is blocked."));
}

TEST_F(SessionTest, StopWithoutAnswerTimesOut)
{
    StartConnected({QStringLiteral("--drop"), QStringLiteral("STOP")});
    Window->btnStop->click();
    // Nothing came back: said so, and the STOP is not called refused.
    EXPECT_EQ(MessageTexts(), QStringLiteral("Error while stopping: no answer from the gripper within 3 s"));
    EXPECT_EQ(Window->AsyncLog->toPlainText(), QStringLiteral("Command STOP got no answer."));
    EXPECT_TRUE(Window->Gripper()->IsConnected());
}

TEST_F(SessionTest, AMotionWithoutItsFirstAnswerIsStopped)
{
    StartConnected({QStringLiteral("--referenced"), QStringLiteral("--drop"), QStringLiteral("GOTO")});
    Window->btnGoto->click();
    EXPECT_EQ(MessageTexts(), QStringLiteral("Error while starting to move: no answer from the gripper within 3 s"));
    EXPECT_EQ(Window->AsyncLog->toPlainText(),
              QStringLiteral("Command GOTO got no answer: STOP sent because the command got no answer."));
    const std::vector<int> sent = SentCommands();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[sent.size() - 2], CMD_GOTO);
    EXPECT_EQ(sent.back(), CMD_STOP);
}

TEST_F(SessionTest, FastStopAndAcknowledge)
{
    StartConnected({QStringLiteral("--referenced")});
    TMainWin& w = *Window;
    QTest::mouseClick(w.btnEmergencyStop, Qt::LeftButton);
    EXPECT_TRUE(w.btnEmergencyStop->isChecked());
    EXPECT_TRUE(WaitForFlag(QStringLiteral("Fast stop"), true));
    EXPECT_TRUE(w.btnEmergencyStop->isChecked());

    // Motion is refused until the fast stop is acknowledged.
    w.btnGoto->click();
    EXPECT_EQ(MessageTexts(), QStringLiteral("Error while starting to move: Access denied\n"
                                             "The gripper is in fast stop: acknowledge it with Commands > "
                                             "Acknowledge an Emergency Stop."));

    // With "Times in results" (remembered) the lines carry the time.
    w.TimesInResults1->trigger();
    w.EmergencyStopAcknowledge1->trigger();
    EXPECT_FALSE(w.btnEmergencyStop->isChecked());
    EXPECT_TRUE(WaitForFlag(QStringLiteral("Fast stop"), false));
    EXPECT_FALSE(w.btnEmergencyStop->isChecked());

    // The fast stop, the refused motion and the acknowledgement are in the
    // results too.
    const QStringList results = w.AsyncLog->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(results.size(), 3) << w.AsyncLog->toPlainText().toStdString();
    EXPECT_EQ(results[0], QStringLiteral("Command FAST_STOP finished: No error."));
    EXPECT_EQ(results[1], QStringLiteral("Command GOTO refused: Access denied."));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3} Command FAST_STOP_ACK finished: No error\\.$"))
                    .match(results[2])
                    .hasMatch())
        << results[2].toStdString();
    Window.reset();
    Window = std::make_unique<TMainWin>();
    EXPECT_TRUE(Window->TimesInResults1->isChecked());
}

TEST_F(SessionTest, DetailsInResultsGiveTheFinalPositionOrWidthAndTheDuration)
{
    StartConnected({QStringLiteral("--referenced"), QStringLiteral("--part-width"), QStringLiteral("30")});
    TMainWin& w = *Window;
    EXPECT_FALSE(w.DetailsInResults1->isChecked()) << "off by default";
    w.DetailsInResults1->trigger();
    w.edGotoPos->SetValue(72.5);
    w.btnGoto->click();
    const QRegularExpression gotoLine(
        QStringLiteral("^Command GOTO finished: No error\\. Position 72\\.50 mm after (\\d+\\.\\d\\d) s\\.$"));
    ASSERT_TRUE(WaitFor([&] { return gotoLine.match(w.AsyncLog->toPlainText()).hasMatch(); }, MotionTimeoutMs))
        << w.AsyncLog->toPlainText().toStdString();
    EXPECT_GT(gotoLine.match(w.AsyncLog->toPlainText()).captured(1).toDouble(), 0.0);

    w.edGraspingPos->SetValue(20);
    w.btnGrasp->click();
    const QRegularExpression graspLine(
        QStringLiteral("\\nCommand GRASP_RAW finished: No error\\. Width 30\\.00 mm after \\d+\\.\\d\\d s\\.$"));
    EXPECT_TRUE(WaitFor([&] { return graspLine.match(w.AsyncLog->toPlainText()).hasMatch(); }, MotionTimeoutMs))
        << w.AsyncLog->toPlainText().toStdString();

    // Remembered; turned off, the line is the plain one again.
    Window.reset();
    Window = std::make_unique<TMainWin>();
    EXPECT_TRUE(Window->DetailsInResults1->isChecked());
    Window->DetailsInResults1->trigger();
    ASSERT_TRUE(Driver.Connect(*Window, Simulator.TcpPort()));
    Window->btnRelease->click();
    EXPECT_TRUE(WaitForLogLine(QStringLiteral("Command RELEASE_RAW finished: No error.")));
}

TEST_F(SessionTest, EnterInAValueFieldPressesItsPanelsButton)
{
    StartConnected({QStringLiteral("--referenced")});
    TMainWin& w = *Window;
    w.edGotoPos->clear();
    QTest::keyClicks(w.edGotoPos, QStringLiteral("30"));
    QTest::keyClick(w.edGotoPos, Qt::Key_Return);
    ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command GOTO finished: No error.")));
    EXPECT_TRUE(WaitFor([&] { return w.lbPosition->text() == QStringLiteral("30.00 mm"); }));

    // A value outside the gripper's range sends nothing.
    const int gotos = SentCount(CMD_GOTO);
    w.edGotoSpeed->setText(QStringLiteral("100000"));
    QTest::keyClick(w.edGotoSpeed, Qt::Key_Enter);
    QTest::qWait(200);
    EXPECT_EQ(SentCount(CMD_GOTO), gotos);

    QTest::keyClick(w.edAcc, Qt::Key_Return);
    EXPECT_EQ(SentCount(CMD_SET_ACCELERATION), 1);
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
}

TEST_F(SessionTest, HomingAndAcknowledgeHaveKeys)
{
    StartConnected();
    TMainWin& w = *Window;
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_H, Qt::ControlModifier);
    ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command HOMING finished: No error.")));

    QTest::mouseClick(w.btnEmergencyStop, Qt::LeftButton);
    ASSERT_TRUE(WaitForFlag(QStringLiteral("Fast stop"), true));
    QTest::keyClick(&w, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(WaitForFlag(QStringLiteral("Fast stop"), false));

    // Esc stops the fingers, as the Stop button's tooltip says.
    EXPECT_EQ(w.btnStop->toolTip(), QStringLiteral("Stops the movement of the fingers (Esc)"));
    const int stops = SentCount(CMD_STOP);
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_TRUE(WaitFor([&] { return SentCount(CMD_STOP) == stops + 1; }));
}

TEST_F(SessionTest, FastStopHasAKeyNamedInItsTooltip)
{
    StartConnected({QStringLiteral("--referenced")});
    TMainWin& w = *Window;
    EXPECT_EQ(w.btnEmergencyStop->toolTip(),
              QStringLiteral("Stops the fingers at once; acknowledge from the Commands menu (Ctrl+Shift+F)"));
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    // A key without both modifiers does nothing.
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_F, Qt::ShiftModifier);
    EXPECT_EQ(SentCount(CMD_FAST_STOP), 0);
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier | Qt::ShiftModifier);
    // Sent at once, not when a pressed look ends.
    EXPECT_EQ(SentCount(CMD_FAST_STOP), 1);
    EXPECT_TRUE(w.btnEmergencyStop->isChecked());
    EXPECT_TRUE(WaitForFlag(QStringLiteral("Fast stop"), true));
    EXPECT_TRUE(WaitForLogLine(QStringLiteral("Command FAST_STOP finished: No error.")));
}

TEST_F(SessionTest, FindAGripperListsWhatAnsweredAndConnectsToTheChosenOne)
{
    Start();
    TMainWin& w = *Window;
    // A port nobody listens on, beside the simulator.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QString nobody = QStringLiteral("tcp:127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    const QString simulator = QStringLiteral("tcp:127.0.0.1:%1").arg(Simulator.TcpPort());
    w.FindGripperOptions.SystemPorts = false;
    w.FindGripperOptions.Connections = {nobody, simulator};
    QStringList rows;
    Driver.OtherDialog = [&](QDialog& dialog) {
        auto* find = qobject_cast<TFindGripperDlg*>(&dialog);
        if (!find)
            return int(QDialog::Rejected);
        EXPECT_TRUE(WaitFor([&] { return !find->Searching(); }, 10000));
        for (int i = 0; i < find->lvFound->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* row = find->lvFound->topLevelItem(i);
            rows << row->text(0) + QLatin1Char(';') + row->text(1);
        }
        EXPECT_EQ(find->lbStatus->text(), QStringLiteral("One gripper answered; choose one to connect to."));
        EXPECT_EQ(find->Chosen(), simulator) << "the gripper found is chosen first";
        EXPECT_TRUE(find->btnConnect->isEnabled());
        find->btnConnect->click();
        return find->result();
    };
    w.FindGripper1->trigger();
    EXPECT_EQ(rows, (QStringList{simulator + QStringLiteral(";12345678"), nobody + QStringLiteral(";not reachable")}));
    ASSERT_TRUE(WaitFor([&] { return w.Disconnect1->isEnabled(); }));
    EXPECT_TRUE(w.btnGoto->isEnabled());
    EXPECT_EQ(Driver.DialogRuns, 1) << "no interface dialog: the found connection's settings are used";
    ASSERT_TRUE(w.Reconnector()->LastConnection().has_value());
    const auto* tcp = std::get_if<TTCPParams>(&*w.Reconnector()->LastConnection());
    ASSERT_NE(tcp, nullptr);
    EXPECT_EQ(tcp->Port, Simulator.TcpPort());
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
}

TEST_F(SessionTest, KeyboardShortcutsListsEveryShortcut)
{
    Start();
    TMainWin& w = *Window;
    QStringList rows;
    Driver.OtherDialog = [&](QDialog& dialog) {
        if (auto* list = qobject_cast<TListBoxDlg*>(&dialog)) {
            EXPECT_EQ(list->windowTitle(), QStringLiteral("Keyboard shortcuts"));
            rows = list->ListBox->Items();
        }
        return int(QDialog::Accepted);
    };
    w.KeyboardShortcuts1->trigger();
    for (const QAction* action : w.findChildren<QAction*>()) {
        if (!action->shortcut().isEmpty())
            EXPECT_TRUE(rows.filter(action->shortcut().toString(QKeySequence::NativeText) + QLatin1Char(';')).size() == 1)
                << action->text().toStdString() << " missing in " << rows.join(QLatin1Char('|')).toStdString();
    }
    for (const QString& row : {QStringLiteral("Ctrl+H;Commands > Homing"),
                               QStringLiteral("Ctrl+Shift+A;Commands > Acknowledge an Emergency Stop"),
                               QStringLiteral("Esc;Stop button"), QStringLiteral("Alt+R;Release button"),
                               QStringLiteral("Ctrl+Shift+F;Fast Stop! button")})
        EXPECT_TRUE(rows.contains(row)) << row.toStdString();
    // Alt+G is shared by Goto, Grasp and the Gripper menu: it presses none
    // of them, so neither tooltips nor the list claim it.
    EXPECT_FALSE(w.btnGoto->toolTip().contains(QStringLiteral("Alt+G")));
    EXPECT_TRUE(rows.filter(QStringLiteral("Alt+G")).isEmpty());
}

TEST_F(SessionTest, FailedFastStopLeavesTheButtonReleased)
{
    StartConnected({QStringLiteral("--force-status"), QStringLiteral("FAST_STOP=E_ACCESS_DENIED")});
    QTest::mouseClick(Window->btnEmergencyStop, Qt::LeftButton);
    EXPECT_FALSE(Window->btnEmergencyStop->isChecked());
    EXPECT_TRUE(Driver.Messages.empty());
}

TEST_F(SessionTest, UnreadableLimitsLeaveTheProgramDisconnected)
{
    Start({QStringLiteral("--force-status"), QStringLiteral("GET_SYSTEM_LIMITS=E_ACCESS_DENIED")});
    TMainWin& w = *Window;
    EXPECT_FALSE(Driver.Connect(w, Simulator.TcpPort()));
    EXPECT_EQ(MessageTexts(), QStringLiteral("Unable to retreive gripper limits.\n"
                                             "Please try again by selecting \"Gripper|Connect\" from the menu."));
    EXPECT_FALSE(w.Gripper()->IsConnected());
    EXPECT_TRUE(w.Connect1->isEnabled());
    EXPECT_FALSE(w.Disconnect1->isEnabled());
    EXPECT_FALSE(w.btnGoto->isEnabled());
    EXPECT_FALSE(w.btnEmergencyStop->isEnabled());
    EXPECT_EQ(w.lbSystemstate->text(), QStringLiteral("[n/a]"));
    // The report requests failed at once: nothing was sent after the limits.
    EXPECT_EQ(SentCount(CMD_GET_SYSTEM_STATE), 0);
}

TEST_F(SessionTest, PositionReportsAreRequestedAgainUnlessStillReferenced)
{
    // Without state reports from the simulator the window sees only the
    // reports handed to it here.
    Start({QStringLiteral("--drop"), QStringLiteral("GET_SYSTEM_STATE")});
    ASSERT_TRUE(Driver.Connect(*Window, Simulator.TcpPort()));
    const auto report = [](uint8_t state) {
        TPacket p;
        p.command = CMD_GET_SYSTEM_STATE;
        p.data = {0, 0, state, 0, 0, 0};
        p.length = 6;
        return p;
    };
    const int before = SentCount(CMD_GET_POS);
    std::vector<int> requests;
    for (uint8_t state : {0, 0, 1, 1}) {
        Window->Gripper()->HandlePacket(report(state));
        const int expected = SentCount(CMD_GET_POS);
        WaitFor([&] { return SentCount(CMD_GET_POS) > expected; }, 400);
        requests.push_back(SentCount(CMD_GET_POS) - before);
    }
    EXPECT_EQ(requests, (std::vector<int>{0, 1, 2, 2}));
}

TEST_F(SessionTest, InformationDialogsShowTheGripperData)
{
    StartConnected({QStringLiteral("--serial"), QStringLiteral("1234"), QStringLiteral("--max-speed"),
                    QStringLiteral("400.4"), QStringLiteral("--referenced"), QStringLiteral("--part-width"),
                    QStringLiteral("30")});
    QStringList captions;
    QList<QStringList> contents;
    Driver.OtherDialog = [&](QDialog& dialog) {
        auto* list = qobject_cast<TListBoxDlg*>(&dialog);
        EXPECT_NE(list, nullptr);
        if (list) {
            captions << list->windowTitle();
            contents << list->ListBox->Items();
        }
        return QDialog::Rejected;
    };

    Window->GetSystemInfo1->trigger();
    Window->GetSystemLimits1->trigger();
    Window->btnGrasp->click();
    ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command GRASP_RAW finished: No error.")));
    Window->GetGraspingStatistics1->trigger();

    EXPECT_EQ(captions, (QStringList{QStringLiteral("System Information"), QStringLiteral("Gripper System Limits"),
                                     QStringLiteral("Grasping Statistics")}));
    ASSERT_EQ(contents.size(), 3);
    EXPECT_EQ(contents[0], (QStringList{QStringLiteral("Gripper type;HXT 50"), QStringLiteral("Serial number;00001234"),
                                        QStringLiteral("Hardware rev.;2"), QStringLiteral("Firmware rev.;259")}));
    EXPECT_EQ(contents[1], (QStringList{QStringLiteral("Stroke;110 mm"), QStringLiteral("Minimum speed;5 mm/s"),
                                        QStringLiteral("Maximum speed;400 mm/s"),
                                        QString::fromUtf8("Minimum acceleration;100 mm/s²"),
                                        QString::fromUtf8("Maximum acceleration;5000 mm/s²"),
                                        QStringLiteral("Minimum force;5 N"), QStringLiteral("Maximum force;80 N")}));
    EXPECT_EQ(contents[2], (QStringList{QStringLiteral("Number of grasps;1"),
                                        QStringLiteral("Number of not found parts;0"),
                                        QStringLiteral("Number of parts lost;0")}));
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
    // The statistics were read, not reset.
    ASSERT_EQ(SentCount(CMD_GET_GRASPING_STATS), 1);
    for (int i = 0; i < Log->PacketCount(); ++i) {
        const TPacket& p = Log->StoredPacket(i);
        if (p.command == CMD_GET_GRASPING_STATS)
            EXPECT_EQ(p.data, TByteArray{0x00});
    }
}

TEST_F(SessionTest, DisconnectReturnsToTheStartUpLook)
{
    StartConnected();
    TMainWin& w = *Window;
    ASSERT_TRUE(WaitFor([&] { return w.lbPosition->text() != QStringLiteral("[n/a]"); }));
    w.Disconnect1->trigger();
    EXPECT_TRUE(WaitFor([&] { return w.Connect1->isEnabled(); }));
    EXPECT_FALSE(w.Disconnect1->isEnabled());
    EXPECT_EQ(w.lbSystemstate->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(w.lbGraspingState->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(w.lbPosition->text(), QStringLiteral("[n/a]"));
    for (QCheckBox* box : w.FlagBoxes())
        EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(w.btnGoto->isEnabled());
    EXPECT_FALSE(w.btnEmergencyStop->isEnabled());

    // And connects again.
    ASSERT_TRUE(Driver.Connect(w, Simulator.TcpPort()));
    EXPECT_TRUE(w.btnGoto->isEnabled());
}

TEST_F(SessionTest, SerialLineToTheSimulatorsTerminal)
{
    // uart.cfg as the run script writes it names the simulator's terminal.
    const QString link = Driver.SettingsFolder() + QStringLiteral("/gripper-tty");
    TIniFile uart(Driver.SettingsFolder() + QStringLiteral("/uart.cfg"));
    ASSERT_TRUE(uart.WriteString(QStringLiteral("Common"), QStringLiteral("Portname"), link));
    Start({QStringLiteral("--pty"), link});
    ASSERT_TRUE(WaitFor([&] { return QFileInfo::exists(link); }));

    Driver.InterfaceChoice = TAppDriver::TInterfaceChoice::Serial;
    ASSERT_TRUE(Driver.Connect(*Window, 0)) << MessageTexts().toStdString();
    EXPECT_EQ(Driver.OfferedPort, link);
    EXPECT_TRUE(Window->btnGoto->isEnabled());
    EXPECT_TRUE(WaitFor([&] { return Window->lbPosition->text() == QStringLiteral("55.00 mm"); }));
}

TEST_F(SessionTest, ConnectReadsBackAccelerationAndForceLimit)
{
    StartConnected({QStringLiteral("--max-accel"), QStringLiteral("3000"), QStringLiteral("--max-force"),
                    QStringLiteral("70")});
    TMainWin& w = *Window;
    // The limits and the three report requests unchanged, then the two readings and the speed
    // and force reports.
    EXPECT_EQ(SentCommands(), (std::vector<int>{CMD_GET_SYSTEM_LIMITS, CMD_GET_SYSTEM_STATE, CMD_GET_GRASPING_STATE,
                                                CMD_GET_POS, CMD_GET_ACCELERATION, CMD_GET_FORCE_LIMIT, CMD_GET_SPEED,
                                                CMD_GET_FORCE}));
    // The simulator starts at half its maxima.
    EXPECT_EQ(w.edAcc->text(), QStringLiteral("1500"));
    EXPECT_EQ(w.edForce->text(), QStringLiteral("35"));
    EXPECT_EQ(w.tbAcc->value(), 483); // (1500 - 100) / (3000 - 100)
    EXPECT_EQ(w.tbForce->value(), 462); // (35 - 5) / (70 - 5)
    EXPECT_TRUE(w.btnApplyAcc->isEnabled());

    // "Apply" now sends what the gripper has, and a changed value reads back
    // after the next connect.
    w.edForce->SetValue(22.5);
    w.btnApplyForce->click();
    w.Disconnect1->trigger();
    ASSERT_TRUE(WaitFor([&] { return w.Connect1->isEnabled(); }));
    w.edForce->SetValue(60);
    ASSERT_TRUE(Driver.Connect(w, Simulator.TcpPort()));
    EXPECT_EQ(w.edForce->text(), QStringLiteral("22.5"));
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
}

TEST_F(SessionTest, RefusedReadingsAndReportsLeaveTheirFieldsAlone)
{
    StartConnected({QStringLiteral("--force-status"), QStringLiteral("GET_ACCELERATION=E_CMD_UNKNOWN"),
                    QStringLiteral("--force-status"), QStringLiteral("GET_SPEED=E_CMD_UNKNOWN"),
                    QStringLiteral("--force-status"), QStringLiteral("GET_FORCE=E_CMD_UNKNOWN")});
    TMainWin& w = *Window;
    // Refused: the design value clamped to the range, as without the reading.
    EXPECT_EQ(w.edAcc->text(), QStringLiteral("100"));
    EXPECT_EQ(w.edForce->text(), QStringLiteral("40"));
    ASSERT_TRUE(WaitFor([&] { return w.lbPosition->text() == QStringLiteral("55.00 mm"); }));
    QTest::qWait(300);
    EXPECT_EQ(w.lbSpeed->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(w.lbForce->text(), QStringLiteral("[n/a]"));
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
}

TEST_F(SessionTest, SpeedForceAndPlotFollowAGotoAndAGrasp)
{
    StartConnected({QStringLiteral("--referenced"), QStringLiteral("--part-width"), QStringLiteral("30")});
    TMainWin& w = *Window;
    TPlotWindow& plot = *w.PlotWindow();
    w.Plot1->trigger();
    EXPECT_TRUE(plot.isVisible());
    w.edGotoPos->SetValue(90);
    w.edGotoSpeed->SetValue(100);
    w.btnGoto->click();
    // Opening: positive speed while moving, then back to rest.
    EXPECT_TRUE(WaitFor([&] { return w.lbSpeed->text() == QStringLiteral("100.00 mm/s"); }));
    ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command GOTO finished: No error.")));
    EXPECT_TRUE(WaitFor([&] { return w.lbSpeed->text() == QStringLiteral("0.00 mm/s"); }));
    EXPECT_TRUE(WaitFor([&] { return w.lbPosition->text() == QStringLiteral("90.00 mm"); }));

    // The plot's data: positions rising from 55 to 90 mm in time order, once
    // a refresh has shown the last of them.
    const auto shownPositions = [&plot]() -> const std::vector<TPlotSample>& {
        return plot.Shown()[static_cast<size_t>(TPlotSignal::Position)];
    };
    EXPECT_TRUE(WaitFor([&] { return !shownPositions().empty() && shownPositions().back().value == 90.0f; }));
    const std::vector<TPlotSample>& positions = shownPositions();
    ASSERT_GE(positions.size(), 5u);
    EXPECT_FLOAT_EQ(positions.front().value, 55.0f);
    EXPECT_FLOAT_EQ(positions.back().value, 90.0f);
    for (size_t i = 1; i < positions.size(); ++i) {
        EXPECT_LE(positions[i - 1].time, positions[i].time);
        EXPECT_LE(positions[i - 1].value, positions[i].value) << "an opening goto never closes";
    }
    plot.ShowCursorAt(positions.back().time);
    EXPECT_TRUE(plot.lbCursor->text().contains(QStringLiteral("position 90.00 mm"))) << plot.lbCursor->text().toStdString();
    const std::vector<TPlotSample>& speeds = plot.Shown()[static_cast<size_t>(TPlotSignal::Speed)];
    ASSERT_FALSE(speeds.empty());
    EXPECT_FLOAT_EQ(std::max_element(speeds.begin(), speeds.end(), [](auto& a, auto& b) {
                        return a.value < b.value;
                    })->value,
                    100.0f);

    // Holding a part: the grasping force shows and is plotted.
    w.edGraspingPos->SetValue(20);
    w.btnGrasp->click();
    ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command GRASP_RAW finished: No error.")));
    EXPECT_TRUE(WaitFor([&] { return w.lbForce->text().startsWith(QStringLiteral("40.")); }));
    EXPECT_TRUE(WaitFor([&] {
        const auto& forces = plot.Shown()[static_cast<size_t>(TPlotSignal::Force)];
        return !forces.empty() && forces.back().value > 39.0f;
    }));

    // Paused, the chart keeps what it showed while the recording goes on.
    plot.cbPause->setChecked(true);
    const size_t shown = plot.Shown()[static_cast<size_t>(TPlotSignal::Position)].size();
    w.btnRelease->click();
    ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command RELEASE_RAW finished: No error.")));
    QTest::qWait(200);
    EXPECT_EQ(plot.Shown()[static_cast<size_t>(TPlotSignal::Position)].size(), shown);
    EXPECT_GT(plot.Data().Ring(TPlotSignal::Position).Size(), shown);

    // Save as CSV writes what the chart shows.
    const QString csvPath = Driver.SettingsFolder() + QStringLiteral("/plot.csv");
    plot.SaveFileDialog = [&](QWidget*, const QString& filter) {
        EXPECT_TRUE(filter.contains(QStringLiteral("*.csv")));
        return csvPath;
    };
    plot.btnSaveCsv->click();
    QFile csv(csvPath);
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(csv.readAll()), PlotCsv(plot.Shown()));
    EXPECT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
}

TEST_F(SessionTest, MotionBeforeHomingSaysToHome)
{
    StartConnected();
    Window->btnGoto->click();
    EXPECT_EQ(MessageTexts(), QStringLiteral("Error while starting to move: The device is not initialized\n"
                                             "The fingers are not referenced yet: run Commands > Homing first."));
}

TEST_F(SessionTest, HandMadeSettingsFilesKeepTheirBytesThroughASession)
{
    const QString folder = Driver.SettingsFolder();
    const auto bytesOf = [](const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const auto write = [](const QString& path, const QByteArray& bytes) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    };
    // A first session leaves the placement this window will save again.
    Start();
    Window.reset();
    const TIniText placement(bytesOf(folder + QStringLiteral("/Analyzer.ini")));
    QByteArray analyzer = "; Fenstergr\xF6\xDF" "e, von Hand gepr\xFC" "ft\r\n[Extra]\r\nName=M\xFC" "ller\r\n\r\n[MainWin]\r\n";
    for (const char* key : {"Left", "Top", "Width", "Height", "State"}) {
        const QString name = QString::fromLatin1(key);
        analyzer += QByteArray(key) + " = " + placement.ReadString(QStringLiteral("MainWin"), name, {}).toUtf8() + "\r\n";
    }
    const QByteArray tcp = "; Greifer in der Halle \xB2\r\n[Common]\r\nHost=127.0.0.1\r\nPort="
        + QByteArray::number(Simulator.TcpPort()) + "\r\n[Notiz]\rText=\xE4\xF6\xFC\r\n";
    write(folder + QStringLiteral("/Analyzer.ini"), analyzer);
    write(folder + QStringLiteral("/tcp.cfg"), tcp);

    const auto session = [&] {
        Window = std::make_unique<TMainWin>();
        Window->show();
        ASSERT_TRUE(Driver.Connect(*Window, Simulator.TcpPort())) << MessageTexts().toStdString();
        Window.reset();
    };
    session();
    EXPECT_EQ(bytesOf(folder + QStringLiteral("/tcp.cfg")), tcp);
    // The program adds its own sections (the last connection, the tool
    // windows) behind what the operator wrote, which stays byte for byte.
    const QByteArray added = bytesOf(folder + QStringLiteral("/Analyzer.ini"));
    EXPECT_TRUE(added.startsWith(analyzer));
    EXPECT_TRUE(added.mid(analyzer.size()).contains("[Connection]"));
    // A second session with the same connection and placement changes nothing.
    session();
    EXPECT_EQ(bytesOf(folder + QStringLiteral("/tcp.cfg")), tcp);
    EXPECT_EQ(bytesOf(folder + QStringLiteral("/Analyzer.ini")), added);
    EXPECT_EQ(MessageTexts(), QString());
}

// The command log of a real session: time and decoded columns, reports
// hidden and a filter while packets keep arriving, and a CSV round trip.
TEST_F(SessionTest, CommandLogReadsFiltersAndKeepsASession)
{
    StartConnected({QStringLiteral("--referenced"), QStringLiteral("--start-pos"), QStringLiteral("33")});
    TMainWin& w = *Window;
    TCommLog& log = *Log;
    const auto gotoAndWait = [&](double position) {
        w.AsyncLog->clear();
        w.edGotoPos->SetValue(position);
        w.edGotoSpeed->SetValue(200);
        w.btnGoto->click();
        ASSERT_TRUE(WaitForLogLine(QStringLiteral("Command GOTO finished: No error.")));
    };
    gotoAndWait(72.5);
    ASSERT_TRUE(WaitFor([&] { return w.lbPosition->text() == QStringLiteral("72.50 mm"); }));
    const auto lines = [&](const TCommLog& l) {
        QStringList all;
        for (int i = 0; i < l.LineCount(); ++i)
            all << l.LineText(i);
        return all;
    };

    log.cbShowIDDescr->setChecked(true);
    log.cbTime->setChecked(true);
    log.cbDecoded->setChecked(true);
    const QStringList decoded = lines(log);
    const auto anyLine = [&](const QString& pattern) {
        const QRegularExpression re(pattern);
        return std::any_of(decoded.begin(), decoded.end(), [&](const QString& l) { return re.match(l).hasMatch(); });
    };
    EXPECT_TRUE(anyLine(QStringLiteral("^\\[ *\\d+ ms\\] \\[\\+ *\\d+\\.\\d ms\\] RX PACKET: ID=53h \\(GET_SYSTEM_LIMITS\\), Length=34: .* = "
                                       "No error; stroke 110.00 mm, min speed 5.00 mm/s, max speed 420.00 mm/s, ")));
    EXPECT_TRUE(anyLine(QStringLiteral("TX PACKET: ID=21h \\(GOTO\\), Length=9: .* = position 72.50 mm, "
                                       "speed 200.00 mm/s$")));
    EXPECT_TRUE(anyLine(QStringLiteral("RX PACKET: ID=21h \\(GOTO\\), Length=2: 1A 00 = Command pending...$")));
    EXPECT_TRUE(anyLine(QStringLiteral("RX PACKET: ID=43h \\(GET_POS\\), .* = No error; position 72.50 mm$")));
    EXPECT_TRUE(anyLine(QStringLiteral("RX PACKET: ID=40h \\(GET_SYSTEM_STATE\\), .* = No error; Referenced, ")));
    EXPECT_TRUE(anyLine(QStringLiteral("RX PACKET: ID=41h \\(GET_GRASPING_STATE\\), .* = No error; grasping state idle$")));
    if (HasFailure())
        std::fprintf(stderr, "%s\n", qPrintable(decoded.join(QLatin1Char('\n'))));
    // Milliseconds since the connect, in logging order.
    qint64 previous = -1;
    for (const QString& line : decoded) {
        const qint64 ms = line.mid(1, line.indexOf(QLatin1String(" ms]")) - 1).trimmed().toLongLong();
        EXPECT_LE(previous, ms) << line.toStdString();
        previous = ms;
    }
    EXPECT_LT(previous, 60000);
    log.miTimeWallClock->trigger();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] \\[\\+ *(--|\\d+\\.\\d) ms\\] TX PACKET: ID=53h"))
                    .match(log.LineText(0))
                    .hasMatch())
        << log.LineText(0).toStdString();

    // Hiding reports leaves requests, their answers and motion results; the
    // stored packets stay.
    const int stored = log.PacketCount();
    log.cbHideReports->setChecked(true);
    const QStringList withoutReports = lines(log);
    EXPECT_LT(withoutReports.size(), stored);
    EXPECT_GE(log.PacketCount(), stored);
    EXPECT_EQ(withoutReports.filter(QStringLiteral("RX PACKET: ID=43h")).size(),
              withoutReports.filter(QStringLiteral("TX PACKET: ID=43h")).size());
    EXPECT_EQ(withoutReports.filter(QStringLiteral("(GOTO)")).size(), 3); // request, pending, result

    // A filter on top; lines logged later are filtered as they come.
    log.edFilter->setText(QStringLiteral("goto"));
    EXPECT_EQ(log.LineCount(), 3);
    gotoAndWait(40);
    const QStringList gotoLines = lines(log);
    ASSERT_EQ(gotoLines.size(), 6);
    for (const QString& line : gotoLines)
        EXPECT_TRUE(line.contains(QStringLiteral("(GOTO)"))) << line.toStdString();
    EXPECT_TRUE(gotoLines[3].endsWith(QStringLiteral("= position 40.00 mm, speed 200.00 mm/s")));
    log.edFilter->clear();
    log.cbHideReports->setChecked(false);
    EXPECT_EQ(log.LineCount(), log.PacketCount());

    // CSV round trip: the packets, directions and times come back, and the
    // opened log reads the same under the same options.
    const QString path = Driver.SettingsFolder() + QStringLiteral("/session.csv");
    log.SaveFileDialog = [&](QWidget*) { return path; };
    const int saved = log.PacketCount();
    log.btnSave->click();
    log.OpenFileDialog = [&](QWidget*) { return path; };
    log.btnOpen->click();
    ASSERT_TRUE(Driver.Messages.empty()) << MessageTexts().toStdString();
    const QList<TCommLog*> opened = log.findChildren<TCommLog*>();
    ASSERT_EQ(opened.size(), 1);
    TCommLog& copy = *opened.front();
    EXPECT_TRUE(copy.isVisible());
    ASSERT_EQ(copy.PacketCount(), saved);
    for (int i = 0; i < saved; ++i) {
        const TLogRecord a = log.Record(i);
        const TLogRecord b = copy.Record(i);
        ASSERT_EQ(std::tie(a.packet.command, a.packet.length, a.packet.data, a.received, a.wallMs, a.sinceConnectUs),
                  std::tie(b.packet.command, b.packet.length, b.packet.data, b.received, b.wallMs, b.sinceConnectUs))
            << "packet " << i;
    }
    EXPECT_TRUE(copy.Options() == log.Options()) << "an opened log starts with the live log's display options";
    copy.miTimeSinceConnect->trigger();
    copy.cbEvaluateErrorCodes->setChecked(true);
    copy.cbDecoded->setChecked(true);
    copy.cbTime->setChecked(true);
    log.cbEvaluateErrorCodes->setChecked(true);
    log.miTimeSinceConnect->trigger();
    EXPECT_EQ(lines(copy), lines(log).mid(0, saved));
    copy.cbHideReports->setChecked(true);
    EXPECT_EQ(lines(copy).filter(QStringLiteral("(GOTO)")).size(), 6) << "reports are told apart in a file too";

    // A damaged file opens nothing and names its bad line.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("2026-01-01T00:00:00.000Z,5.000,RX,0x43,GET_POS,6,E_SUCCESS,,00 00 00 00 48\n");
    file.close();
    log.btnOpen->click();
    EXPECT_EQ(log.findChildren<TCommLog*>().size(), 1);
    ASSERT_EQ(Driver.Messages.size(), 1u);
    EXPECT_EQ(Driver.Messages.front().text,
              QStringLiteral("Error while opening the log session.csv: line %1: 5 payload bytes, length says 6")
                  .arg(saved + 2));
}

}
