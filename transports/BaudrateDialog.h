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
    // Number of line speeds offered (1200 to 115200 baud).
    static constexpr int SpeedCount = 8;

    explicit TBaudrateDlg(QObject* owner);

    // Selected list index; -1 when none.
    int BaudrateIndex() const;
    // Selects the entry `index`; throws std::out_of_range("Index out of
    // bounds") outside 0 to SpeedCount - 1.
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
