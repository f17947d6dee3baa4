// The transport dialogs as the operator meets them: captions, entries,
// preselection from the settings files and the enabling of their OK buttons,
// all driven through the dialog runner seam.
#include "BaudrateDialog.h"
#include "DeviceDialog.h"
#include "DeviceOwner.h"
#include "HostnameDialog.h"
#include "IntegerEdit.h"
#include "SerialDevice.h"
#include "TCPDevice.h"
#include "TransportTestSupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>

#include <stdexcept>

namespace {

// A device whose ports are whatever the test says.
class TFakeDevice : public TDevice {
public:
    TFakeDevice(const QString& id, const QString& description, QStringList ports)
        : TDevice(id, nullptr)
        , Ports(std::move(ports))
    {
        Description = description;
    }

    bool IsOpen() const override { return false; }
    TStat Open(const QString&) override { return E_IO_ERROR; }
    TStat Close() override { return E_SUCCESS; }
    int32_t BytesAvailable() override { return 0; }
    int32_t Read(uint8_t*, int32_t) override { return -1; }
    TStat Write(const uint8_t*, int32_t) override { return E_NOT_OPENED; }
    void GetPortList(QStringList& list) override { list = Ports; }

    QStringList Ports;
};

// Stands in for the command dispatcher: owns the devices, in list order.
class TFakeOwner : public QObject, public TDeviceOwner {
public:
    int DeviceCount() const override { return static_cast<int>(List.size()); }
    TDevice* Devices(int index) const override { return List.at(static_cast<size_t>(index)); }

    template <typename T>
    T* Add(T* device)
    {
        device->setParent(this);
        List.push_back(device);
        return device;
    }

    std::vector<TDevice*> List;
};

QStringList Entries(const QComboBox* box)
{
    QStringList entries;
    for (int i = 0; i < box->count(); ++i)
        entries << box->itemText(i);
    return entries;
}

template <typename T>
T* Child(QDialog& dialog, const char* name)
{
    return dialog.findChild<T*>(QString::fromLatin1(name));
}

} // namespace

class DeviceDialog : public TransportTest {
protected:
    // Serial ports as given, the real TCP device, and a CAN device without nets.
    void MakeDevices(const QStringList& serialPorts)
    {
        Serial = Owner.Add(new TFakeDevice(QStringLiteral("uart"), QStringLiteral("Serial (RS232)"), serialPorts));
        Owner.Add(new TTCPDevice(nullptr));
        Owner.Add(new TFakeDevice(QStringLiteral("can"), QStringLiteral("CAN-Bus"), {QStringLiteral("not installed")}));
    }

    // Runs the dialog, noting what it showed, and closes it with `button`.
    bool RunAndPress(TDeviceDlg& dialog, const char* button)
    {
        DialogScript = [this, button](QDialog& shown) {
            Caption = shown.windowTitle();
            DeviceEntries = Entries(Child<QComboBox>(shown, "cbDevice"));
            SelectedDevice = Child<QComboBox>(shown, "cbDevice")->currentText();
            PortEntries = Entries(Child<QComboBox>(shown, "cbDevicePort"));
            SelectedPort = Child<QComboBox>(shown, "cbDevicePort")->currentText();
            return Press(shown, button);
        };
        return dialog.Execute();
    }

    TFakeOwner Owner;
    TFakeDevice* Serial = nullptr;
    QString Caption, SelectedDevice, SelectedPort;
    QStringList DeviceEntries, PortEntries;
};

TEST_F(DeviceDialog, ListsTheDevicesAndPreselectsTheRememberedPort)
{
    MakeDevices({QStringLiteral("COM1"), QStringLiteral("COM3")});
    WriteSettingsFile(QStringLiteral("uart.cfg"), "[Common]\nPortname=COM3\n");
    TDeviceDlg dialog(&Owner);

    EXPECT_TRUE(RunAndPress(dialog, "btnConnect"));
    EXPECT_EQ(Caption, QStringLiteral("Select an Interface"));
    EXPECT_EQ(DeviceEntries, QStringList({"Serial (RS232)", "Ethernet", "CAN-Bus"}));
    EXPECT_EQ(SelectedDevice, QStringLiteral("Serial (RS232)"));
    EXPECT_EQ(PortEntries, QStringList({"COM1", "COM3"}));
    EXPECT_EQ(dialog.DeviceIndex(), 0);
    EXPECT_EQ(dialog.PortName(), QStringLiteral("COM3"));
}

