#include "TcpPeer.h"

TTcpPeer::TTcpPeer()
    : FClient([this](const TByteArray& bytes) {
          FSocket.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
          FSocket.flush();
      })
{
    FClock.start();
    QObject::connect(&FSocket, &QTcpSocket::readyRead, [this] {
        const QByteArray bytes = FSocket.readAll();
        FChunks.push_back({bytes, FClock.elapsed()});
        FClient.Feed(bytes.constData(), bytes.size());
    });
}

bool TTcpPeer::Connect(quint16 port)
{
    FSocket.connectToHost(QHostAddress::LocalHost, port);
    return FSocket.waitForConnected(3000);
}

QByteArray TTcpPeer::Raw() const
{
    QByteArray all;
    for (const TChunk& c : FChunks)
        all += c.bytes;
    return all;
}
