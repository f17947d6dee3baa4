// No text of the program is cut off: the main window at its default size,
// connected over a serial line with a long device path and showing the
// widest values it shows, its status bar with a hint and while reconnecting,
// every connect dialog, the information and shortcut dialogs, and the command
// log, command editor and plot window. Every label, button, check box, combo
// box and edit of the shown windows must hold its text in the room the style
// gives it. CTest runs this once per scale factor (QT_SCALE_FACTOR), on a
// screen large enough for the default size at a factor of 2.
//
// On a crowded screen (1600 x 1000 pixels at a factor of 1.5 or 2; CTest sets
// KRM_TEST_SCREEN and runs only those cases) the results log gives way
// first: the motion panels, their Stop button and the fast-stop line stay in
// view during a fast stop.
#include "AppTestSupport.h"
#include "CommLogForm.h"
#include "CustomCmdForm.h"
#include "DeviceDialog.h"
#include "ElidedLabel.h"
#include "FindGripperDialog.h"
#include "FloatEdit.h"
#include "HXTForm.h"
#include "HXT_commands.h"
#include "IniFile.h"
#include "ListBoxDialog.h"
#include "MainForm.h"
#include "PlotWindow.h"
#include "CommandPanel.h"
#include "RollPanel.h"
#include "SplitterBar.h"
#include "SimulatorProcess.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace {

QString Visible(QString text)
{
    // A mnemonic's marker is not drawn; a doubled one draws one ampersand.
    text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

QString Describe(const QWidget* widget, const QString& text, int needed, int room)
{
    return QStringLiteral("%1 %2 \"%3\" needs %4, has %5")
        .arg(QString::fromLatin1(widget->metaObject()->className()), widget->objectName(), text)
        .arg(needed)
        .arg(room);
}

void CheckLabel(const QLabel* label, QStringList& cut)
{
    const QString text = label->buddy() ? Visible(label->text()) : label->text();
    if (text.isEmpty() || label->textFormat() == Qt::RichText || Qt::mightBeRichText(text))
        return;
    const int margin = label->margin();
    const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    if (label->wordWrap()) {
        const int needed = label->heightForWidth(label->width());
        if (needed > label->height())
            cut << Describe(label, text, needed, label->height()) + QStringLiteral(" (height)");
        return;
    }
    const QSize needed = label->fontMetrics().size(0, text);
    if (needed.width() > room.width() || needed.height() > room.height())
        cut << Describe(label, text, needed.width(), room.width());
}

void CheckButton(const QAbstractButton* button, QStringList& cut)
{
    const QString text = Visible(button->text());
    if (text.isEmpty())
        return;
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = text;
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    const QStyle* style = button->style();
    int room = 0;
    int needed = button->fontMetrics().horizontalAdvance(text);
    if (qobject_cast<const QCheckBox*>(button)) {
        room = style->subElementRect(QStyle::SE_CheckBoxContents, &option, button).width();
    } else if (qobject_cast<const QRadioButton*>(button)) {
        room = style->subElementRect(QStyle::SE_RadioButtonContents, &option, button).width();
    } else if (const auto* tool = qobject_cast<const QToolButton*>(button)) {
        room = button->width() - 6;
        if (!button->icon().isNull() && tool->toolButtonStyle() == Qt::ToolButtonTextBesideIcon)
            needed += button->iconSize().width() + 4;
    } else {
        room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
        if (!button->icon().isNull())
            needed += button->iconSize().width() + 4;
    }
    if (needed > room)
        cut << Describe(button, text, needed, room);
}

void CheckComboBox(const QComboBox* box, QStringList& cut)
{
    const QString text = box->currentText();
    if (text.isEmpty())
        return;
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = box->isEditable();
    option.currentText = text;
    const int room =
        box->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box).width();
    // An editable box's line edit keeps a small margin on both sides.
    const int needed = box->fontMetrics().horizontalAdvance(text) + (box->isEditable() ? 4 : 0);
    if (needed > room)
        cut << Describe(box, text, needed, room);
}

void CheckLineEdit(const QLineEdit* edit, QStringList& cut)
{
    if (edit->text().isEmpty() || qobject_cast<const QComboBox*>(edit->parentWidget()))
        return;
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
    const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    const QMargins margins = edit->textMargins();
    const int room = contents.width() - margins.left() - margins.right() - 4;
    const int needed = edit->fontMetrics().horizontalAdvance(edit->text());
    if (needed > room)
        cut << Describe(edit, edit->text(), needed, room);
}

