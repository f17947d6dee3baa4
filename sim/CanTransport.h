#pragma once
// CAN side of the simulator: the data bytes of frames with the request
// identifier form the byte stream; answers go out in frames of up to 8 data
// bytes with the identifier + 1.
#include <QCanBusDevice>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class TSimHost;
class TSimSession;

class TCanTransport : public QObject {
    Q_OBJECT
public:
    static constexpr int RejoinDelayMs = 1000;
    static constexpr int LeaveGraceMs = 50;
    static constexpr int ConnectTimeoutMs = 3000;

    TCanTransport(TSimHost& host, const QString& plugin, const QString& interface, quint32 requestId,
        QObject* parent = nullptr);
    ~TCanTransport() override;

    // Creates the bus device and joins the bus; false with a message on failure.
    bool Open(QString& error);

private:
    // Whether the plugin offers the interface (see Open); `error` says why not.
    bool Offered(QString& error) const;
    bool WaitConnected();
    void ReadFrames();
    void Write(const QByteArray& bytes);
    void LeaveBus();
    void Rejoin();

    TSimHost& FHost;
    QString FPlugin;
    QString FInterface;
    quint32 FRequestId;
    std::unique_ptr<QCanBusDevice> FDevice;
    TSimSession* FSession = nullptr;
    QTimer FRejoinTimer;
};
