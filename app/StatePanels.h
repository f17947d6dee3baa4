#pragma once
// The main window's right column: the grasping state panel (state,
// position, speed and force), the system state panel with one read-only
// check box per system-state flag, and the Fast Stop button below them.
#include <QString>

#include <cstdint>
#include <vector>

class QCheckBox;
class QLabel;
class QScrollArea;
class QToolButton;
class QWidget;
class TRollPanel;

class TStatePanels {
public:
    const std::vector<QCheckBox*>& FlagBoxes() const { return FFlagBoxes; }
    // Builds one read-only check box per system-state flag in RollPanel1.
    void CreateFlagBoxes(int left, int top, int step, int width);

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

    // Layout handler of the grasping state panel.
    void RollPanel3Resize();

protected:
    QWidget* CreateRightColumn(QWidget* owner);
    // Widens the right column where its texts need more than its design width.
    void FitRightColumn();
    // Ticks the flag boxes whose flag is set in `state`; set faults in red.
    void TickFlags(uint32_t state);
    // The values of the grasping state panel all show "[n/a]".
    void ClearValues();

private:
    void CreateStatePanel(QWidget* parent);
    void CreateSystemStatePanel(QWidget* parent);
    QWidget* CreateEmergencyPanel(QWidget* parent);

    std::vector<QCheckBox*> FFlagBoxes;
};
