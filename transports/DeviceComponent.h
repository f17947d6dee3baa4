#pragma once
// The transport abstraction: a byte pipe to the gripper with open and close,
// read and write, a list of port names for the interface selection dialog,
// events for received bytes, for the transport becoming usable and for its
// closing, and a settings file of its own (<DeviceId>.cfg).
//
// Shared behaviour implemented here for every device:
//  - the 50 ms connect poll: StartConnectPoll after a successful opening; the
//    first tick at which IsOpen is true stops the poll and fires OnConnect;
//  - NotifyDataAvailable: fires OnDataAvailable and, when the handler left
//    received bytes in the device after taking some, fires it again (queued,
//    in the main thread) until they are read, because the transports signal
//    only new arrivals;
//  - ConnectionLost: the lost-link path. The device hands out what is still
//    buffered, closes itself (OnDisconnect once), stops the poll and reports
//    the cause once through OnReport.
//
// The device shows nothing itself: what it needs from the operator comes from
// a parameter source of each device class, and what the operator should see
// goes out through OnReport (in the program, its dialog and an error box).
#include "ConnectionParams.h"
#include "stat.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "IniFile.h"

class QTimer;
class TDevice;
class TSocketLine;

using TDataAvailableEvent = std::function<void(TDevice* sender, int32_t count)>;
using TDeviceErrorEvent = std::function<void(TDevice* sender, int32_t value)>;
using TDeviceNotifyEvent = std::function<void(TDevice* sender)>;

// What a device reports for the operator: an open link that broke (the device
// has closed itself), or a transport error that no OnError handler took.
enum class TTransportReport { LinkLost, Error };
using TTransportReportEvent = std::function<void(TDevice* sender, TTransportReport kind, const QString& text)>;

class TDevice : public QObject {
    Q_OBJECT
public:
    // Prefix of the operator message when an open connection is lost; the
    // transport's own description of the cause follows it.
    static inline const QString LinkLostPrefix = QStringLiteral("Connection to the gripper lost: ");

    // `name` is the device identifier ("uart", "tcp", "can"): it becomes the
    // object name and DeviceId, and names the settings file <name>.cfg.
    TDevice(const QString& name, QObject* owner);
    ~TDevice() override;

    TIniFile* Settings() const { return FSettings.get(); }

    // Events; an unassigned event is not fired. All are fired in the main thread.
    TDataAvailableEvent OnDataAvailable; // received bytes are waiting (count)
    TDeviceErrorEvent OnError;           // a transport error was reported
    TDeviceNotifyEvent OnConnect;        // the transport became usable after Open
    TDeviceNotifyEvent OnDisconnect;     // the transport was closed
    // A message for the operator, fired once control is back in the event
    // loop, so nothing runs inside a transport's notification or call. A lost
    // link's text is LinkLostPrefix followed by the transport's cause.
    TTransportReportEvent OnReport;

    QString Description; // name shown in the interface selection dialog
    QString DeviceId;    // short identifier, same as objectName()

