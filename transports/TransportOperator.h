#pragma once
// The operator's side of the transports, plugged into the widget-free devices
// and dispatcher: each device's parameter dialog becomes its parameter
// source, the interface selection dialog the dispatcher's interface chooser,
// and an error box shows what a device reports.
class TCommand;
class TDevice;

// Gives `device` its parameter dialog as parameter source: TBaudrateDlg,
// THostNameDlg or TCANParamsDlg, owned by the device, starting from the
// device's parameters and keeping its entries from one opening to the next.
// A device of another class is left as it is.
void AttachParamsDialog(TDevice& device);

// A device used on its own: its parameter dialog, and an error box with the
// text of each of its reports.
void AttachOperator(TDevice& device);

// The dispatcher's dialogs: the interface selection dialog TDeviceDlg, owned
// by the dispatcher, as its interface chooser, and the parameter dialog of
// each device in its list.
void AttachDialogs(TCommand& dispatcher);
