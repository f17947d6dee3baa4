#pragma once
// One client connection of the simulator, whatever the transport: turns the
// received bytes into packets, has them answered, and sends answers, final
// results and reports with the configured faults.
#include "FaultInjector.h"
#include "FrameAssembler.h"
#include "FrameSender.h"
#include "SimEndpoint.h"

#include <QObject>
#include <QString>

class TSimHost;

class TSimSession : public QObject {
    Q_OBJECT
public:
    // `writer` puts bytes on the connection.
    TSimSession(TSimHost& host, int origin, const QString& name, TFrameSender::TWriter writer,
        QObject* parent = nullptr);
    ~TSimSession() override;

    // Bytes that arrived together on the connection.
    void Receive(const char* data, qsizetype count);
    // Sends one packet (answer, final result or report).
    void Send(const TPacket& packet);
    void SendDueReports();
    int Origin() const { return FEndpoint.Origin(); }
    // The transport lets the session go: final results stop coming to it at
    // once, its signals are cut, and it is deleted once control is back in
    // the event loop (this may run from its own signals).
    void Retire();

signals:
    // The fault options ask for this connection to be closed now.
    void closeRequested();

private:
    void HandleRequest(TPacket&& request);

    TSimHost& FHost;
    QString FName;
    TSimEndpoint FEndpoint;
    TFaultInjector FFaults;
    TFrameAssembler FAssembler;
    TFrameSender FSender;
};
