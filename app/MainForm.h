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
#include "AsyncResultEventList.h"
#include "FormState.h"
#include "stat.h"
#include "types.h"

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QTimer;
class QToolButton;
class TCommandPanel;
class TCustomCmd;
class TFloatEdit;
class THXT;
class TRollPanel;
class TPlotWindow;
class TReconnector;
class TResultsLog;
class TSplitterBar;
struct TSystemLimits;

class TMainWin : public QMainWindow {
    Q_OBJECT
public:
    explicit TMainWin(QWidget* parent = nullptr);
    ~TMainWin() override;

    THXT* Gripper() const { return FGripper; }
    TCustomCmd* CustomCmd() const { return FCustomCmd; }
    TPlotWindow* PlotWindow() const { return FPlot; }
    TReconnector* Reconnector() const { return FReconnector; }
    int32_t PreviousState() const { return FPreviousState; }
    const std::vector<QCheckBox*>& FlagBoxes() const { return FFlagBoxes; }

    // Connected (true) or disconnected look of the window.
    void EnableControls(bool enabled);
    // Builds one read-only check box per system-state flag in RollPanel1.
    void CreateFlagBoxes(int left, int top, int step, int width);
    // Ticks the flag boxes whose flag is set in `state`.
    void ShowFlags(uint32_t state);
    // Gives an edit the gripper's range after connecting.
    void SetEditRange(TFloatEdit* edit, const QString& unit, double minimum, double maximum);

    // Menu handlers.
    void Connect1Click();
    void Disconnect1Click();
    void Reconnect1Click();
    void AutoReconnect1Click();
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
    void FloatEditChange(TFloatEdit* sender);
    void TrackbarChange(QSlider* sender);

    // Layout handlers of the collapsible panels.
    void RollPanel2Resize();
    void RollPanel3Resize();

    // Menu.
    QMenu* File1;
    QAction* Connect1;
    QAction* Disconnect1;
    QAction* Reconnect1;
    QAction* AutoReconnect1;
    QAction* Quit1;
    QMenu* Commands1;
    QAction* GetSystemInfo1;
    QAction* GetSystemLimits1;
    QAction* GetGraspingStatistics1;
    QAction* Homing1;
    QAction* EmergencyStopAcknowledge1;
    QAction* CustomCommands1;
    QMenu* View1;
    QAction* Commandlog1;
    QAction* Plot1;
    QAction* TimesInResults1;
    QMenu* Help1;
    QAction* KeyboardShortcuts1;
    QAction* About1;
    // Right side of the status bar: the link, its state and packet counts.
    QLabel* lbConnection;

    // Right column: state display and Fast Stop.
    QWidget* pnRight;
    QScrollArea* sbState;
    TRollPanel* RollPanel3;
    QWidget* pnState;
    QLabel* lbStateTitle;
    QLabel* lbPositionTitle;
    QLabel* lbGraspingState;
    QLabel* lbPosition;
    QLabel* lbSpeed;
    QLabel* lbForce;
    TRollPanel* RollPanel1;
    QLabel* lbSystemstateTitle;
    QLabel* lbSystemstate;
    QWidget* pnEmergency;
    QToolButton* btnEmergencyStop;
    QLabel* imgEmergency;

