// The main window without a gripper: start-up state, the state display fed
// with report packets, the edit/track bar coupling, the edit ranges, and the
// messages of commands that cannot reach a gripper.
#include "AppTestSupport.h"
#include "CommandPanel.h"
#include "ConnectionRecord.h"
#include "CustomCmdForm.h"
#include "FloatEdit.h"
#include "HXTForm.h"
#include "HXT_commands.h"
#include "IniFile.h"
#include "MainForm.h"
#include "RollPanel.h"
#include "SplitterBar.h"

#include <QAction>
#include <QApplication>
#include <QMouseEvent>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStyleOptionButton>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <memory>

namespace {

TPacket Report(uint8_t command, const TByteArray& payload)
{
    TPacket p;
    p.command = command;
    p.data.assign(2 + payload.size(), 0x00); // status E_SUCCESS, then the payload
    std::copy(payload.begin(), payload.end(), p.data.begin() + 2);
    p.length = static_cast<int32_t>(p.data.size());
    return p;
}

TPacket SystemStateReport(uint32_t state)
{
    return Report(CMD_GET_SYSTEM_STATE, {static_cast<uint8_t>(state), static_cast<uint8_t>(state >> 8),
                                         static_cast<uint8_t>(state >> 16), static_cast<uint8_t>(state >> 24)});
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Window = std::make_unique<TMainWin>();
        Window->show();
        Window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(Window.get()));
    }

    void TearDown() override { Window.reset(); }

    std::vector<QString> MessageTexts() const
    {
        std::vector<QString> texts;
        for (const TRecordedMessage& m : Driver.Messages)
            texts.push_back(m.text);
        return texts;
    }

    // Types `text` into `edit` as the operator would.
    static void Type(TFloatEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }

    TAppDriver Driver;
    std::unique_ptr<TMainWin> Window;
};

