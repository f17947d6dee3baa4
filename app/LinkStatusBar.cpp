#include "LinkStatusBar.h"

#include "PanelParts.h"
#include "Reconnector.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int RefreshMs = 250;
// The status bar's margins and spacing around its message and its widgets.
constexpr int Overhead = 36;
// The fewest characters of a hint worth showing shortened.
constexpr int MinimumHintChars = 16;

}

TLinkStatusBar::TLinkStatusBar(QStatusBar* bar, const TReconnector& reconnector, const THXT& gripper)
    : QObject(bar), FBar(bar), FReconnector(reconnector), FGripper(gripper),
      FLabel(MakeLabel(QStringLiteral("lbConnection"), QString(), bar))
{
    FBar->addPermanentWidget(FLabel);
    auto* timer = new QTimer(this);
    timer->setInterval(RefreshMs);
    connect(timer, &QTimer::timeout, this, &TLinkStatusBar::Update);
    timer->start();
    connect(FBar, &QStatusBar::messageChanged, this, [this](const QString& message) {
        if (message.isEmpty())
            FBar->setToolTip(QString());
    });
}

void TLinkStatusBar::ShowHint(const QString& hint, int timeoutMs)
{
    const QFontMetrics metrics = FBar->fontMetrics();
    const int room = FBar->width() - FLabel->sizeHint().width() - 2 * Overhead;
    QString shown = hint;
    if (metrics.horizontalAdvance(hint) > room) {
        // Too short a piece of a hint tells nothing: then only the tooltip.
        const bool worthShortening = room >= MinimumHintChars * metrics.averageCharWidth();
        shown = worthShortening ? metrics.elidedText(hint, Qt::ElideRight, room) : QString();
    }
    FBar->setToolTip(shown == hint ? QString() : hint);
    FBar->showMessage(shown, timeoutMs);
}

void TLinkStatusBar::Update()
{
    // Where the bar is too narrow for all of the link's text, its
    // description (the part before the first " | ") is shortened in the
    // middle; its state and counts are always shown whole.
    const QString text = LinkStatusText(FReconnector, FGripper);
    const QFontMetrics metrics(FLabel->font());
    const int room = FBar->width() - Overhead;
    QString shown = text;
    const qsizetype described = text.indexOf(QStringLiteral(" | "));
    if (metrics.horizontalAdvance(text) > room && described > 0) {
        const QString rest = text.mid(described);
        const int describedRoom = room - metrics.horizontalAdvance(rest);
        shown = metrics.elidedText(text.left(described), Qt::ElideMiddle, std::max(describedRoom, 0)) + rest;
    }
    if (FLabel->text() != shown)
        FLabel->setText(shown);
    FLabel->setToolTip(text);
}
