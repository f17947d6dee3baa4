#include "SimHost.h"

#include "SimSession.h"

TSimHost::TSimHost(const TGripperConfig& config, const TFaultOptions& faults, bool verbose, QObject* parent)
    : QObject(parent),
      FFaults(faults),
      FVerbose(verbose),
      FModel(config, [this] { return FClock.nsecsElapsed() / 1e6; })
{
    FClock.start();
    FModel.OnFinished = [this](int origin, TPacket&& answer) { Route(origin, std::move(answer)); };
    FTimer.setTimerType(Qt::PreciseTimer);
    connect(&FTimer, &QTimer::timeout, this, &TSimHost::Tick);
    FTimer.start(TickMs);
}

TSimSession* TSimHost::OpenSession(const QString& name, std::function<void(const QByteArray&)> writer, QObject* parent)
{
    const int origin = FNextOrigin++;
    auto* session = new TSimSession(*this, origin, name, std::move(writer), parent);
    FSessions[origin] = session;
    return session;
}

void TSimHost::Unregister(int origin) { FSessions.erase(origin); }

void TSimHost::ReleaseResults()
{
    FHolding = false;
    auto held = std::move(FHeld);
    FHeld.clear();
    for (auto& [origin, answer] : held)
        Route(origin, std::move(answer));
}

void TSimHost::Route(int origin, TPacket&& answer)
{
    if (FHolding) {
        FHeld.emplace_back(origin, std::move(answer));
        return;
    }
    // The connection that started the motion may be gone; then the result
    // has nowhere to go.
    const auto it = FSessions.find(origin);
    if (it != FSessions.end())
        it->second->Send(answer);
}

void TSimHost::Tick()
{
    FModel.Update();
    // A session may close itself while sending; walk a copy.
    const auto sessions = FSessions;
    for (const auto& [origin, session] : sessions)
        if (FSessions.count(origin))
            session->SendDueReports();
}