TEST_F(MainWindowTest, StartsDisconnectedWithNothingShown)
{
    TMainWin& w = *Window;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("KRM Commander"));
    EXPECT_EQ(w.lbSystemstate->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(w.lbGraspingState->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(w.lbPosition->text(), QStringLiteral("[n/a]"));

    ASSERT_EQ(w.FlagBoxes().size(), SysflagDescr.size());
    for (size_t i = 0; i < SysflagDescr.size(); ++i) {
        EXPECT_EQ(w.FlagBoxes()[i]->text(), QString::fromLatin1(SysflagDescr[i].text));
        EXPECT_FALSE(w.FlagBoxes()[i]->isChecked());
        EXPECT_EQ(w.FlagBoxes()[i]->y(), 64 + 16 * static_cast<int>(i));
    }

    for (QWidget* control : std::initializer_list<QWidget*>{w.btnGoto, w.btnGrasp, w.btnRelease, w.btnStop,
                                                            w.btnApplyAcc, w.btnApplyForce, w.edGotoPos, w.tbAcc,
                                                            w.btnEmergencyStop})
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    EXPECT_TRUE(w.Connect1->isEnabled());
    EXPECT_FALSE(w.Disconnect1->isEnabled());
    for (QAction* item : w.Commands1->actions())
        EXPECT_TRUE(item->isEnabled()) << item->text().toStdString();
    EXPECT_EQ(w.PreviousState(), -1);

    // Caption gradient of the collapsible panels: 8210719 to 12419407 (0x00BBGGRR).
    for (TRollPanel* panel : {w.RollPanel1, w.RollPanel2, w.RollPanel3}) {
        EXPECT_EQ(panel->CaptionColorFrom(), QColor(31, 73, 125)) << panel->objectName().toStdString();
        EXPECT_EQ(panel->CaptionColorTo(), QColor(79, 129, 189)) << panel->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, TrackBarsFollowTheDesignValuesAtStartUp)
{
    TMainWin& w = *Window;
    // 50 in 2..65, 50 in 2..60, 8 in 2..65; the force edit is left out.
    for (QSlider* track : {w.tbAcc, w.tbGotoPos, w.tbReleasePos})
        EXPECT_EQ(track->value(), 762) << track->objectName().toStdString();
    EXPECT_EQ(w.tbForce->value(), 0);
    for (QSlider* track : {w.tbGotoSpeed, w.tbGraspingSpeed, w.tbReleaseSpeed})
        EXPECT_EQ(track->value(), 828) << track->objectName().toStdString();
    EXPECT_EQ(w.tbGraspingPos->value(), 95);
    // Following the edits changed none of them.
    EXPECT_EQ(w.edAcc->text(), QStringLiteral("50"));
    EXPECT_EQ(w.edGraspingPos->text(), QStringLiteral("8"));
}

TEST_F(MainWindowTest, EditAndTrackBarFollowEachOther)
{
    TMainWin& w = *Window;
    w.EnableControls(true);

    Type(w.edGotoPos, QStringLiteral("33.5"));
    EXPECT_EQ(w.tbGotoPos->value(), 500);
    EXPECT_EQ(w.edGotoPos->text(), QStringLiteral("33.5"));

    // The operator moves the track bar: the edit shows one decimal at most.
    w.tbGotoPos->setFocus();
    w.tbGotoPos->setValue(333);
    EXPECT_EQ(w.edGotoPos->text(), QStringLiteral("23"));
    w.tbGotoPos->setValue(1000);
    EXPECT_EQ(w.edGotoPos->text(), QStringLiteral("65"));
    EXPECT_EQ(w.tbGotoPos->value(), 1000);
}

TEST_F(MainWindowTest, InvalidInputDisablesOnlyItsCommand)
{
    TMainWin& w = *Window;
    w.EnableControls(true);

    Type(w.edGraspingSpeed, QStringLiteral("61"));
    EXPECT_FALSE(w.btnGrasp->isEnabled());
    EXPECT_TRUE(w.btnGoto->isEnabled());
    EXPECT_TRUE(w.btnRelease->isEnabled());
    EXPECT_EQ(w.tbGraspingSpeed->value(), 69); // where the valid "6" put it

    Type(w.edAcc, QStringLiteral("abc"));
    EXPECT_FALSE(w.btnApplyAcc->isEnabled());
    EXPECT_TRUE(w.btnApplyForce->isEnabled());

    Type(w.edGraspingSpeed, QStringLiteral("60"));
    EXPECT_TRUE(w.btnGrasp->isEnabled());
    EXPECT_EQ(w.tbGraspingSpeed->value(), 1000);
}

TEST_F(MainWindowTest, InvalidInputIsDrawnInRed)
{
    TMainWin& w = *Window;
    w.EnableControls(true);
    const auto textColour = [](TFloatEdit* edit) { return edit->palette().color(QPalette::Text); };
    const QColor normal = textColour(w.edGotoPos);
    ASSERT_NE(normal, QColor(Qt::red));

    Type(w.edAcc, QStringLiteral("abc"));
    EXPECT_EQ(textColour(w.edAcc), QColor(Qt::red));
    EXPECT_TRUE(w.edAcc->font().bold());
    Type(w.edAcc, QStringLiteral("50"));
    EXPECT_EQ(textColour(w.edAcc), normal);

    // 100 is out of the design range; the gripper's wider range makes it
    // valid without a change of the text.
    Type(w.edGotoPos, QStringLiteral("100"));
    EXPECT_EQ(textColour(w.edGotoPos), QColor(Qt::red));
    w.SetEditRange(w.edGotoPos, QStringLiteral("mm"), 0, 110);
    EXPECT_EQ(w.edGotoPos->text(), QStringLiteral("100"));
    EXPECT_EQ(textColour(w.edGotoPos), normal);
}

TEST_F(MainWindowTest, EscapePressesStopWhileItIsEnabled)
{
    TMainWin& w = *Window;
    // A shortcut presses its button with a short animation: wait for it.
    QTest::keyClick(&w, Qt::Key_Escape);
    QTest::qWait(300);
    EXPECT_TRUE(Driver.Messages.empty());

    w.EnableControls(true);
    QTest::keyClick(&w, Qt::Key_Escape);
    EXPECT_TRUE(WaitFor([&] { return !Driver.Messages.empty(); }, 2000));
    EXPECT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral("Error while stopping: Command failed")});
}

