#include "MainForm.h"

#include "About.h"
#include "AppColors.h"
#include "AppResources.h"
#include "CommLogForm.h"
#include "CommandPanel.h"
#include "CustomCmdForm.h"
#include "ErrorHints.h"
#include "FloatEdit.h"
#include "GripperOperator.h"
#include "GripperReadBack.h"
#include "HXTForm.h"
#include "HXT_commands.h"
#include "IniFile.h"
#include "InfoRows.h"
#include "ListBoxDialog.h"
#include "MessageDialog.h"
#include "PlotWindow.h"
#include "Reconnector.h"
#include "ResultsLog.h"
#include "RollPanel.h"
#include "ShortcutList.h"
#include "SplitterBar.h"
#include "TrackCoupling.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QString NotAvailable = QStringLiteral("[n/a]");
constexpr int TrackMaximum = 1000;
constexpr uint32_t ReferencedFlag = 0x1;
constexpr uint32_t FastStopFlag = 0x1000;
// Temperature, power, current and finger fault, command and script failure.
constexpr uint32_t FaultFlags = 0x4000 | 0x8000 | 0x10000 | 0x20000 | 0x40000 | 0x100000;
constexpr int RightColumnWidth = 169;
constexpr int AsyncLogOffset = 8;
constexpr int RefusalMessageMs = 5000;
constexpr int LinkStatusRefreshMs = 250;
// The status bar's margins and spacing around its message and its widgets.
constexpr int StatusBarOverhead = 36;
const QString IniFileName = QStringLiteral("Analyzer.ini");

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

QLabel* MakeLabel(const QString& name, const QString& caption, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    return label;
}

QAction* MakeAction(QMenu* menu, const QString& name, const QString& caption, const QKeySequence& shortcut = {})
{
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    action->setShortcut(shortcut);
    return action;
}

// Fixed notation with two decimals and the user's decimal separator, without
// group separators (the float edits do not accept them).
QString FixedText(double value)
{
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', 2);
}

// An invalid float edit draws its text in red (its error font is bold red).
QString GraspingStateCaption(uint8_t state)
{
    if (state < GraspingStateCount)
        return QString::fromLatin1(GraspingStateText[state]);
    return QStringLiteral("unknown (%1)").arg(state);
}

}

TMainWin::TMainWin(QWidget* parent)
    : QMainWindow(parent), FFormState(IniFileName, QStringLiteral("MainWin")),
      FCommLogState(IniFileName, QStringLiteral("CommLog")), FCustomCmdState(IniFileName, QStringLiteral("CustomCmd"))
{
    RegisterAppResources();
    setObjectName(QStringLiteral("MainWin"));
    setWindowTitle(QStringLiteral("KRM Commander"));
    setMinimumSize(300, 480);
    resize(681, 779);

    CreateMenu();
    auto* central = new QWidget(this);
    auto* columns = new QHBoxLayout(central);
    columns->setContentsMargins(0, 0, 0, 0);
    columns->setSpacing(0);
    columns->addWidget(CreateLeftArea(), 1);
    columns->addWidget(CreateRightColumn());
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    lbConnection = MakeLabel(QStringLiteral("lbConnection"), QString(), statusBar());
    statusBar()->addPermanentWidget(lbConnection);
    FResults = std::make_unique<TResultsLog>(AsyncLog, IniFileName, QStringLiteral("Results"));
    TimesInResults1->setChecked(FResults->Times());
    connect(statusBar(), &QStatusBar::messageChanged, this, [this] { UpdateLinkStatus(); });

    FGripper = new THXT(this);
    AttachOperator(*FGripper);
    InstallReportFilter();
    FReconnector = new TReconnector(*FGripper, IniFileName, QStringLiteral("Connection"), this);
    FReconnector->OnChanged = [this] {
        UpdateConnectionItems();
        UpdateLinkStatus();
    };
    FReconnector->OnLog = [this](const QString& line) { FResults->Append(line); };
    AutoReconnect1->setChecked(FReconnector->AutoReconnect());
    FStatusTimer = new QTimer(this);
    FStatusTimer->setInterval(LinkStatusRefreshMs);
    connect(FStatusTimer, &QTimer::timeout, this, [this] { UpdateLinkStatus(); });
    FStatusTimer->start();
    FGripper->OnConnect = [this](QObject* sender) { GripperConnected(sender); };
    FGripper->OnDisconnect = [this](QObject* sender) { GripperDisconnected(sender); };
    FGripper->OnSystemState = [this](QObject* sender) { SystemStateChanged(sender); };
    FGripper->OnGraspingState = [this](QObject* sender) { GraspingStateChanged(sender); };
    FGripper->OnPosition = [this](QObject* sender) { PositionChanged(sender); };
    FGripper->OnSpeed = [this](QObject* sender) { SpeedChanged(sender); };
    FGripper->OnForce = [this](QObject* sender) { ForceChanged(sender); };

    FCustomCmd = new TCustomCmd(this);
    FCustomCmd->SetGripper(FGripper);
    FPlot = new TPlotWindow(this);

    // Track bars and buttons follow the design values. The force edit is not
    // among them: its track bar stays at 0 until the edit changes.
    for (TFloatEdit* edit : {edAcc, edGotoPos, edGotoSpeed, edGraspingPos, edGraspingSpeed, edReleasePos, edReleaseSpeed})
        FloatEditChange(edit);

    CreateFlagBoxes(16, 64, 16, RightColumnWidth - 20);
    FitRightColumn();
    EnableControls(false);
    UpdateConnectionItems();
    UpdateLinkStatus();
    ShowShortcutsInTips(*this);
}

TMainWin::~TMainWin()
{
    // The other windows' placements go quietly: a file that cannot be
    // written is reported once, for the main window's.
    if (FCommLogPlaced && CommLog)
        (void)FCommLogState.Save(CommLog);
    if (FCustomCmdPlaced)
        (void)FCustomCmdState.Save(FCustomCmd);
    QString error;
    if (!FFormState.Save(this, &error))
        ShowError(QStringLiteral("Cannot save the window placement in %1: %2.").arg(SettingsFilePath(FFormState.FileName()), error));
}

void TMainWin::showEvent(QShowEvent* event)
{
    if (!FPlacementRestored) {
        FPlacementRestored = true;
        if (!FFormState.Restore(this))
            FitToScreen(this);
    }
    QMainWindow::showEvent(event);
}

// ---------------------------------------------------------------- layout

