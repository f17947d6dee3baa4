#include "TCPDevice.h"

#include "HostnameDialog.h"
#include "IniFile.h"

#include <QTcpSocket>

#include <algorithm>
#include <stdexcept>

namespace {
const QString SettingsSection = QStringLiteral("common");
const QString HostKey = QStringLiteral("host");
const QString PortKey = QStringLiteral("port");
constexpr int32_t DefaultPort = 1000;
constexpr qint64 ReadBufferBytes = 256 * 1024;
} // namespace

TTCPDevice::TTCPDevice(QObject* owner)
    : TDevice(QStringLiteral("tcp"), owner)
    , FDialog(new THostNameDlg(this))
    , FSocket(new QTcpSocket(this))
{
    FDialog->SetHostName(Settings()->ReadString(SettingsSection, HostKey, QString()));
    FDialog->SetPort(Settings()->ReadInteger(SettingsSection, PortKey, DefaultPort));

    FSocket->setObjectName(QStringLiteral("ClientSocket"));
    // Bytes are taken out 4096 at a time; a peer that sends faster than they
    // are handled is held back by TCP instead of filling memory here.
    FSocket->setReadBufferSize(ReadBufferBytes);
    connect(FSocket, &QTcpSocket::connected, this, &TTCPDevice::SocketConnected);
    connect(FSocket, &QTcpSocket::disconnected, this, &TTCPDevice::SocketDisconnected);
    connect(FSocket, &QTcpSocket::readyRead, this, &TTCPDevice::SocketReadyRead);
    connect(FSocket, &QTcpSocket::errorOccurred, this, &TTCPDevice::SocketError);

    Description = QStringLiteral("Ethernet");
}

TTCPDevice::~TTCPDevice()
{
    BeginDestruction();
    Close();
    FSocket->disconnect(this);
}

bool TTCPDevice::IsOpen() const
{
    return FState == TLinkState::Open;
}

void TTCPDevice::AbortAttempt()
{
    StopConnectPoll();
    FState = TLinkState::Closed;
    FSocket->abort();
}

TStat TTCPDevice::Open(const QString&)
{
    if (!FDialog->Execute())
        return E_CMD_ABORTED;
    if (IsOpen())
        Close();
    // A pending attempt or a socket still closing would refuse a new connect.
    AbortAttempt();

    const QString host = FDialog->HostName().trimmed();
    int port = 0;
    try {
        port = FDialog->Port();
    } catch (const std::invalid_argument&) {
        return E_IO_ERROR;
    }
    if (host.isEmpty())
        return E_IO_ERROR;

    FLastError.clear();
    FState = TLinkState::Connecting;
    StartConnectPoll();
    FSocket->connectToHost(host, static_cast<quint16>(port));
    if (!Settings()->WriteString(SettingsSection, HostKey, host)
        || !Settings()->WriteInteger(SettingsSection, PortKey, port)) {
        // Failing Open must not leave a connection coming up unannounced.
        AbortAttempt();
        return E_IO_ERROR;
    }
    return E_SUCCESS;
}

TStat TTCPDevice::Close()
{
    switch (FState) {
    case TLinkState::Open:
        StopConnectPoll();
        FState = TLinkState::Closed;
        if (Destroying())
            FSocket->abort();
        else
            FSocket->disconnectFromHost();
        FireDisconnect();
        break;
    case TLinkState::Connecting:
        // Nothing is announced for an attempt that never connected, but it
        // must not connect later behind the operator's back.
        AbortAttempt();
        break;
    case TLinkState::Closed:
        break;
    }
    return E_SUCCESS;
}

int32_t TTCPDevice::BytesAvailable()
{
    if (!IsOpen())
        return 0;
    return static_cast<int32_t>(std::min<qint64>(FSocket->bytesAvailable(), INT32_MAX));
}

int32_t TTCPDevice::Read(uint8_t* buffer, int32_t count)
{
    if (!IsOpen() || count <= 0)
        return -1;
    const qint64 got = FSocket->read(reinterpret_cast<char*>(buffer), count);
    return got <= 0 ? -1 : static_cast<int32_t>(got);
}

TStat TTCPDevice::Write(const uint8_t* buffer, int32_t count)
{
    if (!IsOpen())
        return E_NOT_OPENED;
    if (count <= 0)
        return E_SUCCESS;
    const qint64 taken = FSocket->write(reinterpret_cast<const char*>(buffer), count);
    if (taken != count)
        return E_WRITE_ERROR;
    // Hand the frame to the network now instead of on the next event-loop
    // pass, so a waiting transaction's request goes out at once.
    FSocket->flush();
    return E_SUCCESS;
}

void TTCPDevice::GetPortList(QStringList& list)
{
    list.clear();
    list.append(QStringLiteral("TCP"));
}

void TTCPDevice::SocketConnected()
{
    if (FState != TLinkState::Connecting) {
        FSocket->abort();
        return;
    }
    FSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    FState = TLinkState::Open;
}

void TTCPDevice::SocketDisconnected()
{
    if (FState != TLinkState::Open)
        return;
    ConnectionLost(FLastError.isEmpty() ? FSocket->errorString() : FLastError);
}

void TTCPDevice::SocketReadyRead()
{
    NotifyDataAvailable(BytesAvailable());
}

void TTCPDevice::SocketError(QAbstractSocket::SocketError error)
{
    if (FState == TLinkState::Closed)
        return;
    FLastError = FSocket->errorString();
    bool handled = false;
    if (OnError) {
        OnError(this, 0);
        handled = true;
    }
    if (FState == TLinkState::Connecting) {
        // Host not found, connection refused, timed out: the attempt is over.
        StopConnectPoll();
        FState = TLinkState::Closed;
        if (!handled)
            ReportError(FLastError);
        return;
    }
    if (error == QAbstractSocket::RemoteHostClosedError || FSocket->state() != QAbstractSocket::ConnectedState)
        ConnectionLost(FLastError);
    else if (!handled)
        ReportError(FLastError);
}