TEST_F(MainWindowTest, NumbersUseTheDecimalSeparatorOfTheLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TMainWin& w = *Window;
    w.SetEditRange(w.edAcc, QString::fromUtf8("mm/s²"), 100, 5000);
    const QString hint = w.edAcc->toolTip();
    w.Gripper()->HandlePacket(Report(CMD_GET_POS, {0x00, 0x40, 0x9A, 0x44})); // 1234.0
    const QString position = w.lbPosition->text();
    QLocale::setDefault(previous);

    // No group separators: the edits would not take them back.
    EXPECT_EQ(hint, QString::fromUtf8("Input range: 100,00 to 5000,00 mm/s²"));
    EXPECT_EQ(position, QStringLiteral("1234,00 mm"));
}

TEST_F(MainWindowTest, DisconnectedLookKeepsButtonsFollowingTheirEdits)
{
    TMainWin& w = *Window;
    w.EnableControls(true);
    Type(w.edGotoSpeed, QStringLiteral("0"));
    w.EnableControls(false);
    EXPECT_FALSE(w.btnApplyAcc->isEnabled());
    w.EnableControls(true);
    EXPECT_TRUE(w.btnApplyAcc->isEnabled());
    EXPECT_FALSE(w.btnGoto->isEnabled());
}

TEST_F(MainWindowTest, EditRangeFromTheGripper)
{
    TMainWin& w = *Window;
    w.EnableControls(true);
    w.edGraspingSpeed->setText(QStringLiteral("50"));

    // 50 stays valid in 5..400: text and track bar stay where they were.
    w.SetEditRange(w.edGraspingSpeed, QStringLiteral("mm/s"), 5, 400);
    EXPECT_EQ(w.edGraspingSpeed->text(), QStringLiteral("50"));
    EXPECT_EQ(w.tbGraspingSpeed->value(), 828);
    EXPECT_EQ(w.edGraspingSpeed->toolTip(), QStringLiteral("Input range: 5.00 to 400.00 mm/s"));
    EXPECT_EQ(w.edGraspingSpeed->statusTip(), w.edGraspingSpeed->toolTip());

    // 50 mm does not fit a stroke of 40 mm: the edit takes its new minimum
    // and the input focus.
    w.SetEditRange(w.edGotoPos, QStringLiteral("mm"), 0, 40);
    EXPECT_EQ(w.edGotoPos->text(), QStringLiteral("0"));
    EXPECT_TRUE(w.edGotoPos->hasFocus());
    EXPECT_EQ(w.tbGotoPos->value(), 0);
    EXPECT_TRUE(w.btnGoto->isEnabled());
    EXPECT_EQ(w.edGotoPos->toolTip(), QStringLiteral("Input range: 0.00 to 40.00 mm"));

    Type(w.edGraspingSpeed, QStringLiteral("400"));
    EXPECT_EQ(w.tbGraspingSpeed->value(), 1000);
}

TEST_F(MainWindowTest, SystemStateReportsShowFlagsAndFastStop)
{
    TMainWin& w = *Window;
    w.Gripper()->HandlePacket(SystemStateReport(0x00001001));
    EXPECT_EQ(w.lbSystemstate->text(), QStringLiteral("00001001h"));
    for (QCheckBox* box : w.FlagBoxes()) {
        const bool expected = box->text() == QStringLiteral("Referenced") || box->text() == QStringLiteral("Fast stop");
        EXPECT_EQ(box->isChecked(), expected) << box->text().toStdString();
    }
    EXPECT_TRUE(w.btnEmergencyStop->isChecked());
    EXPECT_EQ(w.PreviousState(), 0x1001);

    w.Gripper()->HandlePacket(SystemStateReport(0x00100001));
    EXPECT_EQ(w.lbSystemstate->text(), QStringLiteral("00100001h"));
    EXPECT_FALSE(w.btnEmergencyStop->isChecked());
    EXPECT_TRUE(w.FlagBoxes().back()->isChecked()); // "Script failure"

    // The operator cannot tick a flag box.
    QCheckBox* moving = w.FlagBoxes()[1];
    QTest::mouseClick(moving, Qt::LeftButton);
    EXPECT_FALSE(moving->isChecked());
}

