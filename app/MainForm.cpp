#include "MainForm.h"

#include "About.h"
#include "AppResources.h"
#include "CommLogForm.h"
#include "ConnectionString.h"
#include "ConnectionController.h"
#include "CustomCmdForm.h"
#include "DialogRunner.h"
#include "FindGripperDialog.h"
#include "FloatEdit.h"
#include "GripperOperator.h"
#include "HXTForm.h"
#include "HXT_commands.h"
#include "InfoDialogs.h"
#include "LinkStatusBar.h"
#include "MessageDialog.h"
#include "MotionPresenter.h"
#include "PanelParts.h"
#include "PlotWindow.h"
#include "Reconnector.h"
#include "ResultsLog.h"
#include "ShortcutList.h"
#include "ToolPlacement.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolButton>

namespace {

constexpr uint32_t FastStopFlag = 0x1000;
constexpr int RefusalMessageMs = 5000;
const QString IniFileName = QStringLiteral("Analyzer.ini");

}

TMainWin::TMainWin(QWidget* parent)
    : QMainWindow(parent), FFormState(IniFileName, QStringLiteral("MainWin")),
      FCommLogPlacement(std::make_unique<TToolPlacement>(IniFileName, QStringLiteral("CommLog"))),
      FCustomCmdPlacement(std::make_unique<TToolPlacement>(IniFileName, QStringLiteral("CustomCmd")))
{
    RegisterAppResources();
    setObjectName(QStringLiteral("MainWin"));
    setWindowTitle(QStringLiteral("KRM Commander"));
    setMinimumSize(300, 480);
    resize(681, 779);

    CreateMenu(menuBar());
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(CreateLeftArea(this), 1);
    columns->addWidget(CreateRightColumn(this));
    setCentralWidget(central);
    FResults = std::make_unique<TResultsLog>(AsyncLog, IniFileName, QStringLiteral("Results"));
    TimesInResults1->setChecked(FResults->Times());
    DetailsInResults1->setChecked(FResults->Details());

    FGripper = new THXT(this);
    AttachOperator(*FGripper);
    ConnectGripper();
    AutoReconnect1->setChecked(FConnection->Reconnector()->AutoReconnect());
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    FStatus = new TLinkStatusBar(statusBar(), *FConnection->Reconnector(), *FGripper);
    lbConnection = FStatus->Label();

    FCustomCmd = new TCustomCmd(this);
    FCustomCmd->SetGripper(FGripper);
    FPlot = new TPlotWindow(this);

    ConnectMenu();
    ConnectButtons();
    CreateFlagBoxes(16, 64, 16, RightColumnWidth - 20);
    FitRightColumn();
    EnableControls(false);
    UpdateConnectionItems();
    UpdateLinkStatus();
    ShowShortcutsInTips(*this);
}

TMainWin::~TMainWin()
{
    FCommLogPlacement->Save();
    FCustomCmdPlacement->Save();
    QString error;
    if (!FFormState.Save(this, &error))
        ShowError(QStringLiteral("Cannot save the window placement in %1: %2.").arg(SettingsFilePath(FFormState.FileName()), error));
}

TReconnector* TMainWin::Reconnector() const
{
    return FConnection->Reconnector();
}

int32_t TMainWin::PreviousState() const
{
    return FConnection->PreviousState();
}

void TMainWin::showEvent(QShowEvent* event)
{
    if (!FPlacementRestored) {
        FPlacementRestored = true;
        FFormState.Place(this);
    }
    QMainWindow::showEvent(event);
}

void TMainWin::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    UpdateLinkStatus();
}

bool TMainWin::event(QEvent* event)
{
    if (event->type() != QEvent::StatusTip || !FStatus)
        return QMainWindow::event(event);
    FStatus->ShowHint(static_cast<QStatusTipEvent*>(event)->tip());
    return true;
}

// ---------------------------------------------------------------- wiring

