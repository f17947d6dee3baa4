#pragma once
// The main window's left area: the six motion command panels (acceleration,
// force, goto, grasp, release, stop) with their edit/track bar pairs, the
// fast-stop line under them and the collapsible results log. The edits take
// the gripper's ranges after connecting; each track bar follows its edit and
// moves it.
#include "GripperReadBack.h"

#include <QString>

#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSlider;
class QWidget;
class TCommandPanel;
class TFloatEdit;
class TRollPanel;
class TSplitterBar;
struct TSystemLimits;

class TMotionPanels {
public:
    // Gives an edit the gripper's range after connecting.
    void SetEditRange(TFloatEdit* edit, const QString& unit, double minimum, double maximum);
    void FloatEditChange(TFloatEdit* sender);
    void TrackbarChange(QSlider* sender);
    // Layout handler of the results panel.
    void RollPanel2Resize();

    QWidget* pnLeft;
    QScrollArea* sbCommands;
    TCommandPanel* pnAcc;
    TCommandPanel* pnForce;
    TCommandPanel* pnGoto;
    TCommandPanel* pnGrasp;
    TCommandPanel* pnRelease;
    TCommandPanel* pnStop;
    TFloatEdit* edAcc;
    QSlider* tbAcc;
    QPushButton* btnApplyAcc;
    TFloatEdit* edForce;
    QSlider* tbForce;
    QPushButton* btnApplyForce;
    TFloatEdit* edGotoPos;
    QSlider* tbGotoPos;
    TFloatEdit* edGotoSpeed;
    QSlider* tbGotoSpeed;
    QPushButton* btnGoto;
    TFloatEdit* edGraspingPos;
    QSlider* tbGraspingPos;
    TFloatEdit* edGraspingSpeed;
    QSlider* tbGraspingSpeed;
    QPushButton* btnGrasp;
    TFloatEdit* edReleasePos;
    QSlider* tbReleasePos;
    TFloatEdit* edReleaseSpeed;
    QSlider* tbReleaseSpeed;
    QPushButton* btnRelease;
    QPushButton* btnStop;
    // Under the command panels while the gripper is in fast stop.
    QLabel* lbFastStop;
    TSplitterBar* Splitter1;
    TRollPanel* RollPanel2;
    QPlainTextEdit* AsyncLog;

protected:
    QWidget* CreateLeftArea(QWidget* owner);
    // Gives the edits of the motion panels the gripper's ranges.
    void ApplyLimits(const TSystemLimits& limits);
    // Puts what the gripper runs with into the acceleration and force edits,
    // so that "Apply" without an edit sends back what it already has.
    void ShowRunningSettings(const TRunningSettings& settings);
    // Shows the fast-stop line naming `acknowledgeKey`, or hides it.
    void ShowFastStop(bool fastStop, const QString& acknowledgeKey);

private:
    struct TEditTrackPair {
        TFloatEdit* edit;
        QSlider* track;
    };
    // The design of an edit/track bar pair: names, first text, largest value
    // before the gripper's limits are known, caption and unit.
    struct TPairDesign {
        const char* edit;
        const char* text;
        double maxValue;
        const char* track;
        const char* caption;
        QString unit;
    };

    QWidget* CreateCommandPanels();
    TFloatEdit* CreateFloatEdit(const QString& name, const QString& text, double maxValue, QWidget* parent);
    QSlider* CreateTrackBar(const QString& name, QWidget* parent);
    // Creates a pair in a new row of `panel`.
    void AddPair(TCommandPanel* panel, const TPairDesign& design, TFloatEdit*& edit, QSlider*& track);
    void UpdateCommandButtons();
    // The pair `control` (an edit or a track bar) belongs to, or null.
    const TEditTrackPair* PairOf(const QWidget* control) const;
    // Puts the pair's track bar where its edit's value lies in its range.
    void FollowEdit(const TEditTrackPair& pair);

    std::vector<TEditTrackPair> FPairs;
};