// A widget whose parents show only part of its width (a scroll bar or the
// parent's edge covers it); one scrolled out of sight, or in an area that
// scrolls sideways, is not cut.
void CheckUncovered(const QWidget* widget, QStringList& cut)
{
    for (const QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
        const auto* area = qobject_cast<const QAbstractScrollArea*>(parent);
        if (area && area->horizontalScrollBar()->isVisible())
            return;
    }
    const QRect shown = widget->visibleRegion().boundingRect();
    if (!shown.isEmpty() && shown.width() < widget->width())
        cut << Describe(widget, QStringLiteral("(covered)"), widget->width(), shown.width());
}

// The texts of `window` that do not fit their room.
QStringList CutTexts(const QWidget& window)
{
    QStringList cut;
    for (const QWidget* widget : window.findChildren<QWidget*>()) {
        if (!widget->isVisible() || widget->window() != &window)
            continue;
        if (qobject_cast<const QLabel*>(widget) || qobject_cast<const QAbstractButton*>(widget))
            CheckUncovered(widget, cut);
        if (const auto* label = qobject_cast<const QLabel*>(widget))
            CheckLabel(label, cut);
        else if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
            CheckButton(button, cut);
        else if (const auto* box = qobject_cast<const QComboBox*>(widget))
            CheckComboBox(box, cut);
        else if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
            CheckLineEdit(edit, cut);
    }
    if (const auto* main = qobject_cast<const QMainWindow*>(&window)) {
        const QStatusBar* bar = main->statusBar();
        const QString message = bar->currentMessage();
        // The message is drawn left of the first permanent widget.
        const auto* link = main->findChild<QLabel*>(QStringLiteral("lbConnection"));
        const int room = link->geometry().left() - 12;
        const int needed = bar->fontMetrics().horizontalAdvance(message);
        if (!message.isEmpty() && needed > room)
            cut << Describe(bar, message, needed, room);
    }
    return cut;
}

void ExpectNothingCut(QWidget& window, const char* where)
{
    if (!window.isVisible()) {
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    QTest::qWait(50);
    const QStringList cut = CutTexts(window);
    EXPECT_TRUE(cut.isEmpty()) << where << ":\n  " << cut.join(QStringLiteral("\n  ")).toStdString();
}

TPacket Report(uint8_t command, std::initializer_list<uint8_t> data)
{
    TPacket packet;
    packet.command = command;
    packet.data.assign(2 + data.size(), 0x00); // status E_SUCCESS, then the data
    std::copy(data.begin(), data.end(), packet.data.begin() + 2);
    packet.length = static_cast<int32_t>(packet.data.size());
    return packet;
}

TPacket FloatReport(uint8_t command, float value)
{
    uint8_t bytes[4];
    std::memcpy(bytes, &value, sizeof bytes);
    return Report(command, {bytes[0], bytes[1], bytes[2], bytes[3]});
}

class TextFit : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A serial line whose device path is longer than any box holds.
        Link = Folder.filePath(QStringLiteral("a-rather-long-folder-name-for-the-device/gripper-tty"));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(Link).path()));
        ASSERT_TRUE(Simulator.Start({QStringLiteral("--pty"), Link, QStringLiteral("--part-width"), QStringLiteral("30"),
                                     QStringLiteral("--referenced")}))
            << Simulator.Errors().toStdString();
        const QDeadlineTimer deadline(5000);
        while (!Simulator.Output().contains(QStringLiteral("pty ")) && !deadline.hasExpired())
            QTest::qWait(20);
        TIniFile uart(Driver.SettingsFolder() + QStringLiteral("/uart.cfg"));
        ASSERT_TRUE(uart.Write(QStringLiteral("common"),
                               {{QStringLiteral("Portname"), Link}, {QStringLiteral("baudrate"), QStringLiteral("7")}}));
        Log = std::make_unique<TCommLog>();
        Window = std::make_unique<TMainWin>();
        Window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
        ASSERT_EQ(Window->size(), QSize(681, 779)) << "the default size fits this screen";
    }

    void TearDown() override
    {
        Window.reset();
        Log.reset();
        Simulator.Stop();
    }

    QTemporaryDir Folder;
    QString Link;
    TAppDriver Driver;
    TSimulatorProcess Simulator;
    std::unique_ptr<TCommLog> Log;
    std::unique_ptr<TMainWin> Window;
};

