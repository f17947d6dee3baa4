#pragma once
// The simulator's centre: the one gripper model shared by all connections,
// the real-time clock and the tick that moves the fingers and sends reports,
// and the register of open connections that final results are routed to.
#include "FaultOptions.h"
#include "GripperConfig.h"
#include "GripperModel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <map>
#include <utility>
#include <vector>

class TSimSession;

class TSimHost : public QObject {
    Q_OBJECT
public:
    static constexpr int TickMs = 5;

    TSimHost(const TGripperConfig& config, const TFaultOptions& faults, bool verbose, QObject* parent = nullptr);

    TGripperModel& Model() { return FModel; }
    const TFaultOptions& Faults() const { return FFaults; }
    bool Verbose() const { return FVerbose; }

    // Creates a session for a new connection; the caller owns it.
    TSimSession* OpenSession(const QString& name, std::function<void(const QByteArray&)> writer, QObject* parent);
    // Called by a session when it goes away.
    void Unregister(int origin);

    // While a request is handled, the final results it causes (the abort of
    // a motion it replaces) are held back and go out on Release, after the
    // request's own answer: a client that takes the first packet with its
    // command byte as the answer must not take the old motion's result.
    void HoldResults() { FHolding = true; }
    void ReleaseResults();

private:
    void Tick();
    void Route(int origin, TPacket&& answer);

    TFaultOptions FFaults;
    bool FVerbose;
    QElapsedTimer FClock;
    TGripperModel FModel;
    QTimer FTimer;
    std::map<int, TSimSession*> FSessions;
    int FNextOrigin = 1;
    bool FHolding = false;
    std::vector<std::pair<int, TPacket>> FHeld;
};
