#pragma once
// Minimal gripper protocol peer for the simulator tests: frames requests,
// assembles received bytes into packets (with the arrival time of each) and
// waits for packets while the Qt event loop runs.
#include "FrameAssembler.h"
#include "types.h"

#include <QElapsedTimer>

#include <deque>
#include <functional>
#include <optional>

struct TReceived {
    TPacket packet;
    qint64 atMs; // since the client was created

    uint8_t Command() const { return static_cast<uint8_t>(packet.command); }
    uint16_t Status() const;
    TByteArray Result() const; // bytes after the status word
};

class TProtocolClient {
public:
    using TWriter = std::function<void(const TByteArray&)>;

    explicit TProtocolClient(TWriter writer);

    // Bytes as they came from the transport.
    void Feed(const char* data, qsizetype count);
    void Send(uint8_t command, const TByteArray& payload = {});

    // Takes the next packet with this command byte (others stay queued),
    // running the event loop for up to timeoutMs.
    std::optional<TReceived> Next(uint8_t command, int timeoutMs = 2000);
    // Sends a request and takes its first answer.
    std::optional<TReceived> Call(uint8_t command, const TByteArray& payload = {}, int timeoutMs = 2000);
    // Collects every packet that arrives within ms.
    void Pump(int ms);
    std::deque<TReceived>& Queue() { return FQueue; }
    qint64 Elapsed() const { return FClock.elapsed(); }

private:
    TWriter FWriter;
    TFrameAssembler FAssembler;
    QElapsedTimer FClock;
    std::deque<TReceived> FQueue;
};

TByteArray Floats(std::initializer_list<float> values);
// Payload of GOTO to an absolute position.
TByteArray GotoPayload(float position, float speed);
// Runs the event loop until the condition holds; false after timeoutMs.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);
