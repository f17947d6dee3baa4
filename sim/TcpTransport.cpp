#include "TcpTransport.h"

#include "SimHost.h"
#include "SimSession.h"

#include <cstdio>

TTcpTransport::TTcpTransport(TSimHost& host, QObject* parent) : QObject(parent), FHost(host)
{
    connect(&FServer, &QTcpServer::newConnection, this, &TTcpTransport::Accept);
}

bool TTcpTransport::Listen(const QHostAddress& address, quint16 port, QString& error)
{
    if (FServer.listen(address, port))
        return true;
    error = FServer.errorString();
    return false;
}

void TTcpTransport::Accept()
{
    while (QTcpSocket* socket = FServer.nextPendingConnection()) {
        Drop();
        FSocket = socket;
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        const QPointer<QTcpSocket> target(socket);
        FSession = FHost.OpenSession(QStringLiteral("tcp"),
            [this, target](const QByteArray& bytes) {
                if (!target || target->state() != QAbstractSocket::ConnectedState)
                    return;
                // A client that stops reading would make the output grow
                // without end; it is dropped instead.
                if (target->bytesToWrite() > MaxBacklog) {
                    QMetaObject::invokeMethod(this, [this, target] {
                        if (target && target == FSocket)
                            Drop();
                    }, Qt::QueuedConnection);
                    return;
                }
                target->write(bytes);
            },
            this);
        TSimSession* session = FSession;
        connect(socket, &QTcpSocket::readyRead, session, [session, socket] {
            const QByteArray bytes = socket->readAll();
            session->Receive(bytes.constData(), bytes.size());
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            if (socket == FSocket)
                Drop();
        });
        connect(FSession, &TSimSession::closeRequested, this, &TTcpTransport::Hangup);
        if (FHost.Verbose())
            std::fprintf(stderr, "[tcp] client %s:%u connected\n", qPrintable(socket->peerAddress().toString()),
                socket->peerPort());
    }
}

void TTcpTransport::Hangup()
{
    // Unlike a replaced client, this one gets what was already sent.
    DetachSession();
    if (FSocket)
        FSocket->disconnectFromHost();
}

void TTcpTransport::DetachSession()
{
    // Final results stop going to this client at once; the session goes when
    // control is back in the event loop, as this may run from its signals.
    if (FSession) {
        FSession->Retire();
        FSession = nullptr;
    }
}

void TTcpTransport::Drop()
{
    DetachSession();
    if (QTcpSocket* socket = FSocket) {
        FSocket = nullptr;
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
        if (FHost.Verbose())
            std::fprintf(stderr, "[tcp] client disconnected\n");
    }
}