void TMainWin::CreateMenu()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    File1 = bar->addMenu(QStringLiteral("&Gripper"));
    File1->setObjectName(QStringLiteral("File1"));
    Connect1 = MakeAction(File1, QStringLiteral("Connect1"), QStringLiteral("&Connect"), Qt::Key_F2);
    Disconnect1 = MakeAction(File1, QStringLiteral("Disconnect1"), QStringLiteral("Disconnect"), Qt::Key_F3);
    Disconnect1->setEnabled(false);
    Reconnect1 = MakeAction(File1, QStringLiteral("Reconnect1"), QStringLiteral("&Reconnect"), QKeySequence(Qt::CTRL | Qt::Key_R));
    AutoReconnect1 = MakeAction(File1, QStringLiteral("AutoReconnect1"), QStringLiteral("Reconnect &automatically"));
    AutoReconnect1->setCheckable(true);
    File1->addSeparator();
    Quit1 = MakeAction(File1, QStringLiteral("Quit1"), QStringLiteral("&Quit"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(Connect1, &QAction::triggered, this, [this] { Connect1Click(); });
    connect(Disconnect1, &QAction::triggered, this, [this] { Disconnect1Click(); });
    connect(Reconnect1, &QAction::triggered, this, [this] { Reconnect1Click(); });
    connect(AutoReconnect1, &QAction::triggered, this, [this] { AutoReconnect1Click(); });
    connect(Quit1, &QAction::triggered, this, &QWidget::close);

    Commands1 = bar->addMenu(QStringLiteral("&Commands"));
    Commands1->setObjectName(QStringLiteral("Commands1"));
    GetSystemInfo1 = MakeAction(Commands1, QStringLiteral("GetSystemInfo1"), QStringLiteral("Get System &Info"));
    GetSystemLimits1 = MakeAction(Commands1, QStringLiteral("GetSystemLimits1"), QStringLiteral("Get System &Limits"));
    Commands1->addSeparator();
    GetGraspingStatistics1 = MakeAction(Commands1, QStringLiteral("GetGraspingStatistics1"),
                                        QStringLiteral("Get Grasping &Statistics"));
    Commands1->addSeparator();
    Homing1 = MakeAction(Commands1, QStringLiteral("Homing1"), QStringLiteral("&Homing"),
                         QKeySequence(Qt::CTRL | Qt::Key_H));
    EmergencyStopAcknowledge1 = MakeAction(Commands1, QStringLiteral("EmergencyStopAcknowledge1"),
                                           QStringLiteral("&Acknowledge an Emergency Stop"),
                                           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A));
    Commands1->addSeparator();
    CustomCommands1 = MakeAction(Commands1, QStringLiteral("CustomCommands1"), QStringLiteral("&Command Editor..."),
                                 Qt::Key_F5);
    CustomCommands1->setCheckable(true);
    connect(GetSystemInfo1, &QAction::triggered, this, [this] { GetSystemInfo1Click(); });
    connect(GetSystemLimits1, &QAction::triggered, this, [this] { GetSystemLimits1Click(); });
    connect(GetGraspingStatistics1, &QAction::triggered, this, [this] { GetGraspingStatistics1Click(); });
    connect(Homing1, &QAction::triggered, this, [this] { Homing1Click(); });
    connect(EmergencyStopAcknowledge1, &QAction::triggered, this, [this] { EmergencyStopAcknowledge1Click(); });
    connect(CustomCommands1, &QAction::triggered, this, [this] { CustomCommands1Click(); });

    View1 = bar->addMenu(QStringLiteral("&View"));
    View1->setObjectName(QStringLiteral("View1"));
    Commandlog1 = MakeAction(View1, QStringLiteral("Commandlog1"), QStringLiteral("&Command log"));
    Commandlog1->setCheckable(true);
    connect(Commandlog1, &QAction::triggered, this, [this] { Commandlog1Click(); });
    Plot1 = MakeAction(View1, QStringLiteral("Plot1"), QStringLiteral("&Plot"), Qt::Key_F6);
    TimesInResults1 = MakeAction(View1, QStringLiteral("TimesInResults1"), QStringLiteral("&Times in results"));
    TimesInResults1->setCheckable(true);
    connect(TimesInResults1, &QAction::triggered, this, [this](bool checked) { FResults->SetTimes(checked); });
    connect(Plot1, &QAction::triggered, this, [this] {
        KeepOnScreen(FPlot);
        FPlot->show();
        FPlot->raise();
        FPlot->activateWindow();
    });

    Help1 = bar->addMenu(QStringLiteral("&Help"));
    Help1->setObjectName(QStringLiteral("Help1"));
    KeyboardShortcuts1 = MakeAction(Help1, QStringLiteral("KeyboardShortcuts1"), QStringLiteral("&Keyboard shortcuts"),
                                    Qt::Key_F1);
    About1 = MakeAction(Help1, QStringLiteral("About1"), QStringLiteral("&About..."));
    connect(KeyboardShortcuts1, &QAction::triggered, this, [this] { KeyboardShortcuts1Click(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });
}

TRollPanel* TMainWin::CreateRollPanel(const QString& name, const QString& caption, int height, QWidget* parent)
{
    auto* panel = new TRollPanel(parent);
    panel->setObjectName(name);
    panel->SetCaption(caption);
    panel->SetRadius(4);
    panel->SetAnimationSpeed(150);
    panel->SetCaptionHeight(20);
    panel->SetCaptionGradientMode(gmUser);
    panel->SetCaptionColorFrom(AppColors::CaptionDark);
    panel->SetCaptionColorTo(AppColors::CaptionStrip);
    panel->SetCaptionFontColor(Qt::white);
    panel->SetAllowResize(false);
    // The automatic body gradient lightens towards grey, which light text
    // on a dark palette does not stand out from.
    if (AppColors::IsDark(panel->palette()))
        panel->SetPanelGradientMode(gmNone);
    panel->SetState(rpExpanded);
    panel->resize(RightColumnWidth, height);
    return panel;
}

QWidget* TMainWin::CreateRightColumn()
{
    pnRight = new QWidget(this);
    pnRight->setObjectName(QStringLiteral("pnRight"));
    pnRight->setFixedWidth(RightColumnWidth);
    auto* layout = new QVBoxLayout(pnRight);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    sbState = new QScrollArea(pnRight);
    sbState->setObjectName(QStringLiteral("sbState"));
    sbState->setFrameShape(QFrame::NoFrame);
    sbState->setWidgetResizable(true);
    sbState->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* stack = new QWidget(sbState);
    auto* stackLayout = new QVBoxLayout(stack);
    stackLayout->setContentsMargins(0, 0, 0, 0);
    stackLayout->setSpacing(0);
    CreateStatePanel(stack);
    CreateSystemStatePanel(stack);
    stackLayout->addWidget(RollPanel3);
    stackLayout->addWidget(RollPanel1);
    stackLayout->addStretch(1);
    sbState->setWidget(stack);
    // Queued: the scroll area reports the range while it lays out its
    // children, which a new width must not interrupt.
    connect(sbState->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this] { FitRightColumn(); },
            Qt::QueuedConnection);
    layout->addWidget(sbState, 1);
    layout->addWidget(CreateEmergencyPanel(pnRight));
    return pnRight;
}

