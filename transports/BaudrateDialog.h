#pragma once
// "Connection Properties": the line speed of the serial device, asked each
// time the port is opened. The list index is what uart.cfg stores.
#include "ModalDialog.h"

class QComboBox;
class QLabel;
class QPushButton;

class TBaudrateDlg : public TModalDialog {
    Q_OBJECT
public:
    explicit TBaudrateDlg(QObject* owner);

    // Selected list index; -1 when none.
    int BaudrateIndex() const;
    // Selects the entry `index`; throws std::out_of_range("Index out of
    // bounds") outside 0 to 7.
    void SetBaudrateIndex(int index);
    // Line speed of the selected entry; throws std::logic_error("Baudrate
    // index undefined") when none is selected.
    int Baudrate() const;

private:
    void cbBaudrateChange();

    QLabel* FLabel;
    QComboBox* cbBaudrate;
    QPushButton* btnOk;
    QPushButton* btnCancel;
};