TEST_F(TextFit, EveryWindowHoldsItsTexts)
{
    TMainWin& w = *Window;
    ExpectNothingCut(w, "disconnected");

    // The interface dialog with every device and its ports, then the
    // parameter dialog of each device (cancelled).
    int device = 0;
    const TDialogRunner scripted = SetDialogRunner([&device](QDialog& dialog) {
        dialog.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        int result = QDialog::Rejected;
        if (auto* devices = dialog.findChild<QComboBox*>(QStringLiteral("cbDevice"))) {
            for (int i = 0; i < devices->count(); ++i) {
                devices->setCurrentIndex(i);
                auto* ports = dialog.findChild<QComboBox*>(QStringLiteral("cbDevicePort"));
                for (int port = 0; port < ports->count(); ++port) {
                    ports->setCurrentIndex(port);
                    ExpectNothingCut(dialog, qPrintable(ports->currentText()));
                }
            }
            devices->setCurrentIndex(device);
            result = QDialog::Accepted;
        } else {
            ExpectNothingCut(dialog, qPrintable(dialog.windowTitle()));
        }
        dialog.hide();
        return result;
    });
    for (device = 0; device < 3; ++device)
        w.Connect1->trigger();
    SetDialogRunner(scripted);
    EXPECT_EQ(Driver.Messages.size(), 3u) << "each connect was cancelled";

    Driver.InterfaceChoice = TAppDriver::TInterfaceChoice::Serial;
    ASSERT_TRUE(Driver.Connect(w, 0)) << Driver.OfferedPort.toStdString();
    // The widest values the state display shows.
    THXT& gripper = *w.Gripper();
    gripper.HandlePacket(Report(CMD_GET_SYSTEM_STATE, {0x00, 0x10, 0x00, 0x00}));
    gripper.HandlePacket(Report(CMD_GET_GRASPING_STATE, {5}));
    gripper.HandlePacket(FloatReport(CMD_GET_POS, 110.0F));
    gripper.HandlePacket(FloatReport(CMD_GET_SPEED, -420.0F));
    gripper.HandlePacket(FloatReport(CMD_GET_FORCE, -120.0F));
    ExpectNothingCut(w, "connected");
    // A lower window scrolls the flags; the scroll bar covers none of them.
    w.resize(681, 560);
    ExpectNothingCut(w, "low window");
    w.resize(681, 779);
    // A hint never cuts the link's address or counts: a long one is
    // shortened or left out, and whole in the status bar's tooltip.
    const QString link = w.lbConnection->text();
    for (const QString& hint : {w.edGotoPos->statusTip(), w.edGotoPos->statusTip().repeated(4)}) {
        QStatusTipEvent tip(hint);
        QApplication::sendEvent(w.edGotoPos, &tip);
        ExpectNothingCut(w, "hint in the status bar");
        EXPECT_EQ(w.lbConnection->text(), link);
        if (w.statusBar()->currentMessage() != hint)
            EXPECT_EQ(w.statusBar()->toolTip(), hint);
    }
    EXPECT_NE(w.statusBar()->currentMessage(), w.edGotoPos->statusTip().repeated(4)) << "the long hint is shortened";
    // With room beside the link, a hint that fits is shown whole.
    w.resize(1400, 779);
    QStatusTipEvent tip(w.edGotoPos->statusTip());
    QApplication::sendEvent(w.edGotoPos, &tip);
    EXPECT_EQ(w.statusBar()->currentMessage(), w.edGotoPos->statusTip());
    EXPECT_EQ(w.lbConnection->text(), w.lbConnection->toolTip());
    w.resize(681, 779);
    w.statusBar()->clearMessage();

    Driver.OtherDialog = [](QDialog& dialog) {
        if (const auto* find = qobject_cast<TFindGripperDlg*>(&dialog))
            EXPECT_TRUE(WaitFor([find] { return !find->Searching(); }, 10000));
        ExpectNothingCut(dialog, qPrintable(dialog.windowTitle()));
        return int(QDialog::Accepted);
    };
    w.GetSystemInfo1->trigger();
    w.GetSystemLimits1->trigger();
    w.GetGraspingStatistics1->trigger();
    w.KeyboardShortcuts1->trigger();
    // The line the window is connected over is in use.
    w.FindGripperOptions.SystemPorts = false;
    w.FindGripperOptions.Connections = {QStringLiteral("serial:") + Link};
    w.FindGripper1->trigger();
    EXPECT_TRUE(w.Gripper()->IsConnected());

    w.Commandlog1->trigger();
    ExpectNothingCut(*Log, "command log");
    w.CustomCommands1->trigger();
    ExpectNothingCut(*w.CustomCmd(), "command editor");
    w.Plot1->trigger();
    ExpectNothingCut(*w.PlotWindow(), "plot window");

    // Reconnecting by itself after the line went away.
    w.AutoReconnect1->trigger();
    Simulator.Stop();
    ASSERT_TRUE(WaitFor([&] { return w.lbConnection->text().contains(QStringLiteral("reconnecting")); }, 10000));
    ExpectNothingCut(w, "reconnecting");
    EXPECT_TRUE(w.lbConnection->text().contains(QStringLiteral("checksum-dropped 0"))) << "counts are never dropped";
    EXPECT_TRUE(w.lbConnection->toolTip().contains(Link)) << "the whole path is in the tooltip";
    w.Disconnect1->trigger();
}

