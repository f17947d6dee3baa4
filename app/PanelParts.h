#pragma once
// Parts the main window's panels share: labels, collapsible panels in the
// window's colours, and the texts of values.
#include <QString>

#include <cstdint>

class QLabel;
class QWidget;
class TRollPanel;

// The design width of the right column and of its collapsible panels.
constexpr int RightColumnWidth = 169;

// Shown for a value the gripper has not reported.
QString NotAvailableText();

QLabel* MakeLabel(const QString& name, const QString& caption, QWidget* parent);

// An expanded collapsible panel with the window's caption gradient, of the
// right column's width and `height`.
TRollPanel* MakeRollPanel(const QString& name, const QString& caption, int height, QWidget* parent);

// Fixed notation with two decimals and the user's decimal separator, without
// group separators (the float edits do not accept them).
QString FixedText(double value);

// The name of a grasping state, or "unknown (N)".
QString GraspingStateCaption(uint8_t state);
