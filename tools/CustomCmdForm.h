#pragma once
// The command editor window: the operator types a command byte and a
// payload, sees the packet they make (preamble, command, length, payload,
// checksum), sends it once or repeatedly at a fixed interval, and reads the
// status of every send and of later asynchronous results in a results memo.
//
// The payload syntax is the one of PayloadParser.h. Every send goes through
// THXT::ExecuteAsync with this window's AsyncResult as the handler for a
// later final answer; nothing is sent while no gripper object is set.
#include "stat.h"
#include "types.h"

#include <QPointer>
#include <QWidget>

#include <cstdint>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimer;
class QToolButton;
class TElidedLabel;
class THXT;
class TIntegerEdit;
class TRollPanel;

class TCustomCmd : public QWidget {
    Q_OBJECT
public:
    explicit TCustomCmd(QWidget* parent = nullptr);

    // The gripper object the editor sends through; not owned. Once it is
    // destroyed the editor sends nothing.
    THXT* Gripper() const;
    void SetGripper(THXT* gripper);

    // The command byte and payload that the next send uses.
    uint8_t CommandByte() const { return FCommandByte; }
    const TByteArray& Payload() const { return FPayload; }
    // True while a send waits for the gripper's answer.
    bool IsSending() const { return FSending; }

    // Event handlers.
    void FormCreate();
    void FormResize();
    void CommandEditChange();
    void btnSendClick();
    void cbAutoSendClick();
    void AutosendTimerTimer();
    void KnownIDClick(QAction* item);

    // Fills the decoding cells with the packet of `command` and `payload`.
    void ShowPacketDecoding(uint8_t command, const TByteArray& payload);
    // Handler of the later result of a send that answered E_CMD_PENDING.
    void AsyncResult(QObject* sender, int id, TStat status, const TByteArray& data);

    QWidget* pnCmdEntry;
    TIntegerEdit* edID;
    QToolButton* btnKnownIDs;
    QMenu* pmKnownIDs;
    QComboBox* edPayload;
    QLabel* lbPayloadSize;
    QWidget* pnDecodedPktSect;
    QLabel* lbId;
    QLabel* lbLength;
    TElidedLabel* lbPayload;
    QLabel* lbChecksum;
    QWidget* Panel2;
    QPushButton* btnSend;
    QCheckBox* cbAutosend;
    QSpinBox* AutosendIntervalEdit;
    QTimer* AutosendTimer;
    TRollPanel* RollPanel2;
    QPlainTextEdit* Log;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* CreateCommandEntry();
    QWidget* CreateDecodingSection();
    QWidget* CreateSendRow();
    QWidget* CreateResultsPanel();
    void SendOnce();
    void AddToHistory(const QString& text);
    void UpdateSendControls();
    void AppendLog(const QString& line);

    QPointer<THXT> FGripper;
    uint8_t FCommandByte = 0;
    TByteArray FPayload;
    bool FInputValid = false;
    bool FSending = false;
};
