#include "MotionPanels.h"

#include "AppColors.h"
#include "CommandPanel.h"
#include "FloatEdit.h"
#include "HXTForm.h"
#include "PanelParts.h"
#include "RollPanel.h"
#include "SplitterBar.h"
#include "TrackCoupling.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

constexpr int TrackMaximum = 1000;
constexpr int AsyncLogOffset = 8;

TCommandPanel* MakePanel(const QString& stripCaption, int height, const QString& name, QWidget* parent)
{
    auto* panel = new TCommandPanel(stripCaption, height, parent);
    panel->setObjectName(name);
    return panel;
}

// The panel's command button.
QPushButton* AddButton(TCommandPanel* panel, const QString& name, const QString& caption)
{
    auto* button = new QPushButton(caption, panel);
    button->setObjectName(name);
    panel->SetButton(button);
    return button;
}

}

QWidget* TMotionPanels::CreateLeftArea(QWidget* owner)
{
    pnLeft = new QWidget(owner);
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

    RollPanel2 = MakeRollPanel(QStringLiteral("RollPanel2"), QStringLiteral("Motion Command Results"), 241, pnLeft);
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
    // The results give way before the motion panels and the fast-stop line.
    Splitter1->SetNeededAbove([this] {
        int needed = sbCommands->widget()->sizeHint().height();
        if (!lbFastStop->isHidden())
            needed += lbFastStop->heightForWidth(pnLeft->width());
        return needed;
    });

    // Track bars and buttons follow the design values. The force edit is not
    // among them: its track bar stays at 0 until the edit changes.
    for (TFloatEdit* edit : {edAcc, edGotoPos, edGotoSpeed, edGraspingPos, edGraspingSpeed, edReleasePos, edReleaseSpeed})
        FloatEditChange(edit);
    return pnLeft;
}

TFloatEdit* TMotionPanels::CreateFloatEdit(const QString& name, const QString& text, double maxValue, QWidget* parent)
{
    auto* edit = new TFloatEdit(parent);
    edit->setObjectName(name);
    QFont errorFont = edit->font();
    errorFont.setBold(true);
    // An invalid value is drawn in bold red.
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

QSlider* TMotionPanels::CreateTrackBar(const QString& name, QWidget* parent)
{
    auto* track = new QSlider(Qt::Horizontal, parent);
    track->setObjectName(name);
    track->setRange(0, TrackMaximum);
    track->setPageStep(TrackMaximum / 10);
    track->setTickPosition(QSlider::NoTicks);
    track->setFocusPolicy(Qt::StrongFocus);
    QObject::connect(track, &QSlider::valueChanged, track, [this, track] { TrackbarChange(track); });
    return track;
}

void TMotionPanels::AddPair(TCommandPanel* panel, const TPairDesign& design, TFloatEdit*& edit, QSlider*& track)
{
    edit = CreateFloatEdit(QLatin1String(design.edit), QLatin1String(design.text), design.maxValue, panel);
    track = CreateTrackBar(QLatin1String(design.track), panel);
    panel->AddRow(QLatin1String(design.caption), track, edit, design.unit);
    FPairs.push_back({edit, track});
}

QWidget* TMotionPanels::CreateCommandPanels()
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

    const QString mm = QStringLiteral("mm");
    const QString mmPerS = QStringLiteral("mm/s");

    pnAcc = MakePanel(QStringLiteral("ACC  "), 49, QStringLiteral("pnAcc"), holder);
    AddPair(pnAcc, {"edAcc", "50", 65, "tbAcc", "Acceleration", QStringLiteral("mm/s²")}, edAcc, tbAcc);
    btnApplyAcc = AddButton(pnAcc, QStringLiteral("btnApplyAcc"), QStringLiteral("&Apply"));

    pnForce = MakePanel(QStringLiteral("FORCE  "), 65, QStringLiteral("pnForce"), holder);
    AddPair(pnForce, {"edForce", "50", 65, "tbForce", "Grasping Force", QStringLiteral("N")}, edForce, tbForce);
    btnApplyForce = AddButton(pnForce, QStringLiteral("btnApplyForce"), QStringLiteral("&Apply"));

    pnGoto = MakePanel(QStringLiteral("GOTO "), 71, QStringLiteral("pnGoto"), holder);
    AddPair(pnGoto, {"edGotoPos", "50", 65, "tbGotoPos", "Target position", mm}, edGotoPos, tbGotoPos);
    AddPair(pnGoto, {"edGotoSpeed", "50", 60, "tbGotoSpeed", "Speed", mmPerS}, edGotoSpeed, tbGotoSpeed);
    btnGoto = AddButton(pnGoto, QStringLiteral("btnGoto"), QStringLiteral("&Goto"));

    pnGrasp = MakePanel(QStringLiteral("GRASP  "), 71, QStringLiteral("pnGrasp"), holder);
    AddPair(pnGrasp, {"edGraspingPos", "8", 65, "tbGraspingPos", "Grasping position", mm}, edGraspingPos,
            tbGraspingPos);
    AddPair(pnGrasp, {"edGraspingSpeed", "50", 60, "tbGraspingSpeed", "Grasping speed", mmPerS}, edGraspingSpeed,
            tbGraspingSpeed);
    btnGrasp = AddButton(pnGrasp, QStringLiteral("btnGrasp"), QStringLiteral("&Grasp"));

    pnRelease = MakePanel(QStringLiteral("RELEASE  "), 71, QStringLiteral("pnRelease"), holder);
    AddPair(pnRelease, {"edReleasePos", "50", 65, "tbReleasePos", "Release position", mm}, edReleasePos,
            tbReleasePos);
    AddPair(pnRelease, {"edReleaseSpeed", "50", 60, "tbReleaseSpeed", "Release speed", mmPerS}, edReleaseSpeed,
            tbReleaseSpeed);
    btnRelease = AddButton(pnRelease, QStringLiteral("btnRelease"), QStringLiteral("&Release"));

    pnStop = MakePanel(QStringLiteral("STOP "), 48, QStringLiteral("pnStop"), holder);
    pnStop->AddText(QStringLiteral("Pressing \"Stop\" will immediately stop the movement of the gripper."));
    btnStop = AddButton(pnStop, QStringLiteral("btnStop"), QStringLiteral("Stop"));
    btnStop->setIcon(holder->style()->standardIcon(QStyle::SP_DialogCancelButton));
    // The window's cancel button: Esc stops the fingers.
    btnStop->setShortcut(QKeySequence(Qt::Key_Escape));
    TCommandPanel::AlignColumns({pnAcc, pnForce, pnGoto, pnGrasp, pnRelease, pnStop});

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
        QObject::connect(edit, &QLineEdit::returnPressed, button, [button] {
            if (button->isEnabled())
                button->click();
        });
    }

    for (TCommandPanel* panel : {pnAcc, pnForce, pnGoto, pnGrasp, pnRelease, pnStop})
        layout->addWidget(panel);
    layout->addStretch(1);
    return holder;
}