TEST_F(MainWindowTest, FastStopLineAndFaultsInRed)
{
    TMainWin& w = *Window;
    const QColor normal = w.FlagBoxes()[0]->palette().color(QPalette::WindowText);
    EXPECT_FALSE(w.lbFastStop->isVisible());
    // Fast stop with a temperature and a finger fault; "Moving" is no fault.
    w.Gripper()->HandlePacket(SystemStateReport(0x00025003));
    EXPECT_TRUE(w.lbFastStop->isVisible());
    EXPECT_EQ(w.lbFastStop->text(), QStringLiteral("Fast stop: all motions are locked. Acknowledge it with Commands > "
                                                   "Acknowledge an Emergency Stop (Ctrl+Shift+A)."));
    const auto colourOf = [&w](const QString& flag) {
        for (QCheckBox* box : w.FlagBoxes())
            if (box->text() == flag)
                return box->palette().color(QPalette::WindowText);
        return QColor();
    };
    for (const QString& fault : {QStringLiteral("Temperature fault"), QStringLiteral("Finger fault")}) {
        EXPECT_NE(colourOf(fault), normal) << fault.toStdString();
        EXPECT_GT(colourOf(fault).red(), 2 * colourOf(fault).green()) << fault.toStdString();
    }
    for (const QString& flag : {QStringLiteral("Moving"), QStringLiteral("Fast stop"), QStringLiteral("Power fault")})
        EXPECT_EQ(colourOf(flag), normal) << flag.toStdString();

    // Cleared faults and an acknowledged fast stop look normal again; so does
    // everything after a disconnect.
    w.Gripper()->HandlePacket(SystemStateReport(0x00004001));
    EXPECT_FALSE(w.lbFastStop->isVisible());
    EXPECT_EQ(colourOf(QStringLiteral("Finger fault")), normal);
    EXPECT_NE(colourOf(QStringLiteral("Temperature fault")), normal);
    w.EnableControls(false);
    EXPECT_EQ(colourOf(QStringLiteral("Temperature fault")), normal);
}

TEST_F(MainWindowTest, GraspingStateAndPositionReports)
{
    TMainWin& w = *Window;
    w.Gripper()->HandlePacket(Report(CMD_GET_GRASPING_STATE, {4}));
    EXPECT_EQ(w.lbGraspingState->text(), QStringLiteral("holding"));
    w.Gripper()->HandlePacket(Report(CMD_GET_GRASPING_STATE, {0}));
    EXPECT_EQ(w.lbGraspingState->text(), QStringLiteral("idle"));
    w.Gripper()->HandlePacket(Report(CMD_GET_GRASPING_STATE, {7}));
    EXPECT_EQ(w.lbGraspingState->text(), QStringLiteral("unknown (7)"));

    w.Gripper()->HandlePacket(Report(CMD_GET_POS, {0x00, 0x00, 0x48, 0x41})); // 12.5
    EXPECT_EQ(w.lbPosition->text(), QLocale().toString(12.5, 'f', 2) + QStringLiteral(" mm"));
}

TEST_F(MainWindowTest, DisconnectedLookResetsTheDisplay)
{
    TMainWin& w = *Window;
    w.Gripper()->HandlePacket(SystemStateReport(0x3));
    w.Gripper()->HandlePacket(Report(CMD_GET_GRASPING_STATE, {1}));
    w.CustomCommands1->trigger();
    ASSERT_TRUE(w.CustomCommands1->isChecked());

    w.EnableControls(false);
    EXPECT_EQ(w.lbSystemstate->text(), QStringLiteral("[n/a]"));
    EXPECT_EQ(w.lbGraspingState->text(), QStringLiteral("[n/a]"));
    for (QCheckBox* box : w.FlagBoxes())
        EXPECT_FALSE(box->isChecked());
    EXPECT_FALSE(w.CustomCommands1->isChecked());
}

TEST_F(MainWindowTest, MenuTogglesTheOtherWindows)
{
    TMainWin& w = *Window;
    w.CustomCommands1->trigger();
    EXPECT_TRUE(w.CustomCmd()->isVisible());
    w.CustomCommands1->trigger();
    EXPECT_FALSE(w.CustomCmd()->isVisible());
    EXPECT_FALSE(w.CustomCommands1->isChecked());
}

TEST_F(MainWindowTest, MotionResultsAreLogged)
{
    TMainWin& w = *Window;
    w.MotionResult(w.Gripper(), CMD_GOTO, E_AXIS_BLOCKED, {});
    w.MotionResult(w.Gripper(), CMD_GRASP_RAW, E_SUCCESS, {1, 2});
    EXPECT_EQ(w.AsyncLog->toPlainText(),
              QStringLiteral("Command GOTO finished: Axis is blocked.\nCommand GRASP_RAW finished: No error."));
}

