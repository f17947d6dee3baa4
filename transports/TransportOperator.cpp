#include "TransportOperator.h"

#include "BaudrateDialog.h"
#include "CANDevice.h"
#include "CanParamsDialog.h"
#include "CommandComponent.h"
#include "DeviceDialog.h"
#include "HostnameDialog.h"
#include "MessageDialog.h"
#include "SerialDevice.h"
#include "TCPDevice.h"

#include <QPointer>

#include <algorithm>
#include <stdexcept>

namespace {

void AttachBaudrateDialog(TSerialDevice& device)
{
    QPointer<TBaudrateDlg> dialog = new TBaudrateDlg(&device);
    if (const auto params = device.Params())
        dialog->SetBaudrateIndex(std::max(0, TSerialDevice::LineSpeedIndex(std::get<TSerialParams>(*params).Baudrate)));
    device.ParamSource = [dialog](TSerialParams& params) {
        if (!dialog || !dialog->Execute())
            return false;
        params.Baudrate = dialog->Baudrate();
        return true;
    };
}

void AttachHostNameDialog(TTCPDevice& device)
{
    QPointer<THostNameDlg> dialog = new THostNameDlg(&device);
    if (const auto params = device.Params()) {
        dialog->SetHostName(std::get<TTCPParams>(*params).Host);
        dialog->SetPort(std::get<TTCPParams>(*params).Port);
    }
    device.ParamSource = [dialog](TTCPParams& params) {
        if (!dialog || !dialog->Execute())
            return false;
        params.Host = dialog->HostName();
        try {
            params.Port = dialog->Port();
        } catch (const std::invalid_argument&) {
            // Accepted with an invalid port field: no port, so the opening fails.
            params.Port = 0;
        }
        return true;
    };
}

void AttachCanParamsDialog(TCANDevice& device)
{
    // The identifier field keeps what was last entered; the bit rate shown
    // is the one the device asks with.
    QPointer<TCANParamsDlg> dialog = new TCANParamsDlg(&device);
    device.ParamSource = [dialog](TCANParams& params) {
        if (!dialog)
            return false;
        dialog->SetBitrateCode(params.BitrateCode);
        if (!dialog->Execute())
            return false;
        params.BitrateCode = dialog->BitrateCode();
        params.TargetId = dialog->TargetId();
        return true;
    };
}

} // namespace

void AttachParamsDialog(TDevice& device)
{
    if (auto* serial = qobject_cast<TSerialDevice*>(&device))
        AttachBaudrateDialog(*serial);
    else if (auto* tcp = qobject_cast<TTCPDevice*>(&device))
        AttachHostNameDialog(*tcp);
    else if (auto* can = qobject_cast<TCANDevice*>(&device))
        AttachCanParamsDialog(*can);
}

void AttachOperator(TDevice& device)
{
    AttachParamsDialog(device);
    device.OnReport = [](TDevice*, TTransportReport, const QString& text) { ShowError(text); };
}

void AttachDialogs(TCommand& dispatcher)
{
    QPointer<TDeviceDlg> dialog = new TDeviceDlg(&dispatcher);
    dispatcher.InterfaceChooser = [dialog](TInterfaceChoice& choice) {
        if (!dialog || !dialog->Execute())
            return false;
        choice.DeviceIndex = dialog->DeviceIndex();
        choice.PortName = dialog->PortName();
        return true;
    };
    for (int i = 0; i < dispatcher.DeviceCount(); ++i)
        AttachParamsDialog(*dispatcher.Devices(i));
}
