#pragma once
// The device that reaches the gripper over TCP as a client ("Ethernet"). Open
// asks for host and port in THostNameDlg, remembers them in tcp.cfg and starts
// connecting without blocking; OnConnect follows from the connect poll once
// the connection stands.
#include "DeviceComponent.h"

#include <QAbstractSocket>

class QTcpSocket;
class THostNameDlg;

class TTCPDevice : public TDevice {
    Q_OBJECT
public:
    explicit TTCPDevice(QObject* owner);
    ~TTCPDevice() override;

    bool IsOpen() const override;
    TStat Open(const QString& portName) override;
    TStat Close() override;
    int32_t BytesAvailable() override;
    // -1 when not open and also when no byte is waiting.
    int32_t Read(uint8_t* buffer, int32_t count) override;
    TStat Write(const uint8_t* buffer, int32_t count) override;
    void GetPortList(QStringList& list) override;

private:
    enum class TLinkState { Closed, Connecting, Open };

    void AbortAttempt();
    void SocketConnected();
    void SocketDisconnected();
    void SocketReadyRead();
    void SocketError(QAbstractSocket::SocketError error);

    THostNameDlg* FDialog;
    QTcpSocket* FSocket;
    TLinkState FState = TLinkState::Closed;
    QString FLastError;
    // Host and port of the current or last connect, for messages.
    QString FTargetHost;
    quint16 FTargetPort = 0;
};