TEST_F(DeviceDialog, RememberedPortMatchesWithoutCaseOrFallsBackToTheFirst)
{
    MakeDevices({QStringLiteral("COM1"), QStringLiteral("COM3")});
    TDeviceDlg dialog(&Owner);

    WriteSettingsFile(QStringLiteral("uart.cfg"), "[common]\nportname=com3\n");
    ASSERT_TRUE(RunAndPress(dialog, "btnConnect"));
    EXPECT_EQ(dialog.PortName(), QStringLiteral("COM3"));

    Serial->Ports = {QStringLiteral("COM1")};
    ASSERT_TRUE(RunAndPress(dialog, "btnConnect"));
    EXPECT_EQ(dialog.PortName(), QStringLiteral("COM1")) << "remembered port no longer present";

    WriteSettingsFile(QStringLiteral("uart.cfg"), "");
    Serial->Ports = {QStringLiteral("COM7"), QStringLiteral("COM8")};
    ASSERT_TRUE(RunAndPress(dialog, "btnConnect"));
    EXPECT_EQ(dialog.PortName(), QStringLiteral("COM7")) << "nothing remembered";
}

TEST_F(DeviceDialog, ChoosingAnotherDeviceShowsItsPortsAndEachRunStartsAfresh)
{
    MakeDevices({QStringLiteral("COM1")});
    TDeviceDlg dialog(&Owner);
    QStringList ethernetPorts, canPorts;
    DialogScript = [&](QDialog& shown) {
        auto* devices = Child<QComboBox>(shown, "cbDevice");
        auto* ports = Child<QComboBox>(shown, "cbDevicePort");
        devices->setCurrentIndex(2);
        canPorts = Entries(ports);
        devices->setCurrentIndex(1);
        ethernetPorts = Entries(ports);
        return Press(shown, "btnConnect");
    };
    ASSERT_TRUE(dialog.Execute());
    EXPECT_EQ(ethernetPorts, QStringList({"TCP"}));
    EXPECT_EQ(canPorts, QStringList({"not installed"}));
    EXPECT_EQ(dialog.DeviceIndex(), 1);
    EXPECT_EQ(dialog.PortName(), QStringLiteral("TCP"));

    ASSERT_TRUE(RunAndPress(dialog, "btnConnect"));
    EXPECT_EQ(dialog.DeviceIndex(), 0) << "the previous choice is not remembered";
    EXPECT_EQ(SelectedPort, QStringLiteral("COM1"));
}

TEST_F(DeviceDialog, AbortAndEscapeCancel)
{
    MakeDevices({QStringLiteral("COM1")});
    TDeviceDlg dialog(&Owner);
    EXPECT_FALSE(RunAndPress(dialog, "btnCancel"));
    EXPECT_EQ(Child<QPushButton>(dialog, "btnCancel")->text(), QStringLiteral("Abort"));

    DialogScript = [](QDialog& shown) {
        shown.setResult(QDialog::Accepted);
        shown.show();
        QTest::keyClick(&shown, Qt::Key_Escape);
        return shown.result();
    };
    EXPECT_FALSE(dialog.Execute());
}

TEST_F(DeviceDialog, DeviceWithoutPortsGivesAnEmptyPortName)
{
    MakeDevices({});
    TDeviceDlg dialog(&Owner);
    EXPECT_TRUE(RunAndPress(dialog, "btnConnect")) << "Connect still closes the dialog";
    EXPECT_TRUE(PortEntries.isEmpty());
    EXPECT_EQ(dialog.PortName(), QString());
}

TEST_F(DeviceDialog, FocusStartsOnTheDeviceList)
{
    MakeDevices({QStringLiteral("COM1")});
    TDeviceDlg dialog(&Owner);
    QWidget* focused = nullptr;
    DialogScript = [&](QDialog& shown) {
        shown.show();
        focused = shown.focusWidget();
        return Press(shown, "btnCancel");
    };
    dialog.Execute();
    EXPECT_EQ(focused, Child<QComboBox>(dialog, "cbDevice"));
}

