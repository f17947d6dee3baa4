#pragma once
// "CAN-Bus Configuration": the bit rate and the identifier of the gripper,
// asked each time the CAN device is opened. Nothing is stored in can.cfg; the
// identifier keeps the value last entered while the program runs.
#include "ModalDialog.h"

#include <cstdint>

class QComboBox;
class QLabel;
class QPushButton;
class TIntegerEdit;

class TCANParamsDlg : public TModalDialog {
    Q_OBJECT
public:
    explicit TCANParamsDlg(QObject* owner);

    // Driver bit-rate code of the entry shown in the bit-rate box; 0 (the
    // code of 1 MBit/s) when the text names no entry, which OK does not allow.
    uint32_t BitrateCode() const;
    // Selects the entry with driver code `code`; throws std::invalid_argument
    // "<code> is not a supported bitrate" for a code not in the list.
    void SetBitrateCode(uint32_t code);
    // The identifier entered, or -1 while the field is not valid.
    int32_t TargetId() const;

private:
    // Index of the entry the bit-rate text names (letter case ignored), or -1.
    int NamedBitrateEntry() const;
    void edIDChange();
    void cbBitrateChange();
    // OK needs a valid identifier and a bit-rate text that names an entry:
    // a guessed bit rate would disturb every node on a shared bus.
    void UpdateOkButton();

    QLabel* FPrompt;
    QLabel* Label1;
    QComboBox* cbBitrate;
    QLabel* Label2;
    TIntegerEdit* edID;
    QPushButton* btnOk;
    QPushButton* btnCancel;
};
