#include "TCPDevice.h"

#include "IniFile.h"
#include "SocketLine.h"

#include <QTcpSocket>

#include <algorithm>
#include <unistd.h>

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
    , FLine(new TSocketLine(this))
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
    FLine->OnReadable = [this] { LineReadable(); };

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
        if (FLine->IsOpen())
            FLine->Close();
        else if (Destroying())
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
    if (FLine->IsOpen())
        return FLine->BytesAvailable();
    return static_cast<int32_t>(std::min<qint64>(FSocket->bytesAvailable(), INT32_MAX));
}

int32_t TTCPDevice::Read(uint8_t* buffer, int32_t count)
{
    if (!IsOpen() || count <= 0)
        return -1;
    if (FLine->IsOpen()) {
        const int32_t taken = FLine->Read(buffer, count);
        return taken <= 0 ? -1 : taken;
    }
    const qint64 got = FSocket->read(reinterpret_cast<char*>(buffer), count);
    return got <= 0 ? -1 : static_cast<int32_t>(got);
}

TStat TTCPDevice::Write(const uint8_t* buffer, int32_t count)
{
    if (!IsOpen())
        return E_NOT_OPENED;
    if (count <= 0)
        return E_SUCCESS;
    if (FLine->IsOpen())
        return FLine->Write(buffer, count) ? E_SUCCESS : E_WRITE_ERROR;
    const qint64 taken = FSocket->write(reinterpret_cast<const char*>(buffer), count);
    if (taken != count)
        return E_WRITE_ERROR;
    // Hand the frame to the network now instead of on the next event-loop
    // pass, so a waiting transaction's request goes out at once.
    FSocket->flush();
    return E_SUCCESS;
}

void TTCPDevice::DiscardUnsent()
{
    if (FLine->IsOpen())
        FLine->DiscardUnsent();
}

TSocketLine* TTCPDevice::DirectLine()
{
    return FLine->IsOpen() ? FLine : nullptr;
}

bool TTCPDevice::NotifiesWhileBytesWait() const
{
    return FLine->IsOpen();
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
    if (FDirectWanted) {
        // The line takes the socket over: Qt's socket lets go of its own
        // descriptor (while still connecting, so nothing is announced) and
        // the line's copy keeps the connection.
        const int fd = ::dup(static_cast<int>(FSocket->socketDescriptor()));
        FSocket->abort();
        if (fd < 0 || !FLine->Open(fd)) {
            StopConnectPoll();
            FState = TLinkState::Closed;
            Report(TTransportReport::Error, QStringLiteral("Cannot take over the connection to %1 port %2.")
                                                .arg(FTargetHost)
                                                .arg(FTargetPort));
            return;
        }
    }
    FState = TLinkState::Open;
}

void TTCPDevice::LineReadable()
{
    const int32_t waiting = FLine->BytesAvailable();
    if (waiting > 0)
        NotifyFromReadNotification(waiting);
    else if (FLine->Ended())
        ConnectionLost(FLine->ErrorText());
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