TEST_F(MainWindowTest, CommandsWithoutGripperReportWhy)
{
    TMainWin& w = *Window;
    w.Homing1->trigger();
    w.GetSystemInfo1->trigger();
    w.GetSystemLimits1->trigger();
    w.GetGraspingStatistics1->trigger();
    EXPECT_EQ(MessageTexts(), (std::vector<QString>{
                                  QStringLiteral("Error while homing: Device or file not open"),
                                  QStringLiteral("Cannot read system information: Command failed"),
                                  QStringLiteral("Cannot read gripper system limits: Command failed"),
                                  QStringLiteral("Cannot read grasping statistics: Command failed"),
                              }));
    for (const TRecordedMessage& m : Driver.Messages)
        EXPECT_EQ(m.kind, TMessageKind::Error);
    EXPECT_EQ(Driver.DialogRuns, 0);

    // Fast Stop and its acknowledge fail silently and show it on the button.
    w.EnableControls(true);
    w.btnEmergencyStop->click();
    EXPECT_FALSE(w.btnEmergencyStop->isChecked());
    w.btnEmergencyStop->setChecked(true);
    w.EmergencyStopAcknowledge1->trigger();
    EXPECT_TRUE(w.btnEmergencyStop->isChecked());
    EXPECT_EQ(Driver.Messages.size(), 4u);
}

TEST_F(MainWindowTest, CancelledConnectIsReported)
{
    TMainWin& w = *Window;
    Driver.InterfaceChoice = TAppDriver::TInterfaceChoice::Cancel;
    w.Connect1->trigger();
    EXPECT_EQ(MessageTexts(), std::vector<QString>{QStringLiteral("Cannot connect to target: Command aborted")});
    EXPECT_TRUE(w.Connect1->isEnabled());
    EXPECT_FALSE(w.Disconnect1->isEnabled());
    EXPECT_FALSE(w.btnGoto->isEnabled());
}

