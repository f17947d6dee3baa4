// krm-dialog-shots: pictures of the dialogs and of the main window in the
// states the session screenshots do not reach, for checking the layouts by
// eye and for the documentation. Builds the interface selection dialog, the
// line-speed, host and CAN parameter dialogs, the three information dialogs
// (filled with typical values of a gripper), the keyboard shortcuts and the
// disconnected main window
// at its design and at its minimum size, and saves one PNG of each into the
// folder given as the first argument. An optional second argument sets the
// application font's point size, to see the layouts with larger fonts. No gripper and no transport is needed:
// every dialog is shown through the dialog runner, grabbed and closed.
#include "AppResources.h"
#include "BaudrateDialog.h"
#include "CanParamsDialog.h"
#include "DeviceComponent.h"
#include "DeviceDialog.h"
#include "DeviceOwner.h"
#include "DialogRunner.h"
#include "HostnameDialog.h"
#include "IniFile.h"
#include "InfoRows.h"
#include "ListBoxDialog.h"
#include "MainForm.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFont>
#include <QFile>
#include <QIcon>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

// A device with a fixed port list, so the interface dialog shows the same
// ports on every machine.
class TShotDevice : public TDevice {
public:
    TShotDevice(const QString& id, const QString& description, QStringList ports, QObject* owner)
        : TDevice(id, owner)
        , FPorts(std::move(ports))
    {
        Description = description;
    }

    bool IsOpen() const override { return false; }
    TStat Open(const QString&) override { return E_CMD_ABORTED; }
    TStat Close() override { return E_NOT_OPENED; }
    int32_t BytesAvailable() override { return 0; }
    int32_t Read(uint8_t*, int32_t) override { return -1; }
    TStat Write(const uint8_t*, int32_t) override { return E_NOT_OPENED; }
    void GetPortList(QStringList& list) override { list = FPorts; }

private:
    QStringList FPorts;
};

// Stands in for the command dispatcher with the program's three devices.
class TShotOwner : public QObject, public TDeviceOwner {
public:
    TShotOwner()
    {
        FDevices.push_back(new TShotDevice(QStringLiteral("uart"), QStringLiteral("Serial (RS232)"),
            {QStringLiteral("COM1"), QStringLiteral("COM3"), QStringLiteral("COM4")}, this));
        FDevices.push_back(new TShotDevice(QStringLiteral("tcp"), QStringLiteral("Ethernet"), {QStringLiteral("TCP")}, this));
        FDevices.push_back(
            new TShotDevice(QStringLiteral("can"), QStringLiteral("CAN-Bus"), {QStringLiteral("Net 0")}, this));
    }
    int DeviceCount() const override { return static_cast<int>(FDevices.size()); }
    TDevice* Devices(int index) const override { return FDevices.at(static_cast<size_t>(index)); }

private:
    std::vector<TDevice*> FDevices;
};

void Settle(int ms = 150)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Save(QWidget* widget, const QString& path)
{
    widget->show();
    Settle();
    if (!widget->grab().save(path)) {
        std::fprintf(stderr, "krm-dialog-shots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s (%dx%d)\n", qPrintable(path), widget->width(), widget->height());
    return true;
}

// Runs one Execute/ShowList of a dialog with a runner that saves a picture
// of the dialog instead of waiting for the operator, then closes it.
template <typename Run>
bool Shoot(const QString& path, Run run)
{
    bool saved = false;
    const TDialogRunner previous = SetDialogRunner([&](QDialog& dialog) {
        saved = Save(&dialog, path);
        dialog.hide();
        return static_cast<int>(QDialog::Rejected);
    });
    run();
    SetDialogRunner(previous);
    return saved;
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(content);
}

bool TakeShots(const QString& folder)
{
    QDir().mkpath(folder);
    const auto file = [&](const char* name) { return folder + QLatin1Char('/') + QLatin1String(name); };

    // Settings files in a folder of their own: the serial device remembers COM3.
    const QTemporaryDir settings;
    SetSettingsFolderOverride(settings.path());
    WriteFile(settings.filePath(QStringLiteral("uart.cfg")), "[Common]\nPortname=COM3\n");

    bool ok = true;
    {
        TShotOwner owner;
        TDeviceDlg dialog(&owner);
        ok &= Shoot(file("dialog-interface.png"), [&] { dialog.Execute(); });
    }
    {
        TBaudrateDlg dialog(nullptr);
        dialog.SetBaudrateIndex(7);
        ok &= Shoot(file("dialog-baudrate.png"), [&] { dialog.Execute(); });
    }
    {
        THostNameDlg dialog(nullptr);
        dialog.SetHostName(QStringLiteral("192.168.1.20"));
        dialog.SetPort(1000);
        ok &= Shoot(file("dialog-tcp.png"), [&] { dialog.Execute(); });
    }
    {
        TCANParamsDlg dialog(nullptr);
        dialog.SetBitrateCode(4);
        ok &= Shoot(file("dialog-can.png"), [&] { dialog.Execute(); });
    }

    TMainWin window;
    window.show();
    window.resize(681, 779);
    Settle(400);
    ok &= Save(&window, file("main-disconnected.png"));
    window.resize(window.minimumSize());
    Settle(400);
    ok &= Save(&window, file("main-minimum.png"));
    window.resize(681, 779);
    Settle();

    const auto info = [&](const char* name, const QString& caption, const TInfoRows& rows) {
        TListBoxDlg dialog(&window);
        for (const TInfoRow& row : rows)
            dialog.AddRow(row.first, row.second);
        dialog.setWindowTitle(caption);
        return Shoot(file(name), [&] { dialog.ShowList(); });
    };
    TSystemInfo systemInfo;
    systemInfo.GripperType = 1;
    systemInfo.HardwareRevision = 2;
    systemInfo.FirmwareRevision = 259;
    systemInfo.SerialNumber = 12345678;
    ok &= info("dialog-system-info.png", QStringLiteral("System Information"), SystemInfoRows(systemInfo));
    TSystemLimits limits;
    limits.Stroke = 110;
    limits.MinSpeed = 5;
    limits.MaxSpeed = 420;
    limits.MinAcceleration = 100;
    limits.MaxAcceleration = 5000;
    limits.MinForce = 5;
    limits.MaxForce = 80;
    ok &= info("dialog-system-limits.png", QStringLiteral("Gripper System Limits"), SystemLimitsRows(limits));
    TGraspingStats stats;
    stats.NumGrasps = 1532;
    stats.NumNotFound = 17;
    stats.NumLost = 3;
    ok &= info("dialog-grasping-stats.png", QStringLiteral("Grasping Statistics"), GraspingStatsRows(stats));
    ok &= Shoot(file("dialog-shortcuts.png"), [&] { window.KeyboardShortcuts1->trigger(); });

    return ok;
}

}

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("KRM Commander"));
    RegisterAppResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app/icon")));
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: krm-dialog-shots OUTPUT-FOLDER [FONT-POINT-SIZE]\n");
        return 2;
    }
    if (argc == 3) {
        QFont font = QApplication::font();
        font.setPointSizeF(QString::fromLocal8Bit(argv[2]).toDouble());
        QApplication::setFont(font);
    }
    return TakeShots(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