// The part of `widget` its window shows: inside every parent up to the window.
QRect ShownPart(const QWidget* widget)
{
    QRect shown = widget->rect();
    for (const QWidget* w = widget; !w->isWindow(); w = w->parentWidget()) {
        shown.translate(w->pos());
        shown &= w->parentWidget()->rect();
    }
    return shown;
}

void ExpectWhollyShown(const QWidget* widget)
{
    EXPECT_TRUE(widget->isVisible()) << widget->objectName().toStdString();
    EXPECT_EQ(ShownPart(widget).size(), widget->size()) << widget->objectName().toStdString() << " is cut";
}

class CrowdedScreen : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Simulator.Start({QStringLiteral("--referenced")})) << Simulator.Errors().toStdString();
        Window = std::make_unique<TMainWin>();
        Window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Window.get()));
        ASSERT_LT(Window->height(), 779) << "the window must have been shrunk to the screen";
        ASSERT_TRUE(Driver.Connect(*Window, Simulator.TcpPort()));
    }

    void TearDown() override
    {
        Window.reset();
        Simulator.Stop();
    }

    TAppDriver Driver;
    TSimulatorProcess Simulator;
    std::unique_ptr<TMainWin> Window;
};

TEST_F(CrowdedScreen, FastStopKeepsTheMotionPanelsAndTheStopButtonInView)
{
    TMainWin& w = *Window;
    const int chosen = w.Splitter1->ChosenHeight();
    w.btnEmergencyStop->click();
    ASSERT_TRUE(WaitFor([&] { return w.lbFastStop->isVisible(); }));
    QTest::qWait(50);
    ExpectWhollyShown(w.lbFastStop);
    for (QWidget* panel : std::initializer_list<QWidget*>{w.pnAcc, w.pnForce, w.pnGoto, w.pnGrasp, w.pnRelease, w.pnStop})
        ExpectWhollyShown(panel);
    ExpectWhollyShown(w.btnStop);
    ExpectWhollyShown(w.btnEmergencyStop);
    EXPECT_EQ(w.sbCommands->verticalScrollBar()->maximum(), 0) << "the motion panels need no scrolling";
    EXPECT_LT(w.RollPanel2->height(), chosen) << "the results log gave way";
    ExpectNothingCut(w, "fast stop on a crowded screen");

    // Acknowledged, the line goes and the results log takes back what it can.
    const int duringStop = w.RollPanel2->height();
    w.EmergencyStopAcknowledge1->trigger();
    ASSERT_TRUE(WaitFor([&] { return !w.lbFastStop->isVisible(); }));
    QTest::qWait(50);
    EXPECT_GT(w.RollPanel2->height(), duringStop);
    EXPECT_LE(w.RollPanel2->height(), chosen);
    EXPECT_EQ(w.sbCommands->verticalScrollBar()->maximum(), 0);

    // A higher window gives the results log its chosen height again.
    w.setMinimumSize(300, 480);
    w.resize(w.width(), 1400);
    QTest::qWait(50);
    EXPECT_EQ(w.RollPanel2->height(), chosen);
}

}

int main(int argc, char** argv)
{
    QTemporaryDir folder;
    // KRM_TEST_SCREEN: "WIDTHxHEIGHT" of the screen; large by default.
    const QList<QByteArray> screen = qgetenv("KRM_TEST_SCREEN").split('x');
    const bool crowded = screen.size() == 2;
    if (!UseOffscreenScreen(folder.path(), crowded ? "crowded" : "large", crowded ? screen[0].toInt() : 3200,
                            crowded ? screen[1].toInt() : 2400))
        return 1;
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
