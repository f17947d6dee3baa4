#pragma once
// The main window's status bar: the link on its right (where it goes, its
// state with the countdown while reconnecting, and the packets since
// connect), kept up to date a few times a second, and hints on its left in
// the room the link leaves. The link's address and counts never make room
// for a hint: a hint too long for the room is shortened, or left out where
// the room is too small for a useful part of it, and is then shown whole in
// the status bar's tooltip (the control it describes has it as its tooltip
// too). Only where the bar is too narrow for the link itself is its address
// shortened in the middle; the label's tooltip holds the whole text.
#include <QObject>
#include <QString>

class QLabel;
class QStatusBar;
class THXT;
class TReconnector;

class TLinkStatusBar : public QObject {
    Q_OBJECT
public:
    TLinkStatusBar(QStatusBar* bar, const TReconnector& reconnector, const THXT& gripper);

    QLabel* Label() const { return FLabel; }
    // Shows `hint` on the left, for `timeoutMs` (0: until the next).
    void ShowHint(const QString& hint, int timeoutMs = 0);
    // Shows the link's text as it is now.
    void Update();

private:
    QStatusBar* FBar;
    const TReconnector& FReconnector;
    const THXT& FGripper;
    QLabel* FLabel;
};