void TMainWin::FitRightColumn()
{
    // The column is wider than its design width where the user's font needs
    // it: the flag boxes, and the state values within the panel's client
    // area; and wider by the scroll bar while a low window shows one beside
    // them.
    int content = pnState->x() + pnState->minimumSizeHint().width() + RollPanel3->width() - RollPanel3->ClientWidth();
    for (const QCheckBox* box : FFlagBoxes)
        content = std::max(content, box->x() + box->width() + 3);
    const QScrollBar* scrollBar = sbState->verticalScrollBar();
    const int scrollBarWidth = scrollBar->maximum() > 0 ? scrollBar->sizeHint().width() : 0;
    pnRight->setFixedWidth(std::max(RightColumnWidth, content + scrollBarWidth));
}

void TMainWin::CreateStatePanel(QWidget* parent)
{
    pnState = new QFrame;
    pnState->setObjectName(QStringLiteral("pnState"));
    pnState->setAutoFillBackground(true);
    QPalette black = pnState->palette();
    black.setColor(QPalette::Window, Qt::black);
    black.setColor(QPalette::WindowText, AppColors::StateText);
    pnState->setPalette(black);

    lbStateTitle = MakeLabel(QStringLiteral("lbStateTitle"), QStringLiteral("State:"), pnState);
    lbPositionTitle = MakeLabel(QStringLiteral("lbPositionTitle"), QStringLiteral("Position:"), pnState);
    lbGraspingState = MakeLabel(QStringLiteral("lbGraspingState"), QStringLiteral("--"), pnState);
    lbPosition = MakeLabel(QStringLiteral("lbPosition"), QStringLiteral("0 mm"), pnState);
    lbSpeed = MakeLabel(QStringLiteral("lbSpeed"), NotAvailable, pnState);
    lbForce = MakeLabel(QStringLiteral("lbForce"), NotAvailable, pnState);
    QFont bold = lbGraspingState->font();
    bold.setBold(true);
    // Each row is its title on the left and its value on the right; a value
    // may reach into the room a longer title of another row takes. A value
    // is as wide as the widest it shows, so a changing one never runs into
    // its title.
    const QFontMetrics boldMetrics(bold);
    const auto widest = [&boldMetrics](const QStringList& samples) {
        int width = 0;
        for (const QString& sample : samples)
            width = std::max(width, boldMetrics.horizontalAdvance(sample));
        return width;
    };
    QStringList states{GraspingStateCaption(255), NotAvailable};
    for (uint8_t state = 0; state < GraspingStateCount; ++state)
        states << GraspingStateCaption(state);
    const QString number = FixedText(-888.88);
    auto* rows = new QVBoxLayout(pnState);
    rows->setContentsMargins(4, 4, 4, 4);
    rows->setSpacing(4);
    const auto addRow = [&](QLabel* title, QLabel* value, const QStringList& samples) {
        value->setFont(bold);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setMinimumWidth(widest(samples));
        auto* row = new QHBoxLayout;
        row->setSpacing(6);
        row->addWidget(title);
        row->addStretch(1);
        row->addWidget(value);
        rows->addLayout(row);
    };
    addRow(lbStateTitle, lbGraspingState, states);
    addRow(lbPositionTitle, lbPosition, {number + QStringLiteral(" mm"), NotAvailable});
    addRow(MakeLabel(QStringLiteral("lbSpeedTitle"), QStringLiteral("Speed:"), pnState), lbSpeed,
           {number + QStringLiteral(" mm/s"), NotAvailable});
    addRow(MakeLabel(QStringLiteral("lbForceTitle"), QStringLiteral("Force:"), pnState), lbForce,
           {number + QStringLiteral(" N"), NotAvailable});

    RollPanel3 = CreateRollPanel(QStringLiteral("RollPanel3"), QStringLiteral("Grasping state"),
                                 std::max(88, 30 + pnState->sizeHint().height() + 9), parent);
    RollPanel3->SetAlign(alTop);
    pnState->setParent(RollPanel3);
    pnState->setGeometry(8, 30, 152, pnState->sizeHint().height());
    RollPanel3->OnResize = [this](QObject*) { RollPanel3Resize(); };
}

void TMainWin::CreateSystemStatePanel(QWidget* parent)
{
    RollPanel1 = CreateRollPanel(QStringLiteral("RollPanel1"), QStringLiteral("System state"), 369, parent);
    RollPanel1->SetAlign(alTop);
    lbSystemstateTitle = MakeLabel(QStringLiteral("lbSystemstateTitle"), QStringLiteral("State:"), RollPanel1);
    lbSystemstate = MakeLabel(QStringLiteral("lbSystemstate"), QStringLiteral("00000000h"), RollPanel1);
    QFont bold = lbSystemstate->font();
    bold.setBold(true);
    lbSystemstate->setFont(bold);
    QPalette navy = lbSystemstate->palette();
    navy.setColor(QPalette::WindowText, AppColors::SystemState(navy));
    lbSystemstate->setPalette(navy);
    lbSystemstateTitle->setGeometry(16, 40, 44, 16);
    lbSystemstate->setGeometry(60, 40, 96, 16);
}

