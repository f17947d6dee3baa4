#include "SplitterBar.h"

#include "RollPanel.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {
// The area above the bar keeps at least this much height.
constexpr int MinimumAreaAbove = 60;
}

TSplitterBar::TSplitterBar(TRollPanel* panel, QWidget* parent) : QWidget(parent), FPanel(panel)
{
    setFixedHeight(BarHeight);
    setCursor(Qt::SplitVCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
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