    // True while the transport can carry bytes.
    virtual bool IsOpen() const = 0;
    // Asks the device's parameter source (if one is set), then opens the
    // transport on `portName`. E_SUCCESS means opening has begun; OnConnect
    // tells when it is usable. E_CMD_ABORTED when the source declined.
    virtual TStat Open(const QString& portName) = 0;
    // Opens the transport with `params`, asking no one; as Open otherwise.
    // E_INVALID_PARAMETER for parameters of another kind of device (the
    // default of a device without parameters).
    virtual TStat OpenWith(const TConnectionParams& params);
    // The parameters of the last successful opening; before the first one,
    // those a next opening starts from (settings file and defaults). Empty
    // for a device without parameters.
    virtual std::optional<TConnectionParams> Params() const;
    // Closes the transport; fires OnDisconnect unless being destroyed.
    virtual TStat Close() = 0;
    // Received bytes waiting to be read; 0 when not open.
    virtual int32_t BytesAvailable() = 0;
    // Copies up to `count` waiting bytes, oldest first; the number copied,
    // or -1 when not open (a negative result copies nothing).
    virtual int32_t Read(uint8_t* buffer, int32_t count) = 0;
    // Sends `count` bytes in order; E_SUCCESS when the transport took all.
    virtual TStat Write(const uint8_t* buffer, int32_t count) = 0;
    // Drops bytes taken by Write that have not gone out yet, so that a
    // request given up on is not sent later (a line that stopped taking
    // data). Devices that send at once keep nothing.
    virtual void DiscardUnsent() {}
    // The socket of an open device on which a caller's thread may do an
    // exchange itself; none for most devices.
    virtual TSocketLine* DirectLine() { return nullptr; }
    // The device notifies again for as long as received bytes wait, so
    // bytes a handler left behind need no further notification.
    virtual bool NotifiesWhileBytesWait() const { return false; }
    // Empties `list`, then adds the device's port names in ascending order.
    virtual void GetPortList(QStringList& list);
    // What the operator sees for the port `portName` of the port list: the
    // name itself, or the name with what it stands for.
    virtual QString PortLabel(const QString& portName) const { return portName; }
    // Ports come and go while the program runs (plug-in adapters): the
    // interface dialog watches the port list and takes a typed port name.
    virtual bool HotPlugPorts() const { return false; }

    // The "Portname" of section "Common" of the settings file; empty if absent.
    QString GetPortName() const;

    // Why the last opening failed and what to do about it, for the line of
    // advice under the error; empty after a successful opening or when the
    // transport did not tell the cause.
    QString OpenFailure() const { return FOpenFailure; }

    // True while the device hands out bytes from its transport's read
    // notification. The event loop delivers those after its poll, and the
    // pass ends once they are handled: a wait inside that pass need not be
    // woken for what they bring.
    bool InReadNotification() const { return FInReadNotification; }

protected:
    // Derived destructors call this before their own Close, so that closing
    // during destruction fires no OnDisconnect.
    void BeginDestruction() { FDestroying = true; }
    bool Destroying() const { return FDestroying; }

    void StartConnectPoll();
    void StopConnectPoll();
    bool ConnectPollActive() const;

    void SetOpenFailure(const QString& text) { FOpenFailure = text; }

    // Fires OnDisconnect when assigned and the device is not being destroyed.
    void FireDisconnect();

    // Fires OnDataAvailable(this, count) while IsOpen; see the file comment
    // for the re-firing of bytes that the handler left behind.
    void NotifyDataAvailable(int32_t count);
    // NotifyDataAvailable from the transport's read notification (its
    // readyRead), see InReadNotification.
    void NotifyFromReadNotification(int32_t count);

    // Writes `values` to `section` of the settings file. A file that cannot
    // be written does not stop the device: the operator is told, with the
    // file's name and the cause, once for each cause (a settings file that
    // is no regular file is reported when the device is made, and not again
    // at each connect), and the settings stay as they were.
    void StoreSettings(const QString& section, const TIniValues& values);

    // Fires OnReport(kind, text) once control is back in the event loop.
    void Report(TTransportReport kind, const QString& text);

    // The open link broke (`cause` is the transport's error text). Harmless
    // when the device is no longer open or already handling a lost link, so a
    // burst of errors reports once.
    void ConnectionLost(const QString& cause);

private:
    void PollTick();
    void DeliverPendingBytes();
    // Reports `text` unless `cause` was the last settings problem reported.
    void ReportSettingsProblem(const QString& text, const QString& cause);

    std::unique_ptr<TIniFile> FSettings;
    QString FSettingsProblem; // the cause last reported by ReportSettingsProblem
    QTimer* FPollTimer = nullptr;
    bool FDestroying = false;
    bool FRefireQueued = false;
    bool FInReadNotification = false;
    bool FLosingLink = false;
    QString FOpenFailure;
};