QWidget* TMainWin::CreateEmergencyPanel(QWidget* parent)
{
    pnEmergency = new QWidget(parent);
    pnEmergency->setObjectName(QStringLiteral("pnEmergency"));
    pnEmergency->setFixedHeight(246);
    auto* layout = new QVBoxLayout(pnEmergency);
    layout->setContentsMargins(4, 6, 4, 6);
    layout->setSpacing(6);

    btnEmergencyStop = new QToolButton(pnEmergency);
    btnEmergencyStop->setObjectName(QStringLiteral("btnEmergencyStop"));
    btnEmergencyStop->setText(QStringLiteral("Fast Stop!"));
    QFont bold = btnEmergencyStop->font();
    bold.setBold(true);
    btnEmergencyStop->setFont(bold);
    QIcon pictures;
    pictures.addPixmap(QPixmap(QStringLiteral(":/app/faststop_up")), QIcon::Normal, QIcon::Off);
    pictures.addPixmap(QPixmap(QStringLiteral(":/app/faststop_down")), QIcon::Normal, QIcon::On);
    btnEmergencyStop->setIcon(pictures);
    btnEmergencyStop->setIconSize(QSize(96, 96));
    btnEmergencyStop->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    btnEmergencyStop->setCheckable(true);
    btnEmergencyStop->setFixedSize(137, 142);
    btnEmergencyStop->setToolTip(QStringLiteral("Stops the fingers at once; acknowledge from the Commands menu"));
    btnEmergencyStop->setStatusTip(btnEmergencyStop->toolTip());
    connect(btnEmergencyStop, &QToolButton::clicked, this, [this] { btnEmergencyStopClick(); });
    layout->addWidget(btnEmergencyStop, 0, Qt::AlignHCenter);

    imgEmergency = new QLabel(pnEmergency);
    imgEmergency->setObjectName(QStringLiteral("imgEmergency"));
    imgEmergency->setPixmap(QPixmap(QStringLiteral(":/app/faststop_plate")));
    imgEmergency->setFixedSize(140, 72);
    layout->addWidget(imgEmergency, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return pnEmergency;
}

QWidget* TMainWin::CreateLeftArea()
{
    pnLeft = new QWidget(this);
    pnLeft->setObjectName(QStringLiteral("pnLeft"));
    auto* layout = new QVBoxLayout(pnLeft);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    sbCommands = new QScrollArea(pnLeft);
    sbCommands->setObjectName(QStringLiteral("sbCommands"));
    sbCommands->setFrameShape(QFrame::NoFrame);
    sbCommands->setWidgetResizable(true);
    sbCommands->setWidget(CreateCommandPanels());
    layout->addWidget(sbCommands, 1);

    // Shown while the gripper reports a fast stop (see ShowFlags).
    lbFastStop = MakeLabel(QStringLiteral("lbFastStop"), QString(), pnLeft);
    lbFastStop->setWordWrap(true);
    lbFastStop->setMargin(4);
    lbFastStop->setAutoFillBackground(true);
    QFont bold = lbFastStop->font();
    bold.setBold(true);
    lbFastStop->setFont(bold);
    QPalette red = lbFastStop->palette();
    red.setColor(QPalette::Window, AppColors::FastStopLine);
    red.setColor(QPalette::WindowText, Qt::white);
    lbFastStop->setPalette(red);
    lbFastStop->hide();
    layout->addWidget(lbFastStop);

    RollPanel2 = CreateRollPanel(QStringLiteral("RollPanel2"), QStringLiteral("Motion Command Results"), 241, pnLeft);
    RollPanel2->SetAlign(alBottom);
    AsyncLog = new QPlainTextEdit(RollPanel2);
    AsyncLog->setObjectName(QStringLiteral("AsyncLog"));
    AsyncLog->setReadOnly(true);
    AsyncLog->move(AsyncLogOffset, 28);
    RollPanel2->OnResize = [this](QObject*) { RollPanel2Resize(); };

    Splitter1 = new TSplitterBar(RollPanel2, pnLeft);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    layout->addWidget(Splitter1);
    layout->addWidget(RollPanel2);
    RollPanel2Resize();
    return pnLeft;
}

TFloatEdit* TMainWin::CreateFloatEdit(const QString& name, const QString& text, double maxValue, QWidget* parent)
{
    auto* edit = new TFloatEdit(parent);
    edit->setObjectName(name);
    QFont errorFont = edit->font();
    errorFont.setBold(true);
    edit->SetErrorFont(errorFont);
    edit->SetErrorFontColor(Qt::red);
    edit->SetErrorBkgColor(edit->palette().color(QPalette::Base));
    edit->SetDecSeparator(TDecSeparator::dsDefault);
    edit->SetMinValue(2);
    edit->SetMaxValue(maxValue);
    edit->setText(text);
    edit->OnChange = [this](TFloatEdit* sender) { FloatEditChange(sender); };
    return edit;
}

QSlider* TMainWin::CreateTrackBar(const QString& name, QWidget* parent)
{
    auto* track = new QSlider(Qt::Horizontal, parent);
    track->setObjectName(name);
    track->setRange(0, TrackMaximum);
    track->setPageStep(TrackMaximum / 10);
    track->setTickPosition(QSlider::NoTicks);
    track->setFocusPolicy(Qt::StrongFocus);
    connect(track, &QSlider::valueChanged, this, [this, track] { TrackbarChange(track); });
    return track;
}

void TMainWin::AddPair(TCommandPanel* panel, const QString& caption, TFloatEdit* edit, QSlider* track,
                       const QString& unit)
{
    panel->AddRow(caption, track, edit, unit);
    FPairs.push_back({edit, track});
}

QWidget* TMainWin::CreateCommandPanels()
{
    auto* holder = new QWidget;
    holder->setObjectName(QStringLiteral("pnCommands"));
    // While disconnected, the style's grey for disabled texts all but vanishes
    // on the light blue panels; a darker grey-blue still reads as disabled.
    // A dark palette's panels take its own colours, disabled texts included.
    if (!AppColors::IsDark(holder->palette())) {
        QPalette disabledTexts = holder->palette();
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text})
            disabledTexts.setColor(QPalette::Disabled, role, AppColors::DisabledPanelText);
        holder->setPalette(disabledTexts);
    }
    auto* layout = new QVBoxLayout(holder);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    const auto makeButton = [](const QString& name, const QString& caption, QWidget* parent) {
        auto* button = new QPushButton(caption, parent);
        button->setObjectName(name);
        return button;
    };
    const QString mm = QStringLiteral("mm");
    const QString mmPerS = QStringLiteral("mm/s");

    pnAcc = new TCommandPanel(QStringLiteral("ACC  "), 49, holder);
    pnAcc->setObjectName(QStringLiteral("pnAcc"));
    edAcc = CreateFloatEdit(QStringLiteral("edAcc"), QStringLiteral("50"), 65, pnAcc);
    tbAcc = CreateTrackBar(QStringLiteral("tbAcc"), pnAcc);
    AddPair(pnAcc, QStringLiteral("Acceleration"), edAcc, tbAcc, QStringLiteral("mm/s²"));
    btnApplyAcc = makeButton(QStringLiteral("btnApplyAcc"), QStringLiteral("&Apply"), pnAcc);
    pnAcc->SetButton(btnApplyAcc);

    pnForce = new TCommandPanel(QStringLiteral("FORCE  "), 65, holder);
    pnForce->setObjectName(QStringLiteral("pnForce"));
    edForce = CreateFloatEdit(QStringLiteral("edForce"), QStringLiteral("50"), 65, pnForce);
    tbForce = CreateTrackBar(QStringLiteral("tbForce"), pnForce);
    AddPair(pnForce, QStringLiteral("Grasping Force"), edForce, tbForce, QStringLiteral("N"));
    btnApplyForce = makeButton(QStringLiteral("btnApplyForce"), QStringLiteral("&Apply"), pnForce);
    pnForce->SetButton(btnApplyForce);

    pnGoto = new TCommandPanel(QStringLiteral("GOTO "), 71, holder);
    pnGoto->setObjectName(QStringLiteral("pnGoto"));
    edGotoPos = CreateFloatEdit(QStringLiteral("edGotoPos"), QStringLiteral("50"), 65, pnGoto);
    tbGotoPos = CreateTrackBar(QStringLiteral("tbGotoPos"), pnGoto);
    edGotoSpeed = CreateFloatEdit(QStringLiteral("edGotoSpeed"), QStringLiteral("50"), 60, pnGoto);
    tbGotoSpeed = CreateTrackBar(QStringLiteral("tbGotoSpeed"), pnGoto);
    AddPair(pnGoto, QStringLiteral("Target position"), edGotoPos, tbGotoPos, mm);
    AddPair(pnGoto, QStringLiteral("Speed"), edGotoSpeed, tbGotoSpeed, mmPerS);
    btnGoto = makeButton(QStringLiteral("btnGoto"), QStringLiteral("&Goto"), pnGoto);
    pnGoto->SetButton(btnGoto);

    pnGrasp = new TCommandPanel(QStringLiteral("GRASP  "), 71, holder);
    pnGrasp->setObjectName(QStringLiteral("pnGrasp"));
    edGraspingPos = CreateFloatEdit(QStringLiteral("edGraspingPos"), QStringLiteral("8"), 65, pnGrasp);
    tbGraspingPos = CreateTrackBar(QStringLiteral("tbGraspingPos"), pnGrasp);
    edGraspingSpeed = CreateFloatEdit(QStringLiteral("edGraspingSpeed"), QStringLiteral("50"), 60, pnGrasp);
    tbGraspingSpeed = CreateTrackBar(QStringLiteral("tbGraspingSpeed"), pnGrasp);
    AddPair(pnGrasp, QStringLiteral("Grasping position"), edGraspingPos, tbGraspingPos, mm);
    AddPair(pnGrasp, QStringLiteral("Grasping speed"), edGraspingSpeed, tbGraspingSpeed, mmPerS);
    btnGrasp = makeButton(QStringLiteral("btnGrasp"), QStringLiteral("&Grasp"), pnGrasp);
    pnGrasp->SetButton(btnGrasp);

    pnRelease = new TCommandPanel(QStringLiteral("RELEASE  "), 71, holder);
    pnRelease->setObjectName(QStringLiteral("pnRelease"));
    edReleasePos = CreateFloatEdit(QStringLiteral("edReleasePos"), QStringLiteral("50"), 65, pnRelease);
    tbReleasePos = CreateTrackBar(QStringLiteral("tbReleasePos"), pnRelease);
    edReleaseSpeed = CreateFloatEdit(QStringLiteral("edReleaseSpeed"), QStringLiteral("50"), 60, pnRelease);
    tbReleaseSpeed = CreateTrackBar(QStringLiteral("tbReleaseSpeed"), pnRelease);
    AddPair(pnRelease, QStringLiteral("Release position"), edReleasePos, tbReleasePos, mm);
    AddPair(pnRelease, QStringLiteral("Release speed"), edReleaseSpeed, tbReleaseSpeed, mmPerS);
    btnRelease = makeButton(QStringLiteral("btnRelease"), QStringLiteral("&Release"), pnRelease);
    pnRelease->SetButton(btnRelease);

    pnStop = new TCommandPanel(QStringLiteral("STOP "), 48, holder);
    pnStop->setObjectName(QStringLiteral("pnStop"));
    pnStop->AddText(QStringLiteral("Pressing \"Stop\" will immediately stop the movement of the gripper."));
    btnStop = makeButton(QStringLiteral("btnStop"), QStringLiteral("Stop"), pnStop);
    btnStop->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    // The window's cancel button: Esc stops the fingers.
    btnStop->setShortcut(QKeySequence(Qt::Key_Escape));
    pnStop->SetButton(btnStop);
    TCommandPanel::AlignColumns({pnAcc, pnForce, pnGoto, pnGrasp, pnRelease, pnStop});

    connect(btnApplyAcc, &QPushButton::clicked, this, [this] { btnApplyAccClick(); });
    connect(btnApplyForce, &QPushButton::clicked, this, [this] { btnApplyForceClick(); });
    connect(btnGoto, &QPushButton::clicked, this, [this] { btnGotoClick(); });
    connect(btnGrasp, &QPushButton::clicked, this, [this] { btnGraspClick(); });
    connect(btnRelease, &QPushButton::clicked, this, [this] { btnReleaseClick(); });
    connect(btnStop, &QPushButton::clicked, this, [this] { btnStopClick(); });

    btnApplyAcc->setToolTip(QStringLiteral("Sets the acceleration (Enter in its field)"));
    btnApplyForce->setToolTip(QStringLiteral("Sets the grasping force limit (Enter in its field)"));
    btnGoto->setToolTip(QStringLiteral("Moves the fingers to the target position (Enter in its fields)"));
    btnGrasp->setToolTip(QStringLiteral("Grasps a part at the grasping position (Enter in its fields)"));
    btnRelease->setToolTip(QStringLiteral("Releases the part to the release position (Enter in its fields)"));
    btnStop->setToolTip(QStringLiteral("Stops the movement of the fingers"));
    // Enter in a value field presses its panel's button, which is enabled
    // only while the panel's values are valid.
    const std::pair<TFloatEdit*, QPushButton*> enterPresses[] = {
        {edAcc, btnApplyAcc},        {edForce, btnApplyForce},   {edGotoPos, btnGoto},
        {edGotoSpeed, btnGoto},      {edGraspingPos, btnGrasp},  {edGraspingSpeed, btnGrasp},
        {edReleasePos, btnRelease},  {edReleaseSpeed, btnRelease}};
    for (const auto& [edit, button] : enterPresses) {
        connect(edit, &QLineEdit::returnPressed, button, [button] {
            if (button->isEnabled())
                button->click();
        });
    }

    for (TCommandPanel* panel : {pnAcc, pnForce, pnGoto, pnGrasp, pnRelease, pnStop})
        layout->addWidget(panel);
    layout->addStretch(1);
    return holder;
}