void TMotionPanels::RollPanel2Resize()
{
    AsyncLog->resize(RollPanel2->ClientWidth() - AsyncLog->x(), RollPanel2->ClientHeight() - AsyncLog->x());
}

void TMotionPanels::ShowFastStop(bool fastStop, const QString& acknowledgeKey)
{
    if (fastStop)
        lbFastStop->setText(QStringLiteral("Fast stop: all motions are locked. Acknowledge it with Commands > "
                                           "Acknowledge an Emergency Stop (%1).")
                                .arg(acknowledgeKey));
    lbFastStop->setVisible(fastStop);
}

void TMotionPanels::ApplyLimits(const TSystemLimits& limits)
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

void TMotionPanels::ShowRunningSettings(const TRunningSettings& settings)
{
    const auto show = [](TFloatEdit* edit, std::optional<float> value) {
        if (!value)
            return;
        // Three decimals keep the float's noise digits (33.2999992...) out of
        // the edit; the float sent back by "Apply" is the same.
        edit->SetValue(std::round(static_cast<double>(*value) * 1000.0) / 1000.0);
    };
    show(edAcc, settings.acceleration);
    show(edForce, settings.forceLimit);
}

void TMotionPanels::SetEditRange(TFloatEdit* edit, const QString& unit, double minimum, double maximum)
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

void TMotionPanels::UpdateCommandButtons()
{
    btnApplyAcc->setEnabled(edAcc->IsValid());
    btnApplyForce->setEnabled(edForce->IsValid());
    btnGrasp->setEnabled(edGraspingPos->IsValid() && edGraspingSpeed->IsValid());
    btnRelease->setEnabled(edReleasePos->IsValid() && edReleaseSpeed->IsValid());
    btnGoto->setEnabled(edGotoPos->IsValid() && edGotoSpeed->IsValid());
}

const TMotionPanels::TEditTrackPair* TMotionPanels::PairOf(const QWidget* control) const
{
    const auto pair = std::find_if(FPairs.begin(), FPairs.end(), [control](const TEditTrackPair& p) {
        return p.edit == control || p.track == control;
    });
    return pair == FPairs.end() ? nullptr : &*pair;
}

void TMotionPanels::FloatEditChange(TFloatEdit* sender)
{
    const TEditTrackPair* pair = PairOf(sender);
    if (!pair)
        return;
    UpdateCommandButtons();
    if (!pair->track->hasFocus())
        FollowEdit(*pair);
}

void TMotionPanels::FollowEdit(const TEditTrackPair& pair)
{
    const TFloatEdit* edit = pair.edit;
    if (!edit->IsValid())
        return;
    // Moving the track bar to follow the edit must not write the edit back.
    const QSignalBlocker quiet(pair.track);
    pair.track->setValue(TrackPositionFor(edit->Value(), edit->MinValue(), edit->MaxValue(), pair.track->maximum()));
}

void TMotionPanels::TrackbarChange(QSlider* sender)
{
    const TEditTrackPair* pair = PairOf(sender);
    if (!pair || pair->edit->hasFocus())
        return;
    pair->edit->SetValue(EditValueFor(sender->value(), pair->edit->MinValue(), pair->edit->MaxValue(), sender->maximum()));
}
