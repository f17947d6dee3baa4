#pragma once
// The command log window: one line per packet exchanged with the gripper,
// with optional command names and status identifiers, and a conversion of
// selected hex bytes into a float, an integer or a text string.
//
// Every logged packet is kept (a received one with PacketReceivedMark set in
// its stored command field); the lines are not stored but formatted from the
// packets when they come into sight, so the log stays small and a change of
// the options reformats nothing in advance.
#include "PacketListClass.h"
#include "TextLineView.h"
#include "types.h"

#include <QWidget>

#include <functional>

class QAction;
class QCheckBox;
class QMenu;
class QMouseEvent;
class QPushButton;

class TCommLog : public QWidget, private TTextLineView::TLineSource {
    Q_OBJECT
public:
    // Asks for the name of the file to save the log into; empty = cancelled.
    using TSaveFileDialog = std::function<QString(QWidget* parent)>;

    explicit TCommLog(QWidget* parent = nullptr);
    ~TCommLog() override;

    // Stores a copy of the packet and adds its line. `received` marks packets
    // that came from the gripper.
    void LogPacket(const TPacket& packet, bool received);

    // Stored packets and their lines under the current options.
    int PacketCount() const { return FPackets.Count(); }
    const TPacket& StoredPacket(int index) const { return FPackets.At(index); }
    int LineCount() const override { return FPackets.Count(); }
    int LineLength(int line) const override;
    QString LineText(int line) const override;

    // Event handlers of the controls.
    void btnClearClick();
    void btnSaveClick();
    void OnOptionsChanged();
    void RxMsgMemoMouseUp(QMouseEvent* event);
    void miAsFloatClick();
    void miAsIntegerClick();
    void miAsTextClick();

    // Replaceable file dialog of "Save..." (tests script it).
    TSaveFileDialog SaveFileDialog;

    QWidget* Panel7;
    QCheckBox* cbShowIDDescr;
    QCheckBox* cbEvaluateErrorCodes;
    TTextLineView* RxMsgMemo;
    QWidget* Panel1;
    QPushButton* btnClear;
    QPushButton* btnSave;
    QMenu* PopupMenu1;
    QAction* miAsFloat;
    QAction* miAsInteger;
    QAction* miAsText;

private:
    // Parses the memo's selection into bytes; 0 when it is not a run of hex
    // bytes (the byte array is then empty).
    int SelectionToBytes(TByteArray& bytes) const;

    TPacketList FPackets;
};

// The program's one command log; created at start-up, logged into by the
// gripper object. Null while no log window exists (nothing is logged then).
extern TCommLog* CommLog;