void TMainWin::RollPanel2Resize()
{
    AsyncLog->resize(RollPanel2->ClientWidth() - AsyncLog->x(), RollPanel2->ClientHeight() - AsyncLog->x());
}

void TMainWin::RollPanel3Resize()
{
    // The values stay right-aligned by the panel's layout.
    pnState->resize(RollPanel3->ClientWidth() - pnState->x(), pnState->height());
}

// ---------------------------------------------------------------- state display

void TMainWin::CreateFlagBoxes(int left, int top, int step, int width)
{
    for (QCheckBox* box : FFlagBoxes)
        delete box;
    FFlagBoxes.clear();
    for (const TSysflagDescr& flag : SysflagDescr) {
        auto* box = new QCheckBox(QString::fromLatin1(flag.text), RollPanel1);
        box->setObjectName(QStringLiteral("cbFlag%1").arg(flag.mask, 0, 16));
        box->setProperty("mask", flag.mask);
        // Read-only: the gripper sets these, the operator cannot.
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setPalette(AppColors::VisibleIndicators(box->palette()));
        box->setFocusPolicy(Qt::NoFocus);
        // Never narrower than its text in the user's font.
        box->setGeometry(left, top, std::max(width, box->sizeHint().width()), step);
        box->show();
        FFlagBoxes.push_back(box);
        top += step;
    }
}

