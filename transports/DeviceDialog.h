#pragma once
// "Select an Interface": the operator chooses the device and its port before
// connecting. The owner must be the command dispatcher (a TDeviceOwner), from
// which the dialog takes the device list; the port list comes from the
// selected device and is rebuilt on every Execute.
#include "ModalDialog.h"

class QComboBox;
class QLabel;
class QPushButton;
class TDeviceOwner;

class TDeviceDlg : public TModalDialog {
    Q_OBJECT
public:
    explicit TDeviceDlg(QObject* owner);

    // Lists the devices, selects the first one with its remembered port and
    // shows the dialog modally; true when it was closed with "Connect".
    // Throws std::logic_error("Owner is not TCommand") when the owner holds
    // no device list.
    bool Execute();

    // Index of the selected device in the owner's device list.
    int DeviceIndex() const;
    // The selected port name; empty when no port is selected.
    QString PortName() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    TDeviceOwner& DeviceOwner() const;
    void cbDeviceChange();

    QLabel* Label1;
    QComboBox* cbDevice;
    QLabel* Label2;
    QComboBox* cbDevicePort;
    QPushButton* btnConnect;
    QPushButton* btnCancel;
};