TEST_F(MainWindowTest, CommandButtonsStayBesideTheirFieldsAsTheWindowWidens)
{
    TMainWin& w = *Window;
    const std::vector<QPushButton*> buttons{w.btnApplyAcc, w.btnApplyForce, w.btnGoto, w.btnGrasp, w.btnRelease, w.btnStop};
    const auto lefts = [&] {
        std::vector<int> x;
        for (QPushButton* button : buttons)
            x.push_back(button->x());
        return x;
    };
    w.resize(681, 779);
    QTest::qWait(20);
    const std::vector<int> narrow = lefts();
    w.resize(1100, 779);
    QTest::qWait(20);
    EXPECT_EQ(lefts(), narrow);
    // In line with each other, just right of the widest unit label.
    const int unitRight = w.edAcc->geometry().right() + 8 + 30;
    for (size_t i = 0; i < buttons.size(); ++i) {
        EXPECT_EQ(narrow[i], narrow[0]) << buttons[i]->objectName().toStdString();
        EXPECT_GE(narrow[i], unitRight) << buttons[i]->objectName().toStdString();
        EXPECT_LE(narrow[i], unitRight + 40) << buttons[i]->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, SplitterBarSharesTheHeightWithTheResultsPanel)
{
    TMainWin& w = *Window;
    w.resize(681, 779);
    QTest::qWait(20);
    const int before = w.RollPanel2->height();
    const int middle = w.Splitter1->width() / 2;
    QTest::mousePress(w.Splitter1, Qt::LeftButton, {}, QPoint(middle, 2));
    QMouseEvent move(QEvent::MouseMove, QPointF(middle, -48), w.Splitter1->mapToGlobal(QPointF(middle, -48)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.Splitter1, &move);
    QTest::mouseRelease(w.Splitter1, Qt::LeftButton, {}, QPoint(middle, -48));
    QTest::qWait(20);
    EXPECT_EQ(w.RollPanel2->height(), before + 50);
    EXPECT_EQ(w.AsyncLog->height(), w.RollPanel2->ClientHeight() - w.AsyncLog->x());

    // Far down the panel keeps a usable body; a collapsed panel is not dragged.
    QTest::mousePress(w.Splitter1, Qt::LeftButton, {}, QPoint(middle, 2));
    QMouseEvent down(QEvent::MouseMove, QPointF(middle, 2000), w.Splitter1->mapToGlobal(QPointF(middle, 2000)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.Splitter1, &down);
    QTest::mouseRelease(w.Splitter1, Qt::LeftButton, {}, QPoint(middle, 2000));
    EXPECT_EQ(w.RollPanel2->height(), 2 * w.RollPanel2->Margin() + w.RollPanel2->CaptionHeight() + TSplitterBar::MinimumBodyHeight);

    w.RollPanel2->SetAnimate(false);
    w.RollPanel2->SetState(rpCollapsed);
    const int collapsed = w.RollPanel2->height();
    QTest::mousePress(w.Splitter1, Qt::LeftButton, {}, QPoint(middle, 2));
    QApplication::sendEvent(w.Splitter1, &move);
    QTest::mouseRelease(w.Splitter1, Qt::LeftButton, {}, QPoint(middle, -48));
    EXPECT_EQ(w.RollPanel2->height(), collapsed);
}

// Lightness between a text colour and the colour it is drawn on.
int Contrast(const QColor& text, const QColor& background)
{
    return std::abs(text.lightness() - background.lightness());
}

// The colour most pixels of `widget` have: its background.
QColor Background(QWidget* widget)
{
    const QImage image = widget->grab().toImage();
    std::map<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    return QColor(std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
                      return a.second < b.second;
                  })->first);
}

TEST(MainWindowConnect, ASerialPortThatIsGoneSaysWhatToDo)
{
    TAppDriver driver;
    const QString gone = driver.SettingsFolder() + QStringLiteral("/ttyUSB-unplugged");
    TIniFile ini(driver.SettingsFolder() + QStringLiteral("/Analyzer.ini"));
    ASSERT_TRUE(WriteConnection(ini, QStringLiteral("Connection"), TSerialParams{gone, 115200}));
    TMainWin w;
    w.show();
    w.Reconnect1->trigger();
    ASSERT_EQ(driver.Messages.size(), 1u);
    EXPECT_EQ(driver.Messages[0].text,
              QStringLiteral("Cannot connect to target: General I/O-Error\n"
                             "The serial port %1 does not exist (unplugged?): plug the adapter in again or choose "
                             "another port.")
                  .arg(gone));
}

TEST(MainWindowPalette, PanelTextsStayReadableWithLightAndDarkPalettes)
{
    TAppDriver driver;
    const QPalette previous = QApplication::palette();
    for (const QPalette& palette : {previous, DarkFusionPalette()}) {
        QApplication::setPalette(palette);
        TMainWin w;
        w.show();
        w.EnableControls(true);
        QTest::qWait(20);
        const bool dark = palette.color(QPalette::Window).lightness() < 128;
        auto* caption = w.pnAcc->findChild<QLabel*>();
        ASSERT_NE(caption, nullptr);
        EXPECT_GE(Contrast(caption->palette().color(QPalette::WindowText), Background(w.pnAcc)), 100)
            << "command panel, dark " << dark;
        const QPoint inLabel(w.lbSystemstate->geometry().right() - 2, w.lbSystemstate->geometry().center().y());
        const QColor behind = w.RollPanel1->grab().toImage().pixelColor(inLabel);
        EXPECT_GE(Contrast(w.lbSystemstate->palette().color(QPalette::WindowText), behind), 100)
            << "system state, dark " << dark;
        // An unticked flag box's frame stands out from the panel behind it.
        const QCheckBox* box = w.FlagBoxes()[1];
        QStyleOptionButton option;
        option.initFrom(box);
        const QRect indicator = box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box);
        const QImage panel = w.RollPanel1->grab().toImage();
        const QPoint frame = box->mapTo(w.RollPanel1, QPoint(indicator.left(), indicator.center().y()));
        const QPoint beside = box->mapTo(w.RollPanel1, QPoint(indicator.left() - 3, indicator.center().y()));
        EXPECT_GE(Contrast(panel.pixelColor(frame), panel.pixelColor(beside)), 40) << "flag box, dark " << dark;
    }
    QApplication::setPalette(previous);
}

}