void TMainWin::ShowFlags(uint32_t state)
{
    for (QCheckBox* box : FFlagBoxes) {
        const uint32_t mask = box->property("mask").toUInt();
        box->setChecked((state & mask) > 0);
        // Set fault flags are drawn in red.
        const QColor text = (state & mask & FaultFlags) != 0 ? AppColors::Fault(palette())
                                                              : palette().color(QPalette::WindowText);
        if (box->palette().color(QPalette::WindowText) != text) {
            QPalette colours = box->palette();
            colours.setColor(QPalette::WindowText, text);
            box->setPalette(colours);
        }
    }
    const bool fastStop = (state & FastStopFlag) != 0;
    if (fastStop)
        lbFastStop->setText(QStringLiteral("Fast stop: all motions are locked. Acknowledge it with Commands > "
                                           "Acknowledge an Emergency Stop (%1).")
                                .arg(EmergencyStopAcknowledge1->shortcut().toString(QKeySequence::NativeText)));
    lbFastStop->setVisible(fastStop);
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
        lbSystemstate->setText(NotAvailable);
        lbGraspingState->setText(NotAvailable);
        lbPosition->setText(NotAvailable);
        lbSpeed->setText(NotAvailable);
        lbForce->setText(NotAvailable);
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
    // Unless the fingers were and still are referenced, the position reports
    // are asked for again (homing restarts them on the gripper's side).
    const bool requestPosition =
        FPreviousState >= 0 && (static_cast<uint32_t>(FPreviousState) & state & ReferencedFlag) == 0;
    FPreviousState = static_cast<int32_t>(state);
    // The request is the same every time, so reports that come in while it
    // waits for its answer only update the display; asking again from inside
    // that wait would nest one wait per report.
    if (requestPosition && !FRequestingPosition) {
        FRequestingPosition = true;
        FGripper->AutoUpdatePosition(true, 100, true);
        FRequestingPosition = false;
    }
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

void TMainWin::MotionResult(QObject*, int id, TStat status, const TByteArray&)
{
    FResults->Append(QStringLiteral("Command %1 finished: %2.")
                         .arg(Text(CommandName(static_cast<uint8_t>(id))), Text(StatusText(status))));
}

TAsyncResultEvent TMainWin::ResultHandler()
{
    return [this](QObject* sender, int id, TStat status, const TByteArray& data) { MotionResult(sender, id, status, data); };
}

// ---------------------------------------------------------------- connection

void TMainWin::Connect1Click()
{
    FReconnector->StopRetrying();
    const TStat status = FGripper->Connect();
    FReconnector->AttemptStarted(status);
    if (status != E_SUCCESS) {
        ReportConnectFailure(status);
        Connect1->setEnabled(true);
    }
}

void TMainWin::Disconnect1Click()
{
    FReconnector->StopRetrying();
    if (FGripper->IsConnected())
        FGripper->Disconnect();
}

void TMainWin::Reconnect1Click()
{
    const TStat status = FReconnector->Reconnect();
    if (status != E_SUCCESS)
        ReportConnectFailure(status);
}

void TMainWin::ReportConnectFailure(TStat status)
{
    ShowError(WithHint(QStringLiteral("Cannot connect to target: %1").arg(Text(StatusText(status))),
                       FGripper->Dispatcher()->OpenFailure()));
}

void TMainWin::AutoReconnect1Click()
{
    FReconnector->SetAutoReconnect(AutoReconnect1->isChecked());
}

void TMainWin::About1Click()
{
    ShowInformation(AboutText());
}

void TMainWin::KeyboardShortcuts1Click()
{
    TListBoxDlg dialog(this);
    for (const TInfoRow& row : ShortcutRows(*this))
        dialog.AddRow(row.first, row.second);
    dialog.SetColumnCaptions(QStringLiteral("Key"), QStringLiteral("Action"));
    dialog.setWindowTitle(QStringLiteral("Keyboard shortcuts"));
    // Tall enough for every row without scrolling.
    dialog.resize(dialog.width(), 360);
    dialog.ShowList();
}

void TMainWin::InstallReportFilter()
{
    const TReportEvent operatorReport = FGripper->OnTransportReport;
    FGripper->OnTransportReport = [this, operatorReport](QObject* sender, TTransportReport kind, const QString& text) {
        if (!FReconnector->TakeReport(kind, text) && operatorReport)
            operatorReport(sender, kind, text);
    };
}

void TMainWin::UpdateConnectionItems()
{
    const bool connected = FGripper->IsConnected();
    Reconnect1->setEnabled(FReconnector->LastConnection().has_value() && !connected);
    if (FReconnector->Retrying())
        Disconnect1->setEnabled(true);
    else if (!connected)
        Disconnect1->setEnabled(false);
}

void TMainWin::UpdateLinkStatus()
{
    // The status bar shows a hint left of the link's text; the link's text
    // makes room for it. Where the bar is too narrow for all of it, the
    // link's description (the part before the first " | ") is shortened in
    // the middle; its state and counts are always shown whole, and the
    // tooltip holds the whole text.
    const QString text = LinkStatusText(*FReconnector, *FGripper);
    const QFontMetrics metrics(lbConnection->font());
    const QString hint = statusBar()->currentMessage();
    int room = statusBar()->width() - StatusBarOverhead;
    if (!hint.isEmpty())
        room -= statusBar()->fontMetrics().horizontalAdvance(hint) + StatusBarOverhead;
    QString shown = text;
    const qsizetype described = text.indexOf(QStringLiteral(" | "));
    if (metrics.horizontalAdvance(text) > room && described > 0) {
        const QString rest = text.mid(described);
        const int describedRoom = room - metrics.horizontalAdvance(rest);
        shown = metrics.elidedText(text.left(described), Qt::ElideMiddle, std::max(describedRoom, 0)) + rest;
    }
    if (lbConnection->text() != shown)
        lbConnection->setText(shown);
    lbConnection->setToolTip(text);
}

void TMainWin::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    UpdateLinkStatus();
}