void TMainWin::ConnectGripper()
{
    FConnection = new TConnectionController(*FGripper, IniFileName, QStringLiteral("Connection"), this);
    FConnection->OnChanged = [this] {
        UpdateConnectionItems();
        UpdateLinkStatus();
    };
    FConnection->OnLog = [this](const QString& line) { FResults->Append(line); };
    FConnection->OnError = [](const QString& text) { ShowError(text); };
    FConnection->OnConnected = [this] { GripperConnected(FGripper); };
    FConnection->OnLimits = [this](const TSystemLimits& limits) {
        EnableControls(true);
        ApplyLimits(limits);
    };
    FConnection->OnSettings = [this](const TRunningSettings& settings) { ShowRunningSettings(settings); };
    FConnection->OnDisconnected = [this] { GripperDisconnected(FGripper); };
    FConnection->OnSystemState = [this](uint32_t) { SystemStateChanged(FGripper); };
    FGripper->OnGraspingState = [this](QObject* sender) { GraspingStateChanged(sender); };
    FGripper->OnPosition = [this](QObject* sender) { PositionChanged(sender); };
    FGripper->OnSpeed = [this](QObject* sender) { SpeedChanged(sender); };
    FGripper->OnForce = [this](QObject* sender) { ForceChanged(sender); };

    FMotions = new TMotionPresenter(*FGripper, this);
    FMotions->SetDetails(FResults->Details());
    FMotions->OnResult = [this](int id, TStat status, const TByteArray& data) { MotionResult(this, id, status, data); };
    FMotions->OnLog = [this](const QString& line) { FResults->Append(line); };
    FMotions->OnError = [](const QString& text) { ShowError(text); };
    FMotions->OnNotice = [this](const QString& text) { FStatus->ShowHint(text, RefusalMessageMs); };
}

