#pragma once
// A TCP connection to a running simulator with a protocol client on top; it
// also keeps the raw bytes and their arrival times for the fault tests.
#include "ProtocolClient.h"

#include <QElapsedTimer>
#include <QTcpSocket>

#include <vector>

class TTcpPeer {
public:
    struct TChunk {
        QByteArray bytes;
        qint64 atMs;
    };

    TTcpPeer();
    bool Connect(quint16 port);

    TProtocolClient& Client() { return FClient; }
    QTcpSocket& Socket() { return FSocket; }
    std::vector<TChunk>& Chunks() { return FChunks; }
    QByteArray Raw() const;

private:
    QTcpSocket FSocket;
    TProtocolClient FClient;
    std::vector<TChunk> FChunks;
    QElapsedTimer FClock;
};