void TMainWin::GripperConnected(QObject*)
{
    FReconnector->Connected();
    if (CommLog)
        CommLog->MarkConnected();
    Connect1->setEnabled(false);
    Disconnect1->setEnabled(true);
    TSystemLimits limits;
    const bool limitsRead = FGripper->GetSystemLimits(limits) == E_SUCCESS;
    if (!limitsRead) {
        // Reconnecting by itself, the window counts this as one more failed
        // attempt and keeps trying; a box would stop the retries.
        if (!FReconnector->TakeUnusableLink(QStringLiteral("Unable to retreive gripper limits."))) {
            Disconnect1Click();
            ShowError(QStringLiteral("Unable to retreive gripper limits.\n"
                                     "Please try again by selecting \"Gripper|Connect\" from the menu."));
        }
    } else {
        EnableControls(true);
        ApplyLimits(limits);
    }
    // Without a connection (limits not readable) these fail at once; their
    // results are of no interest either way.
    FGripper->AutoUpdateSystemState(true, 50, true);
    FGripper->AutoUpdateGraspingState(true, 50, true);
    FGripper->AutoUpdatePosition(true, 100, true);
    if (limitsRead) {
        ReadBackSettings(*FGripper, *edAcc, *edForce);
        // A gripper without these reports refuses them; their values then
        // stay "[n/a]".
        FGripper->AutoUpdateSpeed(true, 100, true);
        FGripper->AutoUpdateForce(true, 100, true);
    }
}

void TMainWin::GripperDisconnected(QObject*)
{
    Connect1->setEnabled(true);
    Disconnect1->setEnabled(false);
    EnableControls(false);
    FReconnector->Disconnected();
}

// The two toggles are checkable menu items: choosing one inverts its check
// mark before its handler runs, and the handler shows or hides the window.
void TMainWin::Commandlog1Click()
{
    if (CommLog)
        ShowPlaced(CommLog, FCommLogState, FCommLogPlaced, Commandlog1->isChecked());
}

void TMainWin::CustomCommands1Click()
{
    ShowPlaced(FCustomCmd, FCustomCmdState, FCustomCmdPlaced, CustomCommands1->isChecked());
}

void TMainWin::ShowPlaced(QWidget* window, const TFormState& state, bool& placed, bool visible)
{
    if (visible && !placed) {
        placed = true;
        state.Restore(window);
    }
    if (visible)
        KeepOnScreen(window);
    window->setVisible(visible);
}

// ---------------------------------------------------------------- motion panels

void TMainWin::ApplyLimits(const TSystemLimits& limits)
{
    const QString mm = QStringLiteral("mm");
    const QString mmPerS = QStringLiteral("mm/s");
    SetEditRange(edGraspingPos, mm, 0, limits.Stroke);
    SetEditRange(edGraspingSpeed, mmPerS, limits.MinSpeed, limits.MaxSpeed);
    SetEditRange(edForce, QStringLiteral("N"), limits.MinForce, limits.MaxForce);
    SetEditRange(edReleasePos, mm, 0, limits.Stroke);
    SetEditRange(edReleaseSpeed, mmPerS, limits.MinSpeed, limits.MaxSpeed);
    SetEditRange(edGotoPos, mm, 0, limits.Stroke);
    SetEditRange(edGotoSpeed, mmPerS, limits.MinSpeed, limits.MaxSpeed);
    SetEditRange(edAcc, QStringLiteral("mm/s²"), limits.MinAcceleration, limits.MaxAcceleration);
    UpdateCommandButtons();
}

void TMainWin::SetEditRange(TFloatEdit* edit, const QString& unit, double minimum, double maximum)
{
    // New bounds do not run the change handler: an edit whose value stays
    // valid keeps its text and its track bar keeps its position.
    edit->SetMinValue(minimum);
    edit->SetMaxValue(maximum);
    if (!edit->IsValid()) {
        edit->setFocus();
        edit->SetValue(edit->MinValue());
    }
    const QString hint = QStringLiteral("Input range: %1 to %2 %3").arg(FixedText(minimum), FixedText(maximum), unit);
    edit->setToolTip(hint);
    edit->setStatusTip(hint);
}

void TMainWin::UpdateCommandButtons()
{
    btnApplyAcc->setEnabled(edAcc->IsValid());
    btnApplyForce->setEnabled(edForce->IsValid());
    btnGrasp->setEnabled(edGraspingPos->IsValid() && edGraspingSpeed->IsValid());
    btnRelease->setEnabled(edReleasePos->IsValid() && edReleaseSpeed->IsValid());
    btnGoto->setEnabled(edGotoPos->IsValid() && edGotoSpeed->IsValid());
}

const TMainWin::TEditTrackPair* TMainWin::PairOf(const QWidget* control) const
{
    const auto pair = std::find_if(FPairs.begin(), FPairs.end(), [control](const TEditTrackPair& p) {
        return p.edit == control || p.track == control;
    });
    return pair == FPairs.end() ? nullptr : &*pair;
}

