#pragma once
// The device that reaches the gripper over TCP as a client ("Ethernet"). Open
// takes host and port from its parameter source (in the program, the dialog
// THostNameDlg), remembers them in tcp.cfg and starts connecting without
// blocking; OnConnect follows from the connect poll once the connection
// stands.
#include "DeviceComponent.h"

#include <QAbstractSocket>

#include <functional>

class QTcpSocket;
class TSocketLine;

class TTCPDevice : public TDevice {
    Q_OBJECT
public:
    // Gets the host and port of the coming opening and may change them;
    // false cancels the opening.
    using TParamSource = std::function<bool(TTCPParams& params)>;

    explicit TTCPDevice(QObject* owner);
    ~TTCPDevice() override;

    // Asked by Open; without one, Open uses Params().
    TParamSource ParamSource;

    bool IsOpen() const override;
    // The port name is not used: host and port come from the parameters.
    TStat Open(const QString& portName) override;
    // Empty host or a port outside 1 to 65535: E_IO_ERROR.
    TStat OpenWith(const TConnectionParams& params) override;
    // Starts from host and port of tcp.cfg (port 1000 when there is none).
    std::optional<TConnectionParams> Params() const override { return FParams; }
    TStat Close() override;
    int32_t BytesAvailable() override;
    // -1 when not open and also when no byte is waiting.
    int32_t Read(uint8_t* buffer, int32_t count) override;
    TStat Write(const uint8_t* buffer, int32_t count) override;
    void DiscardUnsent() override;
    void GetPortList(QStringList& list) override;

    // Once connected, the socket is read and written as a TSocketLine instead
    // of through Qt's socket, so that a caller's thread can do an exchange on
    // it itself (DirectLine). Takes effect at the next connection.
    void SetDirectLine(bool direct) { FDirectWanted = direct; }
    TSocketLine* DirectLine() override;
    bool NotifiesWhileBytesWait() const override;

private:
    enum class TLinkState { Closed, Connecting, Open };

    void AbortAttempt();
    TStat OpenConnection(const TTCPParams& params);
    void SocketConnected();
    void SocketDisconnected();
    void SocketReadyRead();
    void SocketError(QAbstractSocket::SocketError error);
    // The line's bytes, or its end.
    void LineReadable();

    TTCPParams FParams;
    QTcpSocket* FSocket;
    TSocketLine* FLine;
    bool FDirectWanted = false;
    TLinkState FState = TLinkState::Closed;
    QString FLastError;
    // Host and port of the current or last connect, for messages.
    QString FTargetHost;
    quint16 FTargetPort = 0;
};
