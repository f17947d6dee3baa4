#pragma once
// A horizontal bar between a scrolling area above it and a collapsible panel
// below it: dragging the bar up or down makes the panel higher or lower, the
// area above takes up the rest. While the panel is collapsed the bar does
// nothing.
//
// Under pressure the panel gives way first: while the area above needs more
// height than it has, the panel is lowered, down to its caption, before the
// area has to scroll; with room again it goes back to the height the
// operator chose by dragging.
#include <QWidget>

#include <functional>

class TRollPanel;

class TSplitterBar : public QWidget {
    Q_OBJECT
public:
    static constexpr int BarHeight = 5;
    // The panel keeps at least this much of its body when dragged lower.
    static constexpr int MinimumBodyHeight = 40;

    TSplitterBar(TRollPanel* panel, QWidget* parent);

    // How high the area above needs to be to show all it holds.
    void SetNeededAbove(std::function<int()> neededAbove);
    // The panel's height as the operator chose it (at first its own).
    int ChosenHeight() const { return FChosenHeight; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int LargestPanelHeight() const;
    // Lowers the expanded panel as far as the area above needs, not below
    // its caption, nor above the chosen height.
    void GiveWay();

    TRollPanel* FPanel;
    bool FDragging = false;
    int FStartY = 0;
    int FStartHeight = 0;
    int FChosenHeight;
    bool FGivingWay = false;
    std::function<int()> FNeededAbove;
};
