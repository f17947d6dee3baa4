#include "DeviceDialog.h"

#include "DeviceComponent.h"
#include "DeviceOwner.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>

#include <stdexcept>

TDeviceDlg::TDeviceDlg(QObject* owner)
    : TModalDialog(owner)
    , Label1(new QLabel(QStringLiteral("Device:"), this))
    , cbDevice(new QComboBox(this))
    , Label2(new QLabel(QStringLiteral("Port:"), this))
    , cbDevicePort(new QComboBox(this))
    , btnConnect(new QPushButton(QStringLiteral("Connect"), this))
    , btnCancel(new QPushButton(QStringLiteral("Abort"), this))
{
    setObjectName(QStringLiteral("DeviceDlg"));
    setWindowTitle(QStringLiteral("Select an Interface"));
    Label1->setObjectName(QStringLiteral("Label1"));
    cbDevice->setObjectName(QStringLiteral("cbDevice"));
    Label2->setObjectName(QStringLiteral("Label2"));
    cbDevicePort->setObjectName(QStringLiteral("cbDevicePort"));
    btnConnect->setObjectName(QStringLiteral("btnConnect"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    Label1->move(32, 44);
    Label1->setBuddy(cbDevice);
    cbDevice->setGeometry(80, 40, 161, cbDevice->sizeHint().height());
    Label2->move(48, 92);
    Label2->setBuddy(cbDevicePort);
    cbDevicePort->setGeometry(80, 88, 161, cbDevicePort->sizeHint().height());
    btnConnect->setGeometry(32, 144, 75, 25);
    btnConnect->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    btnCancel->setGeometry(200, 144, 75, 25);
    setFixedSize(306, 180);

    btnConnect->setDefault(true);
    connect(btnConnect, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbDevice, &QComboBox::currentIndexChanged, this, &TDeviceDlg::cbDeviceChange);
}

TDeviceOwner& TDeviceDlg::DeviceOwner() const
{
    auto* owner = dynamic_cast<TDeviceOwner*>(Owner());
    if (!owner)
        throw std::logic_error("Owner is not TCommand");
    return *owner;
}

bool TDeviceDlg::Execute()
{
    TDeviceOwner& owner = DeviceOwner();
    {
        const QSignalBlocker blocker(cbDevice);
        cbDevice->clear();
        for (int i = 0; i < owner.DeviceCount(); ++i)
            cbDevice->addItem(owner.Devices(i)->Description);
        cbDevice->setCurrentIndex(cbDevice->count() > 0 ? 0 : -1);
    }
    cbDeviceChange();
    return TModalDialog::Execute();
}

int TDeviceDlg::DeviceIndex() const
{
    return cbDevice->currentIndex();
}

QString TDeviceDlg::PortName() const
{
    return cbDevicePort->currentIndex() < 0 ? QString() : cbDevicePort->currentText();
}

void TDeviceDlg::showEvent(QShowEvent* event)
{
    TModalDialog::showEvent(event);
    cbDevice->setFocus();
}

void TDeviceDlg::cbDeviceChange()
{
    TDeviceOwner& owner = DeviceOwner();
    cbDevicePort->clear();
    const int index = cbDevice->currentIndex();
    if (index < 0 || index >= owner.DeviceCount())
        return;
    TDevice* device = owner.Devices(index);
    QStringList ports;
    device->GetPortList(ports);
    cbDevicePort->addItems(ports);
    if (ports.isEmpty())
        return;
    const QString remembered = device->GetPortName();
    int selected = 0;
    for (int i = 0; i < ports.size(); ++i) {
        if (ports[i].compare(remembered, Qt::CaseInsensitive) == 0) {
            selected = i;
            break;
        }
    }
    cbDevicePort->setCurrentIndex(selected);
}
