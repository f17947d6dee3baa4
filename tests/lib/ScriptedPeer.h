#pragma once
// A gripper played by the test on a free port of 127.0.0.1: it takes one
// connection, records every request, and answers as its script says, so that
// the faults the simulator cannot act (a second "pending", answers that come
// in a chosen order, malformed answers) can be. Standard library, POSIX and
// the protocol core only.
#include "types.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedPeer {
public:
    // The answers to one request: empty for none. The peer answers the
    // report switches and GET_SYSTEM_LIMITS by itself unless the script does.
    using Script = std::function<std::vector<TPacket>(uint8_t command, const TByteArray& payload)>;

    explicit ScriptedPeer(Script script);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    std::string Tcp() const { return "tcp:127.0.0.1:" + std::to_string(port_); }
    // An answer packet: command byte, status word, result bytes.
    static TPacket Answer(uint8_t command, uint8_t status, const TByteArray& result = {});
    // Sends a packet (framed), or raw bytes, by itself.
    void Send(const TPacket& packet);
    void SendBytes(const TByteArray& bytes);
    // The requests received so far, in order: command byte and payload.
    std::vector<std::pair<uint8_t, TByteArray>> Requests() const;
    // Waits until a request with `command` came (`count` of them).
    bool WaitFor(uint8_t command, int count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

private:
    void Run();
    std::vector<TPacket> Answers(uint8_t command, const TByteArray& payload);

    Script script_;
    int listener_ = -1;
    std::atomic<int> client_{-1};
    int port_ = 0;
    std::atomic_bool stopping_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::pair<uint8_t, TByteArray>> requests_;
    std::thread thread_;
};
