#include "TCPDevice.h"

#include "IniFile.h"

#include <QTcpSocket>

#include <algorithm>

namespace {
const QString SettingsSection = QStringLiteral("common");
const QString HostKey = QStringLiteral("host");
const QString PortKey = QStringLiteral("port");
constexpr int32_t DefaultPort = 1000;
constexpr qint64 ReadBufferBytes = 256 * 1024;
} // namespace

TTCPDevice::TTCPDevice(QObject* owner)
    : TDevice(QStringLiteral("tcp"), owner)
    , FSocket(new QTcpSocket(this))
{
    FParams.Host = Settings()->ReadString(SettingsSection, HostKey, QString());
    FParams.Port = Settings()->ReadInteger(SettingsSection, PortKey, DefaultPort);

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
    TTCPParams params = FParams;
    if (ParamSource && !ParamSource(params))
        return E_CMD_ABORTED;
    return OpenConnection(params);
}

TStat TTCPDevice::OpenWith(const TConnectionParams& params)
{
    const auto* tcp = std::get_if<TTCPParams>(&params);
    return tcp ? OpenConnection(*tcp) : E_INVALID_PARAMETER;
}

TStat TTCPDevice::OpenConnection(const TTCPParams& params)
{
    if (IsOpen())
        Close();
    // A pending attempt or a socket still closing would refuse a new connect.
    AbortAttempt();

    const QString host = params.Host.trimmed();
    const int32_t port = params.Port;
    if (port < 1 || port > 65535)
        return E_IO_ERROR;
    if (host.isEmpty())
        return E_IO_ERROR;

    FLastError.clear();
    FTargetHost = host;
    FTargetPort = static_cast<quint16>(port);
    FState = TLinkState::Connecting;
    StartConnectPoll();
    FSocket->connectToHost(host, static_cast<quint16>(port));
    StoreSettings(SettingsSection, {{HostKey, host}, {PortKey, QString::number(port)}});
    FParams = {host, port};
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
    NotifyFromReadNotification(BytesAvailable());
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
            Report(TTransportReport::Error,
                   FLastError + QStringLiteral("\nNo gripper answered at %1 port %2: check the host and port, "
                                               "and that the gripper is switched on and on the network.")
                                    .arg(FTargetHost)
                                    .arg(FTargetPort));
        return;
    }
    if (error == QAbstractSocket::RemoteHostClosedError || FSocket->state() != QAbstractSocket::ConnectedState)
        ConnectionLost(FLastError);
    else if (!handled)
        Report(TTransportReport::Error, FLastError);
}