TEST_F(DeviceDialog, OwnerMustHoldTheDeviceList)
{
    QObject notADispatcher;
    TDeviceDlg dialog(&notADispatcher);
    try {
        dialog.Execute();
        FAIL() << "Execute must refuse an owner without devices";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Owner is not TCommand");
    }
    EXPECT_EQ(DialogRuns, 0);
}

TEST_F(DeviceDialog, IsDeletedWithItsOwner)
{
    auto* owner = new TFakeOwner;
    QPointer<TDeviceDlg> dialog = new TDeviceDlg(owner);
    delete owner;
    EXPECT_TRUE(dialog.isNull());
}

using BaudrateDialog = TransportTest;

TEST_F(BaudrateDialog, ShowsTheLineSpeedsWithTheStoredOnePreselected)
{
    QString caption, selected;
    QStringList entries;
    DialogScript = [&](QDialog& shown) {
        caption = shown.windowTitle();
        entries = Entries(Child<QComboBox>(shown, "cbBaudrate"));
        selected = Child<QComboBox>(shown, "cbBaudrate")->currentText();
        return Press(shown, "btnCancel");
    };
    {
        TSerialDevice device(nullptr);
        AttachOperator(device);
        EXPECT_EQ(device.Open(QStringLiteral("ttyS0")), E_CMD_ABORTED);
    }
    EXPECT_EQ(caption, QStringLiteral("Connection Properties"));
    EXPECT_EQ(entries, QStringList({"1200 baud", "2400 baud", "4800 baud", "9600 baud", "19200 baud",
                           "38400 baud", "57600 baud", "115200 baud"}));
    EXPECT_EQ(selected, QStringLiteral("1200 baud")) << "no settings file";
    EXPECT_FALSE(QFile::exists(Folder.filePath(QStringLiteral("uart.cfg")))) << "cancel stores nothing";

    const std::pair<QByteArray, QString> stored[] = {
        {"[COMMON]\nBaudrate=$5\n", QStringLiteral("38400 baud")},
        {"[common]\nbaudrate=7\n", QStringLiteral("115200 baud")},
        {"[common]\nbaudrate=9\n", QStringLiteral("1200 baud")},
        {"[common]\nbaudrate=-1\n", QStringLiteral("1200 baud")},
        {"[common]\nbaudrate=fast\n", QStringLiteral("1200 baud")},
    };
    for (const auto& [text, expected] : stored) {
        WriteSettingsFile(QStringLiteral("uart.cfg"), text);
        TSerialDevice device(nullptr);
        AttachOperator(device);
        device.Open(QStringLiteral("ttyS0"));
        EXPECT_EQ(selected, expected) << text.constData();
    }
}

TEST_F(BaudrateDialog, AccessorsGuardTheirIndex)
{
    TBaudrateDlg dialog(nullptr);
    dialog.SetBaudrateIndex(3);
    EXPECT_EQ(dialog.Baudrate(), 9600);
    EXPECT_THROW(
        {
            try {
                dialog.SetBaudrateIndex(8);
            } catch (const std::out_of_range& e) {
                EXPECT_STREQ(e.what(), "Index out of bounds");
                throw;
            }
        },
        std::out_of_range);
    EXPECT_THROW(dialog.SetBaudrateIndex(-1), std::out_of_range);
    EXPECT_EQ(dialog.BaudrateIndex(), 3) << "a refused index changes nothing";

    auto* list = Child<QComboBox>(dialog, "cbBaudrate");
    auto* ok = Child<QPushButton>(dialog, "btnOk");
    list->setCurrentIndex(-1);
    EXPECT_FALSE(ok->isEnabled());
    try {
        (void)dialog.Baudrate();
        FAIL() << "no entry selected";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Baudrate index undefined");
    }
    list->setCurrentIndex(7);
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_EQ(dialog.Baudrate(), 115200);
}

using HostnameDialog = TransportTest;

