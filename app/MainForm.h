#pragma once
// The program's main window "KRM Commander": connects to one gripper through
// the gripper object, shows its system-state flags, grasping state and
// finger position live from the gripper's own reports, holds the six motion
// command panels with their edit/track bar pairs, the Fast Stop button, the
// log of finished motion commands, and the menu that opens the information
// dialogs, the command log and the command editor.
//
// The window keeps its placement in "Analyzer.ini" (section "MainWin") in
// the program's settings folder: restored when it is first shown, written
// when it is destroyed. The command log and the command editor keep theirs
// there too (sections "CommLog" and "CustomCmd"), and the last connection
// that succeeded goes to section "Connection" for Reconnect. The status bar
// shows the hints on its left and the link on its right.
//
// The widgets come from the menu, the motion panels and the state panels;
// the connection controller and the motion presenter do the work without
// widgets, and the window shows what they tell.
#include "FormState.h"
#include "GripperScan.h"
#include "MainMenu.h"
#include "MotionPanels.h"
#include "StatePanels.h"
#include "stat.h"
#include "types.h"

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <memory>

class QLabel;
class QSlider;
class TConnectionController;
class TCustomCmd;
class TFloatEdit;
class TLinkStatusBar;
class THXT;
class TMotionPresenter;
class TPlotWindow;
class TReconnector;
class TResultsLog;
class TToolPlacement;
struct TSystemLimits;

class TMainWin : public QMainWindow, public TMainMenu, public TMotionPanels, public TStatePanels {
    Q_OBJECT
public:
    explicit TMainWin(QWidget* parent = nullptr);
    ~TMainWin() override;

    THXT* Gripper() const { return FGripper; }
    TCustomCmd* CustomCmd() const { return FCustomCmd; }
    TPlotWindow* PlotWindow() const { return FPlot; }
    TConnectionController& Connection() const { return *FConnection; }
    TReconnector* Reconnector() const;
    int32_t PreviousState() const;

    // Connected (true) or disconnected look of the window.
    void EnableControls(bool enabled);
    // Ticks the flag boxes whose flag is set in `state`; shows the fast-stop
    // line while the gripper is in fast stop.
    void ShowFlags(uint32_t state);

    // Menu handlers.
    void Connect1Click();
    void Disconnect1Click();
    void Reconnect1Click();
    void AutoReconnect1Click();
    // Lists the grippers that answer and connects to the one chosen.
    void FindGripper1Click();
    void About1Click();
    void KeyboardShortcuts1Click();
    void Commandlog1Click();
    void CustomCommands1Click();
    void GetSystemInfo1Click();
    void GetSystemLimits1Click();
    void GetGraspingStatistics1Click();
    void Homing1Click();
    void EmergencyStopAcknowledge1Click();

    // Handlers of the gripper object's events.
    void GripperConnected(QObject* sender);
    void GripperDisconnected(QObject* sender);
    void SystemStateChanged(QObject* sender);
    void GraspingStateChanged(QObject* sender);
    void PositionChanged(QObject* sender);
    void SpeedChanged(QObject* sender);
    void ForceChanged(QObject* sender);
    // Result handler of the motion commands: one line in AsyncLog.
    void MotionResult(QObject* sender, int id, TStat status, const TByteArray& data);
    TResultsLog& Results() const { return *FResults; }

    // Motion panel handlers.
    void btnApplyAccClick();
    void btnApplyForceClick();
    void btnGotoClick();
    void btnGraspClick();
    void btnReleaseClick();
    void btnStopClick();
    void btnEmergencyStopClick();

    // Right side of the status bar: the link, its state and packet counts.
    QLabel* lbConnection;
    // Where Find a Gripper looks (tests name their connections).
    TScanOptions FindGripperOptions;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    // Hints go to the status bar in the room the link leaves.
    bool event(QEvent* event) override;

private:
    void ConnectMenu();
    void ConnectButtons();
    void ConnectGripper();
    void UpdateConnectionItems();
    void UpdateLinkStatus();

    THXT* FGripper = nullptr;
    TConnectionController* FConnection = nullptr;
    TMotionPresenter* FMotions = nullptr;
    TCustomCmd* FCustomCmd = nullptr;
    TPlotWindow* FPlot = nullptr;
    TFormState FFormState;
    bool FPlacementRestored = false;
    std::unique_ptr<TToolPlacement> FCommLogPlacement;
    std::unique_ptr<TToolPlacement> FCustomCmdPlacement;
    std::unique_ptr<TResultsLog> FResults;
    TLinkStatusBar* FStatus = nullptr;
};
