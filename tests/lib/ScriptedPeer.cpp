#include "ScriptedPeer.h"

#include "FrameAssembler.h"
#include "Framing.h"
#include "HXT_commands.h"
#include "convert.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

ScriptedPeer::ScriptedPeer(Script script) : script_(std::move(script))
{
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return;
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Run(); });
}

ScriptedPeer::~ScriptedPeer()
{
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (client_ >= 0)
        ::close(client_);
    if (listener_ >= 0)
        ::close(listener_);
}

TPacket ScriptedPeer::Answer(uint8_t command, uint8_t status, const TByteArray& result)
{
    TPacket p;
    p.command = command;
    p.data = {status, 0};
    p.data.insert(p.data.end(), result.begin(), result.end());
    p.length = static_cast<int32_t>(p.data.size());
    return p;
}

void ScriptedPeer::Send(const TPacket& packet)
{
    TByteArray frame;
    FramePacket(packet, frame);
    SendBytes(frame);
}

void ScriptedPeer::SendBytes(const TByteArray& bytes)
{
    if (client_ >= 0)
        (void)!::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::vector<std::pair<uint8_t, TByteArray>> ScriptedPeer::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

bool ScriptedPeer::WaitFor(uint8_t command, int count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
        int seen = 0;
        for (const auto& r : requests_)
            seen += r.first == command ? 1 : 0;
        return seen >= count;
    });
}

std::vector<TPacket> ScriptedPeer::Answers(uint8_t command, const TByteArray& payload)
{
    std::vector<TPacket> answers = script_(command, payload);
    if (!answers.empty())
        return answers;
    switch (command) {
    case CMD_GET_SYSTEM_STATE:
    case CMD_GET_POS:
    case CMD_GET_SPEED:
    case CMD_GET_FORCE:
        return payload.size() == 3 ? std::vector<TPacket>{Answer(command, 0, {0, 0, 0, 0})} : answers;
    case CMD_GET_GRASPING_STATE:
        return payload.size() == 3 ? std::vector<TPacket>{Answer(command, 0, {0})} : answers;
    case CMD_GET_SYSTEM_LIMITS: {
        TByteArray limits;
        for (const float v : {110.f, 5.f, 420.f, 100.f, 5000.f, 5.f, 80.f, 120.f}) {
            const auto b = SingleToBytes(v);
            limits.insert(limits.end(), b.begin(), b.end());
        }
        return {Answer(command, 0, limits)};
    }
    default:
        return answers;
    }
}

void ScriptedPeer::Run()
{
    pollfd waiting{listener_, POLLIN, 0};
    while (!stopping_ && client_ < 0)
        if (poll(&waiting, 1, 20) > 0)
            client_ = accept(listener_, nullptr, nullptr);
    TFrameAssembler assembler;
    assembler.OnFrame = [this](TPacket&& packet) {
        const auto command = static_cast<uint8_t>(packet.command & 0xFF);
        {
            std::lock_guard lock(mutex_);
            requests_.emplace_back(command, packet.data);
        }
        changed_.notify_all();
        for (const TPacket& answer : Answers(command, packet.data))
            Send(answer);
    };
    pollfd readable{client_, POLLIN, 0};
    uint8_t buffer[4096];
    while (!stopping_) {
        if (poll(&readable, 1, 20) <= 0)
            continue;
        const ssize_t got = ::recv(client_, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        assembler.ProcessChunk(buffer, static_cast<size_t>(got));
    }
}
