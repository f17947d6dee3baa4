#pragma once
// "Select an Interface": the operator chooses the device and its port before
// connecting. The owner must be the command dispatcher (a TDeviceOwner), from
// which the dialog takes the device list; the port list comes from the
// selected device and is rebuilt on every Execute. For a device whose ports
// come and go (TDevice::HotPlugPorts) the port box also takes a typed port
// name, and the list is read again every PortPollIntervalMs while the dialog
// is open, keeping the selection.
#include "ModalDialog.h"

class QComboBox;
class QTimer;
class TDevice;
class QLabel;
class QPushButton;
class TDeviceOwner;

class TDeviceDlg : public TModalDialog {
    Q_OBJECT
public:
    static constexpr int PortPollIntervalMs = 1000;

    explicit TDeviceDlg(QObject* owner);

    // Lists the devices, selects the first one with its remembered port and
    // shows the dialog modally; true when it was closed with "Connect".
    // Throws std::logic_error("Owner is not TCommand") when the owner holds
    // no device list.
    bool Execute();

    // Index of the selected device in the owner's device list.
    int DeviceIndex() const;
    // The selected (or typed) port name; empty when there is none.
    QString PortName() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    TDeviceOwner& DeviceOwner() const;
    TDevice* SelectedDevice() const;
    void cbDeviceChange();
    // Lists `ports` (shown by their labels, a label too long for the box
    // shortened in the middle and whole as the entry's tooltip) and selects `wanted` when listed;
    // otherwise a typed name stays in an editable box, or the first entry is
    // selected.
    void FillPorts(TDevice& device, const QStringList& ports, const QString& wanted);
    // Width the port box gives the text of its entry.
    int PortTextRoom() const;
    void PollPorts();
    void UpdatePortPoll();

    QLabel* Label1;
    QComboBox* cbDevice;
    QLabel* Label2;
    QComboBox* cbDevicePort;
    QPushButton* btnConnect;
    QPushButton* btnCancel;
    QTimer* FPortPoll;
};
