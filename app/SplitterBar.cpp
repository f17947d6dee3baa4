#include "SplitterBar.h"

#include "RollPanel.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>

namespace {
// The area above the bar keeps at least this much height.
constexpr int MinimumAreaAbove = 60;
}

TSplitterBar::TSplitterBar(TRollPanel* panel, QWidget* parent)
    : QWidget(parent), FPanel(panel), FChosenHeight(panel->height())
{
    setFixedHeight(BarHeight);
    setCursor(Qt::SplitVCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TSplitterBar::SetNeededAbove(std::function<int()> neededAbove)
{
    FNeededAbove = std::move(neededAbove);
    if (parentWidget())
        parentWidget()->installEventFilter(this);
    FPanel->installEventFilter(this);
}

bool TSplitterBar::eventFilter(QObject* watched, QEvent* event)
{
    const bool area = watched == parentWidget() &&
                      (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest);
    // An expanded panel comes back at its height before collapsing, at the
    // end of its animation.
    const bool panel = watched == FPanel && event->type() == QEvent::Resize && !FGivingWay && !FDragging;
    if (area)
        GiveWay();
    else if (panel)
        QTimer::singleShot(0, this, [this] { GiveWay(); });
    return QWidget::eventFilter(watched, event);
}

void TSplitterBar::GiveWay()
{
    const QWidget* above = parentWidget();
    if (!FNeededAbove || !above || FDragging || FPanel->State() != rpExpanded || !FPanel->Animator()->IsIdle())
        return;
    const int caption = 2 * FPanel->Margin() + FPanel->CaptionHeight() + 2;
    const int room = above->height() - FNeededAbove() - BarHeight;
    const int height = std::max(caption, std::min(room, FChosenHeight));
    if (height == FPanel->height())
        return;
    FGivingWay = true;
    FPanel->resize(FPanel->width(), height);
    FGivingWay = false;
}

void TSplitterBar::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || FPanel->State() != rpExpanded)
        return;
    FDragging = true;
    FStartY = event->globalPosition().toPoint().y();
    FStartHeight = FPanel->height();
}

void TSplitterBar::mouseMoveEvent(QMouseEvent* event)
{
    if (!FDragging)
        return;
    const int lowest = 2 * FPanel->Margin() + FPanel->CaptionHeight() + MinimumBodyHeight;
    const int wanted = FStartHeight - (event->globalPosition().toPoint().y() - FStartY);
    const int height = std::max(lowest, std::min(wanted, LargestPanelHeight()));
    FChosenHeight = height;
    FPanel->resize(FPanel->width(), height);
}

void TSplitterBar::mouseReleaseEvent(QMouseEvent*)
{
    FDragging = false;
}

int TSplitterBar::LargestPanelHeight() const
{
    const QWidget* area = parentWidget();
    return area ? area->height() - MinimumAreaAbove - BarHeight : FPanel->height();
}

void TSplitterBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor face = palette().color(QPalette::Window);
    painter.fillRect(rect(), face);
    painter.setPen(face.darker(130));
    const int middle = width() / 2;
    for (int dx = -12; dx <= 12; dx += 4)
        painter.drawPoint(middle + dx, height() / 2);
}
