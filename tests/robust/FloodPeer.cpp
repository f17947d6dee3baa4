#include "FloodPeer.h"

#include "Framing.h"
#include "HXT_commands.h"
#include "convert.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

class TFloodWorker : public QObject {
public:
    TFloodWorker(std::atomic<int>& framesSent, std::atomic<int>& ticks, std::atomic<int>& stateFloodReports,
                 std::atomic<uint32_t>& lastFloodState, std::atomic<int>& stateReportsHandled)
        : FFramesSent(framesSent), FTicks(ticks), FStateFloodReports(stateFloodReports), FLastFloodState(lastFloodState)
        , FStateReportsHandled(stateReportsHandled)
    {
    }

    quint16 Listen()
    {
        FServer = new QTcpServer(this);
        if (!FServer->listen(QHostAddress::LocalHost, 0))
            return 0;
        connect(FServer, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = FServer->nextPendingConnection()) {
                FClient = socket;
                FClient->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                // A small send buffer keeps the state flood close to what the
                // client has taken so far.
                FClient->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, 64 * 1024);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Received(socket); });
                connect(socket, &QTcpSocket::bytesWritten, this, [this] { TopUpStateFlood(); });
            }
        });
        FTimer = new QTimer(this);
        FTimer->setTimerType(Qt::PreciseTimer);
        FTimer->setInterval(1);
        connect(FTimer, &QTimer::timeout, this, [this] { Tick(); });
        // Once the lead is reached nothing is written, so no bytesWritten
        // says when to go on.
        FTopUpTimer = new QTimer(this);
        FTopUpTimer->setInterval(1);
        connect(FTopUpTimer, &QTimer::timeout, this, [this] { TopUpStateFlood(); });
        return FServer->serverPort();
    }

    void SetFlooding(bool on)
    {
        if (on)
            FTimer->start();
        else
            FTimer->stop();
    }

    void SetBurst(int before, int after)
    {
        FBurstBefore = before;
        FBurstAfter = after;
    }

    void SendBurst(int count)
    {
        for (int i = 0; i < count; ++i)
            SendPosition();
        if (FClient)
            FClient->flush();
    }

    void SetStateFlood(bool on, int lead)
    {
        FStateFlood = on;
        FStateFloodLead = lead;
        if (on && lead > 0)
            FTopUpTimer->start();
        else
            FTopUpTimer->stop();
        TopUpStateFlood();
    }

    void SetLimits(const std::array<float, 8>& limits) { FLimits = limits; }

    void Shutdown()
    {
        delete FTimer;
        FTimer = nullptr;
        delete FTopUpTimer;
        FTopUpTimer = nullptr;
        delete FClient;
        FClient = nullptr;
        delete FServer;
        FServer = nullptr;
    }

