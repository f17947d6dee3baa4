#pragma once
// TCP server side of the simulator: listens on one address and serves one
// client at a time; a new client replaces the previous one.
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

class TSimHost;
class TSimSession;

class TTcpTransport : public QObject {
    Q_OBJECT
public:
    // Unsent bytes beyond which a client that does not read is dropped.
    static constexpr qint64 MaxBacklog = 1 << 20;

    TTcpTransport(TSimHost& host, QObject* parent = nullptr);

    // Starts listening; port 0 picks a free port. False with a message on failure.
    bool Listen(const QHostAddress& address, quint16 port, QString& error);
    quint16 Port() const { return FServer.serverPort(); }

private:
    void Accept();
    void Hangup();
    void DetachSession();
    void Drop();

    TSimHost& FHost;
    QTcpServer FServer;
    QPointer<QTcpSocket> FSocket;
    TSimSession* FSession = nullptr;
};
