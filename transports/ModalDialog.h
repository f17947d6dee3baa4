#pragma once
// Base of the transport dialogs: a modal dialog that belongs to a component.
// A widget cannot be the Qt child of a non-visual object, so a dialog whose
// owner is not a widget is a top-level window that is deleted together with
// its owner; with a widget owner it is an ordinary child dialog.
#include <QDialog>

class TModalDialog : public QDialog {
    Q_OBJECT
public:
    explicit TModalDialog(QObject* owner);

    QObject* Owner() const { return FOwner; }

    // Shows the dialog modally (through RunDialog); true when it was closed
    // with OK.
    bool Execute();

protected:
    // Fixes the dialog's size at the design's client area, larger only when
    // the font makes the dialog's layout need more room.
    void FixSize(int designWidth, int designHeight);

private:
    QObject* FOwner;
};