TEST_F(HostnameDialog, FirstRunShowsAnEmptyHostAndPort1000)
{
    QString caption, host, port, prompt;
    bool okEnabled = false;
    DialogScript = [&](QDialog& shown) {
        caption = shown.windowTitle();
        prompt = Child<QLabel>(shown, "Label1")->text();
        host = Child<QLineEdit>(shown, "edHostname")->text();
        port = Child<TIntegerEdit>(shown, "edPort")->text();
        okEnabled = Child<QPushButton>(shown, "btnOk")->isEnabled();
        return Press(shown, "btnCancel");
    };
    TTCPDevice device(nullptr);
    AttachOperator(device);
    EXPECT_EQ(device.Open(QString()), E_CMD_ABORTED);
    EXPECT_EQ(caption, QStringLiteral("TCP Connection"));
    EXPECT_EQ(prompt, QStringLiteral("Please enter the Hostname or the IP Address of the device:"));
    EXPECT_EQ(host, QString());
    EXPECT_EQ(port, QStringLiteral("1000"));
    EXPECT_TRUE(okEnabled);
    EXPECT_FALSE(QFile::exists(Folder.filePath(QStringLiteral("tcp.cfg"))));
}

TEST_F(HostnameDialog, OpensInTheHostFieldWithItsTextSelected)
{
    WriteSettingsFile(QStringLiteral("tcp.cfg"), "[common]\nhost=gripper.local\nport=2000\n");
    TTCPDevice device(nullptr);
    AttachOperator(device);
    QString typed, host, port;
    DialogScript = [&](QDialog& shown) {
        shown.show();
        shown.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&shown));
        EXPECT_EQ(QApplication::focusWidget(), Child<QLineEdit>(shown, "edHostname"));
        // What the operator types at once replaces the host shown.
        QTest::keyClicks(QApplication::focusWidget(), typed);
        host = Child<QLineEdit>(shown, "edHostname")->text();
        port = Child<TIntegerEdit>(shown, "edPort")->text();
        return Press(shown, "btnCancel");
    };
    // Also at the second showing, which starts with the text typed before.
    for (const QString text : {QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2")}) {
        typed = text;
        EXPECT_EQ(device.Open(QString()), E_CMD_ABORTED);
        EXPECT_EQ(host, text);
        EXPECT_EQ(port, QStringLiteral("2000"));
    }
}

TEST_F(HostnameDialog, StoredValuesAndAnOutOfRangePort)
{
    QString host, port;
    int result = QDialog::Accepted;
    DialogScript = [&](QDialog& shown) {
        host = Child<QLineEdit>(shown, "edHostname")->text();
        port = Child<TIntegerEdit>(shown, "edPort")->text();
        result = Press(shown, "btnOk");
        return result;
    };
    WriteSettingsFile(QStringLiteral("tcp.cfg"), "[Common]\nHost=gripper.local\nPort=99999\n");
    {
        TTCPDevice device(nullptr);
        AttachOperator(device);
    AttachOperator(device);
        EXPECT_EQ(device.Open(QString()), E_CMD_ABORTED);
    }
    EXPECT_EQ(host, QStringLiteral("gripper.local"));
    EXPECT_EQ(port, QStringLiteral("99999"));
    EXPECT_EQ(result, QDialog::Rejected) << "OK cannot be pressed while the port is invalid";

    WriteSettingsFile(QStringLiteral("tcp.cfg"), "[common]\nport=abc\n");
    TTCPDevice device(nullptr);
    AttachOperator(device);
    device.Open(QString());
    EXPECT_EQ(port, QStringLiteral("1000"));
}

TEST_F(HostnameDialog, PortFieldEnablesOkAndGuardsItsValue)
{
    THostNameDlg dialog(nullptr);
    auto* port = Child<TIntegerEdit>(dialog, "edPort");
    auto* ok = Child<QPushButton>(dialog, "btnOk");
    for (const char* text : {"0", "65536", "", "80x"}) {
        port->clear();
        QTest::keyClicks(port, QString::fromLatin1(text));
        EXPECT_FALSE(ok->isEnabled()) << text;
        EXPECT_THROW((void)dialog.Port(), std::invalid_argument) << text;
    }
    port->clear();
    QTest::keyClicks(port, QStringLiteral("0x1F90"));
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_EQ(dialog.Port(), 8080);
    dialog.SetPort(65535);
    EXPECT_EQ(port->text(), QStringLiteral("65535"));

    port->setText(QStringLiteral("0"));
    try {
        (void)dialog.Port();
        FAIL() << "port 0 is out of range";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Port value is invalid");
    }
}