void TMainWin::ConnectMenu()
{
    connect(Connect1, &QAction::triggered, this, [this] { Connect1Click(); });
    connect(Disconnect1, &QAction::triggered, this, [this] { Disconnect1Click(); });
    connect(Reconnect1, &QAction::triggered, this, [this] { Reconnect1Click(); });
    connect(AutoReconnect1, &QAction::triggered, this, [this] { AutoReconnect1Click(); });
    connect(FindGripper1, &QAction::triggered, this, [this] { FindGripper1Click(); });
    connect(Quit1, &QAction::triggered, this, &QWidget::close);
    connect(GetSystemInfo1, &QAction::triggered, this, [this] { GetSystemInfo1Click(); });
    connect(GetSystemLimits1, &QAction::triggered, this, [this] { GetSystemLimits1Click(); });
    connect(GetGraspingStatistics1, &QAction::triggered, this, [this] { GetGraspingStatistics1Click(); });
    connect(Homing1, &QAction::triggered, this, [this] { Homing1Click(); });
    connect(EmergencyStopAcknowledge1, &QAction::triggered, this, [this] { EmergencyStopAcknowledge1Click(); });
    connect(CustomCommands1, &QAction::triggered, this, [this] { CustomCommands1Click(); });
    connect(Commandlog1, &QAction::triggered, this, [this] { Commandlog1Click(); });
    connect(TimesInResults1, &QAction::triggered, this, [this](bool checked) { FResults->SetTimes(checked); });
    connect(DetailsInResults1, &QAction::triggered, this, [this](bool checked) {
        FResults->SetDetails(checked);
        FMotions->SetDetails(checked);
    });
    connect(Plot1, &QAction::triggered, this, [this] {
        KeepOnScreen(FPlot);
        FPlot->show();
        FPlot->raise();
        FPlot->activateWindow();
    });
    connect(KeyboardShortcuts1, &QAction::triggered, this, [this] { KeyboardShortcuts1Click(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });
}

void TMainWin::ConnectButtons()
{
    connect(btnApplyAcc, &QPushButton::clicked, this, [this] { btnApplyAccClick(); });
    connect(btnApplyForce, &QPushButton::clicked, this, [this] { btnApplyForceClick(); });
    connect(btnGoto, &QPushButton::clicked, this, [this] { btnGotoClick(); });
    connect(btnGrasp, &QPushButton::clicked, this, [this] { btnGraspClick(); });
    connect(btnRelease, &QPushButton::clicked, this, [this] { btnReleaseClick(); });
    connect(btnStop, &QPushButton::clicked, this, [this] { btnStopClick(); });
    connect(btnEmergencyStop, &QToolButton::clicked, this, [this] { btnEmergencyStopClick(); });
}

// ---------------------------------------------------------------- state display

void TMainWin::ShowFlags(uint32_t state)
{
    TickFlags(state);
    ShowFastStop((state & FastStopFlag) != 0,
                 EmergencyStopAcknowledge1->shortcut().toString(QKeySequence::NativeText));
}

void TMainWin::EnableControls(bool enabled)
{
    // The command panels are disabled as a whole; inside them the buttons
    // keep following the validity of their edits.
    sbCommands->widget()->setEnabled(enabled);
    btnEmergencyStop->setEnabled(enabled);
    for (QAction* item : Commands1->actions())
        item->setEnabled(true);
    if (!enabled) {
        ClearValues();
        ShowFlags(0);
        CustomCommands1->setChecked(false);
    }
}

void TMainWin::SystemStateChanged(QObject*)
{
    const uint32_t state = FGripper->SystemState();
    lbSystemstate->setText(QString::asprintf("%.8Xh", state));
    ShowFlags(state);
    btnEmergencyStop->setChecked((state & FastStopFlag) != 0);
}

void TMainWin::GraspingStateChanged(QObject*)
{
    lbGraspingState->setText(GraspingStateCaption(FGripper->GraspingState()));
}

void TMainWin::PositionChanged(QObject*)
{
    lbPosition->setText(FixedText(static_cast<double>(FGripper->Position())) + QStringLiteral(" mm"));
    FPlot->Record(TPlotSignal::Position, FGripper->Position());
}

void TMainWin::SpeedChanged(QObject*)
{
    lbSpeed->setText(FixedText(static_cast<double>(FGripper->Speed())) + QStringLiteral(" mm/s"));
    FPlot->Record(TPlotSignal::Speed, FGripper->Speed());
}

void TMainWin::ForceChanged(QObject*)
{
    lbForce->setText(FixedText(static_cast<double>(FGripper->Force())) + QStringLiteral(" N"));
    FPlot->Record(TPlotSignal::Force, FGripper->Force());
}

void TMainWin::MotionResult(QObject*, int id, TStat status, const TByteArray& data)
{
    FMotions->Finished(id, status, data);
}

// ---------------------------------------------------------------- connection

void TMainWin::Connect1Click()
{
    if (FConnection->Connect() != E_SUCCESS)
        Connect1->setEnabled(true);
}

void TMainWin::Disconnect1Click()
{
    FConnection->Disconnect();
}

void TMainWin::Reconnect1Click()
{
    FConnection->Reconnect();
}

void TMainWin::AutoReconnect1Click()
{
    FConnection->SetAutoReconnect(AutoReconnect1->isChecked());
}

void TMainWin::FindGripper1Click()
{
    TFindGripperDlg dialog(FindGripperOptions, this);
    dialog.Search();
    if (RunDialog(dialog) != QDialog::Accepted || dialog.Chosen().isEmpty())
        return;
    TConnectionParams params;
    try {
        params = ParseConnectionString(dialog.Chosen());
    } catch (const TConnectionStringError& e) {
        ShowError(QStringLiteral("Cannot connect to %1: %2").arg(dialog.Chosen(), QString::fromStdString(e.what())));
        return;
    }
    // The operator chose this gripper over the one connected.
    if (FGripper->IsConnected())
        FConnection->Disconnect();
    if (FConnection->Connect(params) != E_SUCCESS)
        Connect1->setEnabled(true);
}

void TMainWin::UpdateConnectionItems()
{
    Reconnect1->setEnabled(FConnection->CanReconnect());
    // While connected, Disconnect follows the link's events (it is enabled
    // once the link is up, see GripperConnected).
    if (FConnection->Reconnector()->Retrying())
        Disconnect1->setEnabled(true);
    else if (!FGripper->IsConnected())
        Disconnect1->setEnabled(false);
}

void TMainWin::UpdateLinkStatus()
{
    if (FStatus)
        FStatus->Update();
}

void TMainWin::GripperConnected(QObject*)
{
    if (CommLog)
        CommLog->MarkConnected();
    Connect1->setEnabled(false);
    Disconnect1->setEnabled(true);
}

void TMainWin::GripperDisconnected(QObject*)
{
    Connect1->setEnabled(true);
    Disconnect1->setEnabled(false);
    EnableControls(false);
}

// ---------------------------------------------------------------- tool windows and dialogs

// The two toggles are checkable menu items: choosing one inverts its check
// mark before its handler runs, and the handler shows or hides the window.
void TMainWin::Commandlog1Click()
{
    if (CommLog)
        FCommLogPlacement->Show(CommLog, Commandlog1->isChecked());
}

void TMainWin::CustomCommands1Click()
{
    FCustomCmdPlacement->Show(FCustomCmd, CustomCommands1->isChecked());
}

void TMainWin::About1Click()
{
    ShowInformation(AboutText());
}

void TMainWin::KeyboardShortcuts1Click()
{
    ShowShortcutsDialog(*this);
}

void TMainWin::GetSystemInfo1Click()
{
    TSystemInfo info;
    const TStat status = FGripper->GetSystemInfo(info);
    if (status != E_SUCCESS)
        FMotions->ReportFailure(status, QStringLiteral("Cannot read system information: "));
    else
        ShowInfoDialog(this, QStringLiteral("System Information"), SystemInfoRows(info));
}

void TMainWin::GetSystemLimits1Click()
{
    TSystemLimits limits;
    const TStat status = FGripper->GetSystemLimits(limits);
    if (status != E_SUCCESS)
        FMotions->ReportFailure(status, QStringLiteral("Cannot read gripper system limits: "));
    else
        ShowInfoDialog(this, QStringLiteral("Gripper System Limits"), SystemLimitsRows(limits));
}

void TMainWin::GetGraspingStatistics1Click()
{
    TGraspingStats stats;
    const TStat status = FGripper->GetGraspingStats(stats, false);
    if (status != E_SUCCESS)
        FMotions->ReportFailure(status, QStringLiteral("Cannot read grasping statistics: "));
    else
        ShowInfoDialog(this, QStringLiteral("Grasping Statistics"), GraspingStatsRows(stats));
}

// ---------------------------------------------------------------- motion panels

void TMainWin::btnApplyAccClick()
{
    FMotions->SetAcceleration(static_cast<float>(edAcc->Value()));
}

void TMainWin::btnApplyForceClick()
{
    FMotions->SetForceLimit(static_cast<float>(edForce->Value()));
}

void TMainWin::btnGotoClick()
{
    FMotions->Goto(static_cast<float>(edGotoPos->Value()), static_cast<float>(edGotoSpeed->Value()));
}

void TMainWin::btnGraspClick()
{
    FMotions->Grasp(static_cast<float>(edGraspingPos->Value()), static_cast<float>(edGraspingSpeed->Value()));
}

void TMainWin::btnReleaseClick()
{
    FMotions->Release(static_cast<float>(edReleasePos->Value()), static_cast<float>(edReleaseSpeed->Value()));
}

void TMainWin::btnStopClick()
{
    FMotions->Stop();
}

void TMainWin::Homing1Click()
{
    FMotions->Homing();
}

void TMainWin::btnEmergencyStopClick()
{
    btnEmergencyStop->setChecked(FMotions->FastStop());
}

void TMainWin::EmergencyStopAcknowledge1Click()
{
    if (FMotions->AcknowledgeFastStop())
        btnEmergencyStop->setChecked(false);
}
