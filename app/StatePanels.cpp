#include "StatePanels.h"

#include "AppColors.h"
#include "HXT_commands.h"
#include "PanelParts.h"
#include "RollPanel.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Temperature, power, current and finger fault, command and script failure.
constexpr uint32_t FaultFlags = 0x4000 | 0x8000 | 0x10000 | 0x20000 | 0x40000 | 0x100000;

// A button's own key clicks it at once: a button's shortcut otherwise shows
// the press for a moment and clicks only when it ends.
class TImmediateShortcut : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* button = qobject_cast<QAbstractButton*>(watched);
        if (event->type() != QEvent::Shortcut || !button)
            return false;
        button->click();
        return true;
    }
};

}

QWidget* TStatePanels::CreateRightColumn(QWidget* owner)
{
    pnRight = new QWidget(owner);
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
    QObject::connect(sbState->verticalScrollBar(), &QScrollBar::rangeChanged, pnRight, [this] { FitRightColumn(); },
                     Qt::QueuedConnection);
    layout->addWidget(sbState, 1);
    layout->addWidget(CreateEmergencyPanel(pnRight));
    return pnRight;
}

void TStatePanels::FitRightColumn()
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

void TStatePanels::CreateStatePanel(QWidget* parent)
{
    const QString notAvailable = NotAvailableText();
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
    lbSpeed = MakeLabel(QStringLiteral("lbSpeed"), notAvailable, pnState);
    lbForce = MakeLabel(QStringLiteral("lbForce"), notAvailable, pnState);
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
    QStringList states{GraspingStateCaption(255), notAvailable};
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
    addRow(lbPositionTitle, lbPosition, {number + QStringLiteral(" mm"), notAvailable});
    addRow(MakeLabel(QStringLiteral("lbSpeedTitle"), QStringLiteral("Speed:"), pnState), lbSpeed,
           {number + QStringLiteral(" mm/s"), notAvailable});
    addRow(MakeLabel(QStringLiteral("lbForceTitle"), QStringLiteral("Force:"), pnState), lbForce,
           {number + QStringLiteral(" N"), notAvailable});

    RollPanel3 = MakeRollPanel(QStringLiteral("RollPanel3"), QStringLiteral("Grasping state"),
                               std::max(88, 30 + pnState->sizeHint().height() + 9), parent);
    RollPanel3->SetAlign(alTop);
    pnState->setParent(RollPanel3);
    pnState->setGeometry(8, 30, 152, pnState->sizeHint().height());
    RollPanel3->OnResize = [this](QObject*) { RollPanel3Resize(); };
}

void TStatePanels::CreateSystemStatePanel(QWidget* parent)
{
    RollPanel1 = MakeRollPanel(QStringLiteral("RollPanel1"), QStringLiteral("System state"), 369, parent);
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

QWidget* TStatePanels::CreateEmergencyPanel(QWidget* parent)
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
    // Two modifiers keep a stray key from stopping the gripper; F for Fast,
    // beside A of the acknowledgement's Ctrl+Shift+A.
    btnEmergencyStop->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    btnEmergencyStop->installEventFilter(new TImmediateShortcut(btnEmergencyStop));
    btnEmergencyStop->setToolTip(QStringLiteral("Stops the fingers at once; acknowledge from the Commands menu"));
    btnEmergencyStop->setStatusTip(btnEmergencyStop->toolTip());
    layout->addWidget(btnEmergencyStop, 0, Qt::AlignHCenter);

    imgEmergency = new QLabel(pnEmergency);
    imgEmergency->setObjectName(QStringLiteral("imgEmergency"));
    imgEmergency->setPixmap(QPixmap(QStringLiteral(":/app/faststop_plate")));
    imgEmergency->setFixedSize(140, 72);
    layout->addWidget(imgEmergency, 0, Qt::AlignHCenter);
    layout->addStretch(1);
    return pnEmergency;
}

void TStatePanels::RollPanel3Resize()
{
    // The values stay right-aligned by the panel's layout.
    pnState->resize(RollPanel3->ClientWidth() - pnState->x(), pnState->height());
}

void TStatePanels::CreateFlagBoxes(int left, int top, int step, int width)
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

void TStatePanels::TickFlags(uint32_t state)
{
    const QPalette window = pnRight->window()->palette();
    for (QCheckBox* box : FFlagBoxes) {
        const uint32_t mask = box->property("mask").toUInt();
        box->setChecked((state & mask) > 0);
        const QColor text = (state & mask & FaultFlags) != 0 ? AppColors::Fault(window)
                                                              : window.color(QPalette::WindowText);
        if (box->palette().color(QPalette::WindowText) != text) {
            QPalette colours = box->palette();
            colours.setColor(QPalette::WindowText, text);
            box->setPalette(colours);
        }
    }
}

void TStatePanels::ClearValues()
{
    for (QLabel* value : {lbSystemstate, lbGraspingState, lbPosition, lbSpeed, lbForce})
        value->setText(NotAvailableText());
}