private:
    void Send(uint8_t command, const TByteArray& payload)
    {
        if (!FClient)
            return;
        const TByteArray frame = BuildFrame(command, payload.data(), payload.size());
        FClient->write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size()));
        ++FFramesSent;
    }

    void SendPosition()
    {
        const auto value = SingleToBytes(static_cast<float>(++FReports));
        Send(CMD_GET_POS, {0x00, 0x00, value[0], value[1], value[2], value[3]});
    }

    void Tick()
    {
        ++FTicks;
        SendPosition();
        SendPosition();
        const uint32_t state = FReports;
        Send(CMD_GET_SYSTEM_STATE, {0x00, 0x00, static_cast<uint8_t>(state), static_cast<uint8_t>(state >> 8),
                                    static_cast<uint8_t>(state >> 16), static_cast<uint8_t>(state >> 24)});
        if (FClient)
            FClient->flush();
    }

    // Keeps a few kilobytes of state reports queued ahead of the socket: as
    // fast as the client reads, without piling them up here.
    void TopUpStateFlood()
    {
        while (FStateFlood && FClient && FClient->bytesToWrite() < 16 * 1024 &&
               (FStateFloodLead <= 0 || FStateFloodReports.load() - FStateReportsHandled.load() < FStateFloodLead)) {
            for (int i = 0; i < 64; ++i) {
                const uint32_t state = FLastFloodState.load() + 2;
                Send(CMD_GET_SYSTEM_STATE, {0x00, 0x00, static_cast<uint8_t>(state), static_cast<uint8_t>(state >> 8),
                                            static_cast<uint8_t>(state >> 16), static_cast<uint8_t>(state >> 24)});
                FLastFloodState = state;
                ++FStateFloodReports;
            }
        }
    }

    void Received(QTcpSocket* socket)
    {
        FInput += socket->readAll();
        while (FInput.size() >= 8) {
            const int length = static_cast<uint8_t>(FInput[4]) | (static_cast<uint8_t>(FInput[5]) << 8);
            if (FInput.size() < 8 + length)
                break;
            const uint8_t command = static_cast<uint8_t>(FInput[3]);
            FInput.remove(0, 8 + length);
            if (command == CMD_GET_SYSINFO) {
                for (int i = 0; i < FBurstBefore; ++i)
                    SendPosition();
                const uint32_t serial = ++FSysInfoAnswers;
                Send(command, {0x00, 0x00, 0x01, 0x02, 0x03, 0x01, static_cast<uint8_t>(serial),
                               static_cast<uint8_t>(serial >> 8), static_cast<uint8_t>(serial >> 16),
                               static_cast<uint8_t>(serial >> 24)});
                for (int i = 0; i < FBurstAfter; ++i)
                    SendPosition();
            } else if (command == CMD_GET_SYSTEM_LIMITS) {
                TByteArray answer{0x00, 0x00};
                for (float v : FLimits) {
                    const auto bytes = SingleToBytes(v);
                    answer.insert(answer.end(), bytes.begin(), bytes.end());
                }
                Send(command, answer);
            } else {
                Send(command, {0x00, 0x00});
            }
            socket->flush();
        }
    }

    std::atomic<int>& FFramesSent;
    std::atomic<int>& FTicks;
    std::atomic<int>& FStateFloodReports;
    std::atomic<uint32_t>& FLastFloodState;
    std::atomic<int>& FStateReportsHandled;
    bool FStateFlood = false;
    int FStateFloodLead = 0;
    std::array<float, 8> FLimits{110.0f, 5.0f, 420.0f, 100.0f, 5000.0f, 5.0f, 80.0f, 120.0f};
    QTcpServer* FServer = nullptr;
    QTcpSocket* FClient = nullptr;
    QTimer* FTimer = nullptr;
    QTimer* FTopUpTimer = nullptr;
    QByteArray FInput;
    uint32_t FReports = 0;
    uint32_t FSysInfoAnswers = 0;
    int FBurstBefore = 0;
    int FBurstAfter = 0;
};

TFloodPeer::TFloodPeer() = default;

TFloodPeer::~TFloodPeer()
{
    if (FWorker) {
        QMetaObject::invokeMethod(FWorker, [this] { FWorker->Shutdown(); }, Qt::BlockingQueuedConnection);
        FThread.quit();
        FThread.wait();
        delete FWorker;
    }
}

bool TFloodPeer::Start()
{
    FWorker = new TFloodWorker(FFramesSent, FTicks, FStateFloodReports, FLastFloodState, FStateReportsHandled);
    FWorker->moveToThread(&FThread);
    FThread.start();
    QMetaObject::invokeMethod(FWorker, [this] { FPort = FWorker->Listen(); }, Qt::BlockingQueuedConnection);
    return FPort != 0;
}

void TFloodPeer::SetFlooding(bool on)
{
    QMetaObject::invokeMethod(FWorker, [this, on] { FWorker->SetFlooding(on); }, Qt::BlockingQueuedConnection);
}

void TFloodPeer::SetBurstAroundAnswer(int before, int after)
{
    QMetaObject::invokeMethod(FWorker, [this, before, after] { FWorker->SetBurst(before, after); },
                              Qt::BlockingQueuedConnection);
}

void TFloodPeer::SendReportBurst(int count)
{
    QMetaObject::invokeMethod(FWorker, [this, count] { FWorker->SendBurst(count); }, Qt::BlockingQueuedConnection);
}

void TFloodPeer::SetStateFlood(bool on, int lead)
{
    QMetaObject::invokeMethod(FWorker, [this, on, lead] { FWorker->SetStateFlood(on, lead); },
                              Qt::BlockingQueuedConnection);
}

void TFloodPeer::SetLimits(const std::array<float, 8>& limits)
{
    QMetaObject::invokeMethod(FWorker, [this, limits] { FWorker->SetLimits(limits); }, Qt::BlockingQueuedConnection);
}
