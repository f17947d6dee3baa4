#include "ProtocolClient.h"

#include "Framing.h"
#include "convert.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

uint16_t TReceived::Status() const { return packet.data.size() >= 2 ? WordAt(packet.data.data()) : 0xFFFF; }

TByteArray TReceived::Result() const
{
    return packet.data.size() >= 2 ? TByteArray(packet.data.begin() + 2, packet.data.end()) : TByteArray{};
}

TProtocolClient::TProtocolClient(TWriter writer) : FWriter(std::move(writer))
{
    FClock.start();
    FAssembler.OnFrame = [this](TPacket&& p) { FQueue.push_back({std::move(p), FClock.elapsed()}); };
}

void TProtocolClient::Feed(const char* data, qsizetype count)
{
    FAssembler.ProcessChunk(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(count));
}

void TProtocolClient::Send(uint8_t command, const TByteArray& payload)
{
    FWriter(BuildFrame(command, payload.data(), payload.size()));
}

std::optional<TReceived> TProtocolClient::Next(uint8_t command, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        for (auto it = FQueue.begin(); it != FQueue.end(); ++it)
            if (it->Command() == command) {
                TReceived r = std::move(*it);
                FQueue.erase(it);
                return r;
            }
        if (deadline.hasExpired())
            return std::nullopt;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

std::optional<TReceived> TProtocolClient::Call(uint8_t command, const TByteArray& payload, int timeoutMs)
{
    Send(command, payload);
    return Next(command, timeoutMs);
}

void TProtocolClient::Pump(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

TByteArray Floats(std::initializer_list<float> values)
{
    TByteArray out;
    for (float v : values) {
        const auto b = SingleToBytes(v);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

TByteArray GotoPayload(float position, float speed)
{
    TByteArray p{0};
    const TByteArray f = Floats({position, speed});
    p.insert(p.end(), f.begin(), f.end());
    return p;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}