void TMainWin::FloatEditChange(TFloatEdit* sender)
{
    const TEditTrackPair* pair = PairOf(sender);
    if (!pair)
        return;
    UpdateCommandButtons();
    if (!pair->track->hasFocus())
        FollowEdit(*pair);
}

void TMainWin::FollowEdit(const TEditTrackPair& pair)
{
    const TFloatEdit* edit = pair.edit;
    if (!edit->IsValid())
        return;
    // Moving the track bar to follow the edit must not write the edit back.
    const QSignalBlocker quiet(pair.track);
    pair.track->setValue(TrackPositionFor(edit->Value(), edit->MinValue(), edit->MaxValue(), pair.track->maximum()));
}

void TMainWin::TrackbarChange(QSlider* sender)
{
    const TEditTrackPair* pair = PairOf(sender);
    if (!pair || pair->edit->hasFocus())
        return;
    pair->edit->SetValue(EditValueFor(sender->value(), pair->edit->MinValue(), pair->edit->MaxValue(), sender->maximum()));
}

void TMainWin::ReportFailure(TStat status, const QString& prefix)
{
    if (status != E_SUCCESS && status != E_CMD_PENDING && !ReportRefusal(status, prefix))
        ShowError(WithHint(prefix + Text(StatusText(status)), ErrorHint(status, FGripper->SystemState())));
}

void TMainWin::ReportMotionFailure(uint8_t command, TStat status, const QString& prefix)
{
    if (status != E_SUCCESS && status != E_CMD_PENDING)
        FResults->Append(QStringLiteral("Command %1 refused: %2.").arg(Text(CommandName(command)), Text(StatusText(status))));
    ReportFailure(status, prefix);
}

bool TMainWin::ReportRefusal(TStat status, const QString& prefix)
{
    if (status != THXT::TransactionRefused || !FGripper->LastTransactionRefused())
        return false;
    // Refusals come in bursts while many commands wait at once; a box for
    // each would pile up modal boxes, so they go to the results log and the
    // status bar.
    AsyncLog->appendPlainText(prefix + QLatin1String(THXT::RefusedText) + QLatin1Char('.'));
    statusBar()->showMessage(QStringLiteral("Command not sent: too many commands are waiting for their answers."),
                             RefusalMessageMs);
    return true;
}

void TMainWin::btnApplyAccClick()
{
    ReportFailure(FGripper->SetAcceleration(static_cast<float>(edAcc->Value())),
                  QStringLiteral("Error while setting acceleration: "));
}

void TMainWin::btnApplyForceClick()
{
    ReportFailure(FGripper->SetForceLimit(static_cast<float>(edForce->Value())),
                  QStringLiteral("Error while setting grasping force: "));
}

void TMainWin::btnGotoClick()
{
    ReportMotionFailure(CMD_GOTO,
                        FGripper->Goto(static_cast<float>(edGotoPos->Value()),
                                       static_cast<float>(edGotoSpeed->Value()), ResultHandler()),
                        QStringLiteral("Error while starting to move: "));
}

void TMainWin::btnGraspClick()
{
    ReportMotionFailure(CMD_GRASP_RAW,
                        FGripper->Grasp(static_cast<float>(edGraspingPos->Value()),
                                        static_cast<float>(edGraspingSpeed->Value()), ResultHandler()),
                        QStringLiteral("Error while starting to grasp: "));
}

void TMainWin::btnReleaseClick()
{
    ReportMotionFailure(CMD_RELEASE_RAW,
                        FGripper->Release(static_cast<float>(edReleasePos->Value()),
                                          static_cast<float>(edReleaseSpeed->Value()), ResultHandler()),
                        QStringLiteral("Error while starting to release: "));
}

void TMainWin::btnStopClick()
{
    ReportMotionFailure(CMD_STOP, FGripper->Stop(), QStringLiteral("Error while stopping: "));
}

void TMainWin::Homing1Click()
{
    ReportMotionFailure(CMD_HOMING, FGripper->Homing(0, ResultHandler()), QStringLiteral("Error while homing: "));
}

// A stop sent without waiting for its answer (E_CMD_PENDING, deep inside
// other waits) counts as done; the state reports show what the gripper did.
void TMainWin::btnEmergencyStopClick()
{
    const TStat status = FGripper->FastStop();
    // Deep inside other waits the stop goes out unwaited (E_CMD_PENDING);
    // its answer is handled as any packet when it comes.
    if (status != E_CMD_PENDING)
        MotionResult(this, CMD_FAST_STOP, status, {});
    btnEmergencyStop->setChecked(status == E_SUCCESS || status == E_CMD_PENDING);
}

void TMainWin::EmergencyStopAcknowledge1Click()
{
    const TStat status = FGripper->FastStopAck();
    if (status != E_CMD_PENDING)
        MotionResult(this, CMD_FAST_STOP_ACK, status, {});
    if (status == E_SUCCESS || status == E_CMD_PENDING)
        btnEmergencyStop->setChecked(false);
}

// ---------------------------------------------------------------- information dialogs

namespace {

void ShowInfoDialog(QWidget* owner, const QString& caption, const TInfoRows& rows)
{
    TListBoxDlg dialog(owner);
    for (const TInfoRow& row : rows)
        dialog.AddRow(row.first, row.second);
    dialog.setWindowTitle(caption);
    dialog.ShowList();
}

}

void TMainWin::GetSystemInfo1Click()
{
    TSystemInfo info;
    const TStat status = FGripper->GetSystemInfo(info);
    if (status != E_SUCCESS)
        ReportFailure(status, QStringLiteral("Cannot read system information: "));
    else
        ShowInfoDialog(this, QStringLiteral("System Information"), SystemInfoRows(info));
}

void TMainWin::GetSystemLimits1Click()
{
    TSystemLimits limits;
    const TStat status = FGripper->GetSystemLimits(limits);
    if (status != E_SUCCESS)
        ReportFailure(status, QStringLiteral("Cannot read gripper system limits: "));
    else
        ShowInfoDialog(this, QStringLiteral("Gripper System Limits"), SystemLimitsRows(limits));
}

void TMainWin::GetGraspingStatistics1Click()
{
    TGraspingStats stats;
    const TStat status = FGripper->GetGraspingStats(stats, false);
    if (status != E_SUCCESS)
        ReportFailure(status, QStringLiteral("Cannot read grasping statistics: "));
    else
        ShowInfoDialog(this, QStringLiteral("Grasping Statistics"), GraspingStatsRows(stats));
}
