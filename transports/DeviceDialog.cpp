#include "DeviceDialog.h"

#include "DeviceComponent.h"
#include "DeviceOwner.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTimer>

#include <algorithm>
#include <stdexcept>

namespace {

// Width a push button needs for its caption (and picture) with some room
// on both sides; the style's own size hint rounds every button up to 80.
int NeededButtonWidth(const QPushButton* button)
{
    QString caption = button->text();
    caption.remove(QLatin1Char('&'));
    int width = button->fontMetrics().horizontalAdvance(caption) + 20;
    if (!button->icon().isNull())
        width += button->iconSize().width() + 4;
    return width;
}

}

TDeviceDlg::TDeviceDlg(QObject* owner)
    : TModalDialog(owner)
    , Label1(new QLabel(QStringLiteral("Device:"), this))
    , cbDevice(new QComboBox(this))
    , Label2(new QLabel(QStringLiteral("Port:"), this))
    , cbDevicePort(new QComboBox(this))
    , btnConnect(new QPushButton(QStringLiteral("Connect"), this))
    , btnCancel(new QPushButton(QStringLiteral("Abort"), this))
    , FPortPoll(new QTimer(this))
{
    setObjectName(QStringLiteral("DeviceDlg"));
    setWindowTitle(QStringLiteral("Select an Interface"));
    Label1->setObjectName(QStringLiteral("Label1"));
    cbDevice->setObjectName(QStringLiteral("cbDevice"));
    Label2->setObjectName(QStringLiteral("Label2"));
    cbDevicePort->setObjectName(QStringLiteral("cbDevicePort"));
    btnConnect->setObjectName(QStringLiteral("btnConnect"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));

    // Design: lists at (80, 40) and (80, 88), 161 wide; buttons at (32, 144)
    // and (200, 144), 75 x 25; client area 306 x 180. Each label ends a
    // little left of its list and is centred on it, so a font wider than the
    // design's does not run it into the list. Sizes grow only where the font
    // needs more room than the design gives.
    constexpr int LabelGap = 6;
    const int labelWidth = std::max(Label1->sizeHint().width(), Label2->sizeHint().width());
    const int listLeft = std::max(80, 8 + labelWidth + LabelGap);
    // The lists reach as far right as the button below them, so that port
    // labels such as "Net 1 (virtualcan:can0)" fit; longer ones (device
    // paths) are shortened in the middle, whole in their tooltips.
    const int listWidth = std::max({306 - 25 - listLeft, cbDevice->sizeHint().width(), cbDevicePort->sizeHint().width()});
    const int listHeight = cbDevice->sizeHint().height();
    const auto placeRow = [&](QLabel* label, QComboBox* list, int listTop) {
        list->setGeometry(listLeft, listTop, listWidth, listHeight);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setGeometry(listLeft - LabelGap - labelWidth, listTop, labelWidth, listHeight);
    };
    placeRow(Label1, cbDevice, 40);
    Label1->setBuddy(cbDevice);
    placeRow(Label2, cbDevicePort, 88);
    Label2->setBuddy(cbDevicePort);

    btnConnect->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    // Both buttons share one width, so they stay the same distance from the
    // left and the right edge.
    const int buttonWidth = std::max({75, NeededButtonWidth(btnConnect), NeededButtonWidth(btnCancel)});
    const int buttonHeight = std::max(25, btnConnect->fontMetrics().height() + 10);
    const int buttonTop = std::max(144, cbDevicePort->geometry().bottom() + 1 + 24);
    const int width = std::max({306, listLeft + listWidth + 25, 32 + 31 + 2 * buttonWidth + 20});
    btnConnect->setGeometry(32, buttonTop, buttonWidth, buttonHeight);
    btnCancel->setGeometry(width - 31 - buttonWidth, buttonTop, buttonWidth, buttonHeight);
    setFixedSize(width, std::max(180, buttonTop + buttonHeight + 11));

    btnConnect->setDefault(true);
    connect(btnConnect, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbDevice, &QComboBox::currentIndexChanged, this, &TDeviceDlg::cbDeviceChange);
    connect(cbDevicePort, &QComboBox::currentIndexChanged, this,
            [this](int index) { cbDevicePort->setToolTip(cbDevicePort->itemData(index, Qt::ToolTipRole).toString()); });
    FPortPoll->setInterval(PortPollIntervalMs);
    connect(FPortPoll, &QTimer::timeout, this, &TDeviceDlg::PollPorts);
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
    const int index = cbDevicePort->currentIndex();
    if (cbDevicePort->isEditable()) {
        const QString typed = cbDevicePort->currentText().trimmed();
        if (index < 0 || cbDevicePort->itemText(index) != typed)
            return typed;
    }
    return index < 0 ? QString() : cbDevicePort->itemData(index).toString();
}

