#include "AppTestSupport.h"

#include "BaudrateDialog.h"
#include "CanParamsDialog.h"
#include "DeviceDialog.h"
#include "HostnameDialog.h"
#include "IniFile.h"
#include "MainForm.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

TAppDriver::TAppDriver()
{
    SetSettingsFolderOverride(FFolder.path());
    FPreviousHandler = SetMessageHandler(
        [this](TMessageKind kind, const QString& text) { Messages.push_back({kind, text}); });
    FPreviousRunner = SetDialogRunner([this](QDialog& dialog) { return RunScripted(dialog); });
}

TAppDriver::~TAppDriver()
{
    SetDialogRunner(std::move(FPreviousRunner));
    SetMessageHandler(std::move(FPreviousHandler));
    SetSettingsFolderOverride(QString());
}

int TAppDriver::RunScripted(QDialog& dialog)
{
    ++DialogRuns;
    if (auto* interfaceDialog = qobject_cast<TDeviceDlg*>(&dialog)) {
        if (InterfaceChoice == TInterfaceChoice::Cancel)
            return QDialog::Rejected;
        auto* devices = interfaceDialog->findChild<QComboBox*>(QStringLiteral("cbDevice"));
        if (!devices)
            return QDialog::Rejected;
        const QString device = InterfaceChoice == TInterfaceChoice::Serial ? QStringLiteral("Serial (RS232)")
            : InterfaceChoice == TInterfaceChoice::Can                      ? QStringLiteral("CAN-Bus")
                                                                            : QStringLiteral("Ethernet");
        devices->setCurrentIndex(devices->findText(device));
        auto* ports = interfaceDialog->findChild<QComboBox*>(QStringLiteral("cbDevicePort"));
        if (ports && InterfaceChoice == TInterfaceChoice::Can)
            ports->setCurrentIndex(ports->findText(QStringLiteral("(virtualcan:can0)"), Qt::MatchEndsWith));
        // The whole label: a long one is shortened in the box.
        OfferedPort = ports ? ports->currentData(Qt::ToolTipRole).toString() : QString();
        return QDialog::Accepted;
    }
    if (qobject_cast<TBaudrateDlg*>(&dialog) || qobject_cast<TCANParamsDlg*>(&dialog))
        return QDialog::Accepted;
    if (auto* hostDialog = qobject_cast<THostNameDlg*>(&dialog)) {
        hostDialog->SetHostName(QStringLiteral("127.0.0.1"));
        hostDialog->SetPort(HostPort);
        return QDialog::Accepted;
    }
    return OtherDialog ? OtherDialog(dialog) : QDialog::Rejected;
}

bool TAppDriver::Connect(TMainWin& window, quint16 port)
{
    HostPort = port;
    const size_t messagesBefore = Messages.size();
    window.Connect1->trigger();
    return WaitFor([&] { return window.Disconnect1->isEnabled() || Messages.size() != messagesBefore; })
        && window.Disconnect1->isEnabled();
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return done();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

QPalette DarkFusionPalette()
{
    QPalette dark;
    const QColor window(53, 53, 53);
    const QColor text(Qt::white);
    const QColor disabled(127, 127, 127);
    const QColor highlight(42, 130, 218);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, QColor(35, 35, 35));
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::ToolTipBase, QColor(25, 25, 25));
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, window);
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::BrightText, Qt::red);
    dark.setColor(QPalette::Link, highlight);
    dark.setColor(QPalette::Highlight, highlight);
    dark.setColor(QPalette::HighlightedText, Qt::black);
    dark.setColor(QPalette::Light, QColor(80, 80, 80));
    dark.setColor(QPalette::Midlight, QColor(66, 66, 66));
    dark.setColor(QPalette::Mid, QColor(40, 40, 40));
    dark.setColor(QPalette::Dark, QColor(20, 20, 20));
    dark.setColor(QPalette::Shadow, Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, disabled);
    return dark;
}

bool UseOffscreenScreen(const QString& folder, const char* name, int width, int height)
{
    const QString config = folder + QStringLiteral("/screen.json");
    QFile file(config);
    const QByteArray description = QStringLiteral(R"({"screens": [{"name": "%1", "x": 0, "y": 0, "width": %2, "height": %3, "logicalDpi": 96, "dpr": 1}]})")
                                       .arg(QLatin1String(name))
                                       .arg(width)
                                       .arg(height)
                                       .toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(description) != description.size())
        return false;
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + config.toLocal8Bit());
    return true;
}
