#pragma once
// Gripper > Find a Gripper...: looks for grippers with the gripper scan (the
// system's serial ports at every line speed and its CAN interfaces, and the
// connections given), lists the grippers that answered and the ports that
// could not be tried, and lets the operator choose one to connect to. The
// scan runs on a thread of its own, so the window stays responsive while it
// takes its seconds; "Search again" repeats it. Shown through the program's
// dialog runner, so tests script it.
#include "GripperScan.h"

#include <QDialog>
#include <QString>

#include <memory>

class QLabel;
class QPushButton;
class QThread;
class QTreeWidget;

class TFindGripperDlg : public QDialog {
    Q_OBJECT
public:
    TFindGripperDlg(TScanOptions options, QWidget* owner);
    // Waits for a scan still running.
    ~TFindGripperDlg() override;

    // Starts a scan; nothing while one runs.
    void Search();
    bool Searching() const { return FThread != nullptr; }
    const TScanResult& Result() const { return FResult; }
    // The connection string of the gripper chosen in the list; empty when
    // none is.
    QString Chosen() const;

    QLabel* lbStatus;
    QTreeWidget* lvFound;
    QPushButton* btnConnect;
    QPushButton* btnSearch;
    QPushButton* btnClose;

private:
    // Shows what a scan found, or `error` when it could not run.
    void Show(const TScanResult& result, const QString& error);
    void UpdateButtons();

    TScanOptions FOptions;
    TScanResult FResult;
    QThread* FThread = nullptr;
};
