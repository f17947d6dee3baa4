#include "Engine.h"

#include "HXT_commands.h"
#include "SocketLine.h"
#include "TCPDevice.h"
#include "convert.h"

#include <krm/krm.hpp>

#include <algorithm>

namespace krm::detail {

namespace {

// How often the waits of sent requests are looked at.
constexpr std::chrono::milliseconds ClockInterval{10};

bool IsStopLane(uint8_t command)
{
    return command == CMD_STOP || command == CMD_FAST_STOP || command == CMD_FAST_STOP_ACK;
}

bool IsReportByte(uint8_t command)
{
    switch (command) {
    case CMD_GET_SYSTEM_STATE:
    case CMD_GET_GRASPING_STATE:
    case CMD_GET_POS:
    case CMD_GET_SPEED:
    case CMD_GET_FORCE:
        return true;
    default:
        return false;
    }
}

// The statuses a motion ends with: a motion that ended just as another with
// the same byte was sent answers with one of these before the new one's
// "pending", which a refusal of the new one never looks like.
bool EndsMotion(TStat status)
{
    return status == E_SUCCESS || status == E_CMD_ABORTED || status == E_AXIS_BLOCKED || status == E_CMD_FAILED;
}

// Set while this thread does an exchange of its own: a request made
// meanwhile (from a notice handler) goes the ordinary way.
thread_local bool ServingDirect = false;

bool Has(const std::deque<std::shared_ptr<Exchange>>& list, uint8_t command)
{
    return std::any_of(list.begin(), list.end(), [command](const auto& e) { return e->Command == command; });
}

} // namespace

Engine::Engine(TLinkThread& link) : FLink(link) {}

Engine::~Engine() = default;

void Engine::Release()
{
    Disconnect(Reply::Closed, "closed");
    std::lock_guard gate(FGate);
    delete FClock;
    FClock = nullptr;
    delete FCommand;
    FCommand = nullptr;
}

TStat Engine::Connect(const TConnectionParams& params)
{
    std::lock_guard gate(FGate);
    FLinkThread = std::this_thread::get_id();
    FCommand = new TCommand(nullptr);
    for (int i = 0; i < FCommand->DeviceCount(); ++i)
        if (auto* tcp = qobject_cast<TTCPDevice*>(FCommand->Devices(i)))
            tcp->SetDirectLine(true);
    FClock = new QTimer;
    FClock->setInterval(ClockInterval);
    QObject::connect(FClock, &QTimer::timeout, [this] { Expire(); });
    FCommand->SetOnConnect([this](QObject*) {
        FConnected = true;
        if (OnConnected)
            OnConnected();
    });
    FCommand->SetOnDisconnect([this](QObject*) { FConnected = false; });
    FCommand->OnTransportReport = [this](QObject*, TTransportReport, const QString& text) {
        FConnected = FCommand->IsConnected();
        if (!FConnected.load())
            EndAll(Reply::LinkDown, text.toStdString());
        if (OnLinkLost)
            OnLinkLost(text.toStdString());
    };
    FCommand->OnPacket = [this](QObject*) { PacketsArrived(); };
    FCommand->SetDirectPacketEvents(true);
    FLink.Post([this] { WatchFaults(); });
    const TStat status = FCommand->Connect(params);
    if (status != E_SUCCESS && OnLinkLost) {
        // The device's cause and remedy after the status, when it told them.
        const QString cause = FCommand->OpenFailure();
        OnLinkLost(StatusText(status) + (cause.isEmpty() ? std::string() : ". " + cause.toStdString()));
    }
    return status;
}

void Engine::Disconnect(Reply how, const std::string& cause)
{
    FConnected = false;
    EndAll(how, cause);
    std::lock_guard gate(FGate);
    if (!FCommand)
        return;
    FCommand->SetOnDisconnect(nullptr);
    FCommand->OnTransportReport = nullptr;
    FCommand->Disconnect();
}

void Engine::SetObserving(bool observing)
{
    FObserving = observing;
    FLink.Post([this] { WatchFaults(); });
}

void Engine::WatchFaults()
{
    if (!FCommand)
        return;
    // The assembler's events change while no caller reads the line; a caller
    // reading now is done within a few milliseconds. The link thread does not
    // wait for it: a STOP may be queued behind this.
    std::unique_lock gate(FGate, std::try_to_lock);
    if (!gate) {
        QTimer::singleShot(std::chrono::milliseconds(1), FClock, [this] { WatchFaults(); });
        return;
    }
    if (!FObserving) {
        FCommand->SetFaultEvents(nullptr, nullptr);
        return;
    }
    FCommand->SetFaultEvents(
        [this](const TPacket& frame) {
            Observe(true, static_cast<uint8_t>(frame.command & 0xFF), frame.data, static_cast<uint8_t>(Packet::checksum));
        },
        [this](const TByteArray& bytes) { Observe(true, 0, bytes, static_cast<uint8_t>(Packet::stray_bytes)); });
}

std::shared_ptr<Exchange> Engine::Submit(
    uint8_t command, TByteArray payload, bool motion, std::optional<SteadyClock::time_point> serveUntil)
{
    auto exchange = std::make_shared<Exchange>();
    exchange->Command = command;
    exchange->Payload = std::move(payload);
    exchange->Motion = motion;
    exchange->StopLane = IsStopLane(command);
    if (serveUntil && !motion && ServeDirect(exchange, *serveUntil))
        return exchange;
    auto start = [this, exchange] { Start(exchange); };
    const bool posted = exchange->StopLane ? FLink.PostFirst(start) : FLink.Post(start);
    if (!posted)
        exchange->First.SetValue({Reply::Closed, E_SUCCESS, {}, false, SteadyClock::now(), "closed"});
    return exchange;
}

bool Engine::ServeDirect(const std::shared_ptr<Exchange>& exchange, SteadyClock::time_point until)
{
    if (ServingDirect)
        return false;
    std::unique_lock gate(FGate, std::try_to_lock);
    if (!gate || !FCommand || !FConnected.load() || FLink.HasJobs())
        return false;
    TDevice* device = FCommand->CurrentDevice();
    TSocketLine* line = device ? device->DirectLine() : nullptr;
    if (!line || !line->TakeReading())
        return false;
    {
        std::lock_guard state(FState);
        if (!Idle() || !Write(exchange)) {
            // Not sent (a refused write is its answer already).
            const bool answered = exchange->First.Ready();
            line->GiveBackReading();
            return answered;
        }
        if (exchange->StopLane)
            FStops.push_back(exchange);
        else
            FCurrent = exchange;
    }
    ServingDirect = true;
    while (!exchange->First.Ready() && SteadyClock::now() < until) {
        if (!line->WaitReadable(until))
            continue;
        // What is there is read, a chunk at a time, without asking first how
        // much: one system call less on the way to the answer.
        FCommand->DataAvailable(device, TCommand::ReadChunkSize);
        if (line->ReadEnded())
            break; // the link thread tells the lost link
    }
    ServingDirect = false;
    line->GiveBackReading();
    // The link thread keeps the time of an answer still owed.
    std::lock_guard state(FState);
    Tick();
    return true;
}

bool Engine::Idle() const
{
    return FConnected.load() && FQueue.empty() && !FCurrent && FStops.empty() && FGhosts.empty() && FRunning.empty();
}

void Engine::Abandon(const std::shared_ptr<Exchange>& exchange)
{
    exchange->Abandoned = true;
    FLink.PostFirst([this, exchange] {
        std::lock_guard state(FState);
        const auto queued = std::find(FQueue.begin(), FQueue.end(), exchange);
        if (queued != FQueue.end()) {
            FQueue.erase(queued);
            return;
        }
        if (FCurrent == exchange) {
            FCurrent = nullptr;
            FGhosts.push_back(exchange);
            Pump();
            return;
        }
        // A running motion keeps taking its own final answer for a while.
        if (std::find(FRunning.begin(), FRunning.end(), exchange) != FRunning.end())
            exchange->AnswerBy = SteadyClock::now() + AnswerTime;
    });
}

bool Engine::MotionUnderWay() const
{
    std::lock_guard state(FState);
    return (FCurrent && FCurrent->Motion) ||
           std::any_of(FRunning.begin(), FRunning.end(), [](const auto& e) { return e->Motion && !e->Abandoned; }) ||
           std::any_of(FQueue.begin(), FQueue.end(), [](const auto& e) { return e->Motion; });
}

void Engine::Start(const std::shared_ptr<Exchange>& exchange)
{
    if (exchange->Abandoned)
        return;
    std::lock_guard state(FState);
    if (!FConnected) {
        exchange->First.SetValue({Reply::LinkDown, E_SUCCESS, {}, false, SteadyClock::now(), "the link is down"});
        return;
    }
    if (exchange->StopLane) {
        if (Write(exchange))
            FStops.push_back(exchange);
    } else {
        FQueue.push_back(exchange);
        Pump();
    }
    Tick();
}

void Engine::Pump()
{
    while (!FCurrent && !FQueue.empty()) {
        auto next = std::move(FQueue.front());
        FQueue.pop_front();
        if (!next->Abandoned && Write(next))
            FCurrent = std::move(next);
    }
}

bool Engine::Write(const std::shared_ptr<Exchange>& exchange)
{
    TPacket request;
    request.command = exchange->Command;
    request.length = static_cast<int32_t>(exchange->Payload.size());
    request.data = exchange->Payload;
    const TStat written = FCommand->SendPacket(request);
    const auto now = SteadyClock::now();
    if (written != E_SUCCESS) {
        exchange->First.SetValue({Reply::WriteFailed, written, {}, false, now, StatusText(written)});
        return false;
    }
    exchange->SentAt = now;
    exchange->AnswerBy = now + AnswerTime;
    exchange->Sent = true;
    Observe(false, exchange->Command, exchange->Payload, 0);
    return true;
}

void Engine::PacketsArrived()
{
    std::lock_guard state(FState);
    TPacket packet;
    while (FCommand && FCommand->GetPacket(packet))
        Route(packet);
    Tick();
}

bool Engine::TakeFirst(std::deque<std::shared_ptr<Exchange>>& list, uint8_t command, const Reception& answer)
{
    const auto found = std::find_if(list.begin(), list.end(), [command](const auto& e) { return e->Command == command; });
    if (found == list.end())
        return false;
    const auto exchange = *found;
    list.erase(found);
    exchange->First.SetValue(answer);
    return true;
}

void Engine::Route(const TPacket& packet)
{
    const auto command = static_cast<uint8_t>(packet.command & 0xFF);
    const int32_t length = packet.ValidLength();
    Observe(true, command, TByteArray(packet.data.begin(), packet.data.begin() + length), 0);
    Reception answer;
    answer.How = Reply::Answered;
    answer.Time = SteadyClock::now();
    answer.Short = length < 2;
    if (!answer.Short) {
        answer.Status = static_cast<TStat>(BytesToWord(packet.data[0], packet.data[1]) & 0xFF);
        answer.Data.assign(packet.data.begin() + 2, packet.data.begin() + length);
    }
    const bool pending = !answer.Short && answer.Status == E_CMD_PENDING;

    if (TakeFirst(FStops, command, answer))
        return;
    // A request given up on after it was sent: the gripper answers in order.
    const auto ghost = std::find_if(FGhosts.begin(), FGhosts.end(), [command](const auto& e) { return e->Command == command; });
    if (ghost != FGhosts.end()) {
        const auto exchange = *ghost;
        FGhosts.erase(ghost);
        if (pending) {
            exchange->AnswerBy = answer.Time + AnswerTime;
            FRunning.push_back(exchange);
        }
        return;
    }
    if (FCurrent && FCurrent->Command == command) {
        const bool olderEnds = FCurrent->Motion && !answer.Short && !pending && EndsMotion(answer.Status) && Has(FRunning, command);
        if (!olderEnds) {
            const auto exchange = std::move(FCurrent);
            FCurrent = nullptr;
            // A "pending" answer is followed by the final one.
            if (pending)
                FRunning.push_back(exchange);
            exchange->First.SetValue(answer);
            Pump();
            return;
        }
    }
    const auto running = std::find_if(FRunning.begin(), FRunning.end(), [command](const auto& e) { return e->Command == command; });
    if (running != FRunning.end()) {
        // A second "pending" is no final answer.
        if (pending)
            return;
        const auto exchange = *running;
        FRunning.erase(running);
        exchange->Final.SetValue(answer);
        return;
    }
    if (IsReportByte(command) && !answer.Short && answer.Status == E_SUCCESS) {
        if (OnReport)
            OnReport(command, answer.Data, Clock::now());
        return;
    }
    if (FStray.fetch_add(1) == 0 && OnFirstStray)
        OnFirstStray(command);
}

void Engine::Expire()
{
    std::lock_guard state(FState);
    const auto now = SteadyClock::now();
    const Reception none{Reply::NoAnswer, E_SUCCESS, {}, false, now, {}};
    if (FCurrent && now >= FCurrent->AnswerBy) {
        // Bytes of it that the line still holds must not go out later.
        if (FCommand->CurrentDevice())
            FCommand->CurrentDevice()->DiscardUnsent();
        const auto exchange = std::move(FCurrent);
        FCurrent = nullptr;
        exchange->First.SetValue(none);
        Pump();
    }
    const auto expired = [now](const auto& e) { return now >= e->AnswerBy; };
    for (const auto& stop : FStops)
        if (expired(stop))
            stop->First.SetValue(none);
    std::erase_if(FStops, expired);
    std::erase_if(FGhosts, expired);
    std::erase_if(FRunning, [now](const auto& e) { return e->Abandoned && now >= e->AnswerBy; });
    Tick();
}

void Engine::Tick()
{
    if (!FClock)
        return;
    const bool waiting = FCurrent || !FStops.empty() || !FGhosts.empty() ||
                         std::any_of(FRunning.begin(), FRunning.end(), [](const auto& e) { return e->Abandoned.load(); });
    if (std::this_thread::get_id() != FLinkThread) {
        // The clock lives on the link thread; a running clock stops there by
        // itself once nothing waits.
        if (waiting && !FClockOn) {
            FClockOn = true;
            FLink.PostFirst([this] {
                std::lock_guard state(FState);
                Tick();
            });
        }
        return;
    }
    if (waiting && !FClock->isActive())
        FClock->start();
    else if (!waiting && FClock->isActive())
        FClock->stop();
    FClockOn = FClock->isActive();
}

void Engine::EndAll(Reply how, const std::string& cause)
{
    std::lock_guard state(FState);
    const auto now = SteadyClock::now();
    const Reception end{how, E_SUCCESS, {}, false, now, cause};
    for (const auto& e : FQueue)
        e->First.SetValue(end);
    for (const auto& e : FStops)
        e->First.SetValue(end);
    if (FCurrent)
        FCurrent->First.SetValue(end);
    for (const auto& e : FRunning)
        e->Final.SetValue(end);
    FQueue.clear();
    if (how == Reply::Closed && FConnected) {
        // The link stays up a little longer (closing stops a motion and
        // switches reports off): the answers still owed are known as such.
        if (FCurrent)
            FGhosts.push_back(std::move(FCurrent));
        for (const auto& e : FRunning) {
            e->Abandoned = true;
            e->AnswerBy = now + AnswerTime;
        }
    } else {
        FStops.clear();
        FGhosts.clear();
        FRunning.clear();
    }
    FCurrent = nullptr;
    Tick();
}

void Engine::Observe(bool received, uint8_t command, const TByteArray& payload, uint8_t faults)
{
    if (FObserving && OnSeen)
        OnSeen({received, command, payload, faults, Clock::now()});
}

} // namespace krm::detail