    // Left area: command panels and the results log.
    QWidget* pnLeft;
    QScrollArea* sbCommands;
    TCommandPanel* pnAcc;
    TCommandPanel* pnForce;
    TCommandPanel* pnGoto;
    TCommandPanel* pnGrasp;
    TCommandPanel* pnRelease;
    TCommandPanel* pnStop;
    TFloatEdit* edAcc;
    QSlider* tbAcc;
    QPushButton* btnApplyAcc;
    TFloatEdit* edForce;
    QSlider* tbForce;
    QPushButton* btnApplyForce;
    TFloatEdit* edGotoPos;
    QSlider* tbGotoPos;
    TFloatEdit* edGotoSpeed;
    QSlider* tbGotoSpeed;
    QPushButton* btnGoto;
    TFloatEdit* edGraspingPos;
    QSlider* tbGraspingPos;
    TFloatEdit* edGraspingSpeed;
    QSlider* tbGraspingSpeed;
    QPushButton* btnGrasp;
    TFloatEdit* edReleasePos;
    QSlider* tbReleasePos;
    TFloatEdit* edReleaseSpeed;
    QSlider* tbReleaseSpeed;
    QPushButton* btnRelease;
    QPushButton* btnStop;
    // Under the command panels while the gripper is in fast stop.
    QLabel* lbFastStop;
    TSplitterBar* Splitter1;
    TRollPanel* RollPanel2;
    QPlainTextEdit* AsyncLog;

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct TEditTrackPair {
        TFloatEdit* edit;
        QSlider* track;
    };

    void CreateMenu();
    QWidget* CreateRightColumn();
    // Widens the right column where its texts need more than its design width.
    void FitRightColumn();
    TRollPanel* CreateRollPanel(const QString& name, const QString& caption, int height, QWidget* parent);
    void CreateStatePanel(QWidget* parent);
    void CreateSystemStatePanel(QWidget* parent);
    QWidget* CreateEmergencyPanel(QWidget* parent);
    QWidget* CreateLeftArea();
    QWidget* CreateCommandPanels();
    TFloatEdit* CreateFloatEdit(const QString& name, const QString& text, double maxValue, QWidget* parent);
    QSlider* CreateTrackBar(const QString& name, QWidget* parent);
    void AddPair(TCommandPanel* panel, const QString& caption, TFloatEdit* edit, QSlider* track, const QString& unit);
    // Gives the edits of the motion panels the gripper's ranges.
    void ApplyLimits(const TSystemLimits& limits);
    void UpdateCommandButtons();
    // The pair `control` (an edit or a track bar) belongs to, or null.
    const TEditTrackPair* PairOf(const QWidget* control) const;
    // Puts the pair's track bar where its edit's value lies in its range.
    void FollowEdit(const TEditTrackPair& pair);
    // Shows `prefix` + the status text when `status` is an error, with advice
    // where the gripper's state tells the cause.
    void ReportFailure(TStat status, const QString& prefix);
    // The same for a motion command, which also writes a refusal to the
    // results log.
    void ReportMotionFailure(uint8_t command, TStat status, const QString& prefix);
    // "Cannot connect to target: " with the status text, and the device's
    // cause and remedy below it where it told them.
    void ReportConnectFailure(TStat status);
    // Shows a transaction the gripper object refused for depth in the
    // results log (after `prefix`) and the status bar instead of a message
    // box; false for any other status.
    bool ReportRefusal(TStat status, const QString& prefix);
    TAsyncResultEvent ResultHandler();
    // Takes the link's reports from the operator's error box while the
    // window reconnects by itself.
    void InstallReportFilter();
    void UpdateConnectionItems();
    void UpdateLinkStatus();
    // Shows `window` at its remembered placement the first time.
    void ShowPlaced(QWidget* window, const TFormState& state, bool& placed, bool visible);

    THXT* FGripper = nullptr;
    int32_t FPreviousState = -1;
    // The position reports are being asked for again (see SystemStateChanged).
    bool FRequestingPosition = false;
    TCustomCmd* FCustomCmd = nullptr;
    TPlotWindow* FPlot = nullptr;
    std::vector<QCheckBox*> FFlagBoxes;
    std::vector<TEditTrackPair> FPairs;
    TFormState FFormState;
    bool FPlacementRestored = false;
    TFormState FCommLogState;
    TFormState FCustomCmdState;
    bool FCommLogPlaced = false;
    bool FCustomCmdPlaced = false;
    TReconnector* FReconnector = nullptr;
    std::unique_ptr<TResultsLog> FResults;
    QTimer* FStatusTimer = nullptr;
};