void TDeviceDlg::showEvent(QShowEvent* event)
{
    TModalDialog::showEvent(event);
    cbDevice->setFocus();
    UpdatePortPoll();
}

void TDeviceDlg::hideEvent(QHideEvent* event)
{
    FPortPoll->stop();
    TModalDialog::hideEvent(event);
}

TDevice* TDeviceDlg::SelectedDevice() const
{
    TDeviceOwner& owner = DeviceOwner();
    const int index = cbDevice->currentIndex();
    return index < 0 || index >= owner.DeviceCount() ? nullptr : owner.Devices(index);
}

void TDeviceDlg::cbDeviceChange()
{
    TDevice* device = SelectedDevice();
    cbDevicePort->clear();
    cbDevicePort->setEditable(device && device->HotPlugPorts());
    UpdatePortPoll();
    if (!device)
        return;
    QStringList ports;
    device->GetPortList(ports);
    FillPorts(*device, ports, device->GetPortName());
}

void TDeviceDlg::FillPorts(TDevice& device, const QStringList& ports, const QString& wanted)
{
    const QSignalBlocker blocker(cbDevicePort);
    cbDevicePort->clear();
    const int room = PortTextRoom();
    for (const QString& port : ports) {
        const QString label = device.PortLabel(port);
        cbDevicePort->addItem(cbDevicePort->fontMetrics().elidedText(label, Qt::ElideMiddle, room), port);
        cbDevicePort->setItemData(cbDevicePort->count() - 1, label, Qt::ToolTipRole);
    }
    if (ports.isEmpty())
        return;
    int selected = -1;
    for (int i = 0; i < ports.size(); ++i) {
        if (ports[i].compare(wanted, Qt::CaseInsensitive) == 0) {
            selected = i;
            break;
        }
    }
    if (selected < 0 && cbDevicePort->isEditable() && !wanted.isEmpty() && isVisible()) {
        // A name the operator typed, or a port that went away: it stays.
        cbDevicePort->setCurrentIndex(-1);
        cbDevicePort->setEditText(wanted);
        return;
    }
    cbDevicePort->setCurrentIndex(std::max(selected, 0));
    cbDevicePort->setToolTip(cbDevicePort->currentData(Qt::ToolTipRole).toString());
}

int TDeviceDlg::PortTextRoom() const
{
    QStyleOptionComboBox option;
    option.initFrom(cbDevicePort);
    option.editable = cbDevicePort->isEditable();
    const QRect field =
        cbDevicePort->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, cbDevicePort);
    // A line edit keeps a small margin on both sides of its text.
    return field.width() - (cbDevicePort->isEditable() ? 6 : 0);
}

void TDeviceDlg::PollPorts()
{
    TDevice* device = SelectedDevice();
    if (!device)
        return;
    QStringList ports;
    device->GetPortList(ports);
    QStringList listed;
    for (int i = 0; i < cbDevicePort->count(); ++i)
        listed << cbDevicePort->itemData(i).toString();
    if (ports != listed)
        FillPorts(*device, ports, PortName());
}

void TDeviceDlg::UpdatePortPoll()
{
    const TDevice* device = isVisible() ? SelectedDevice() : nullptr;
    if (device && device->HotPlugPorts())
        FPortPoll->start();
    else
        FPortPoll->stop();
}
