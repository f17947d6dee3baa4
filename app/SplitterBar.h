#pragma once
// A horizontal bar between a scrolling area above it and a collapsible panel
// below it: dragging the bar up or down makes the panel higher or lower, the
// area above takes up the rest. While the panel is collapsed the bar does
// nothing.
#include <QWidget>

class TRollPanel;

class TSplitterBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int BarHeight = 5;
    // The panel keeps at least this much of its body when dragged lower.
    static constexpr int MinimumBodyHeight = 40;

    TSplitterBar(TRollPanel* panel, QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int LargestPanelHeight() const;

    TRollPanel* FPanel;
    bool FDragging = false;
    int FStartY = 0;
    int FStartHeight = 0;
};
