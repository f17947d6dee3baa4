// libkrm's stop lane and bounded buffers against a peer that floods reports
// as fast as the link takes them, over TCP and over a pseudo-terminal pair;
// and a serial line that takes no more data: refused writes are reported as
// such and are never sent later.
#include "FrameAssembler.h"
#include "Framing.h"
#include "HXT_commands.h"
#include "LibTestSupport.h"
#include "convert.h"

#include <krm/krm.hpp>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using SteadyTime = std::chrono::steady_clock::time_point;

namespace {

#ifdef __SANITIZE_ADDRESS__
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

// The memory this process has in use, in bytes: its resident memory; under
// AddressSanitizer, whose quarantine keeps freed memory resident for a
// while, the bytes allocated and not freed.
long long MemoryInUse()
{
#ifdef __SANITIZE_ADDRESS__
    return static_cast<long long>(__sanitizer_get_current_allocated_bytes());
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    return -1;
#endif
}

void MakeRaw(int fd)
{
    termios settings{};
    tcgetattr(fd, &settings);
    cfmakeraw(&settings);
    tcsetattr(fd, TCSANOW, &settings);
}

// A pseudo-terminal pair whose terminal side is linked at "tty" in a
// temporary folder, for the library to open as a serial port. The pair's
// own terminal descriptor stays open so that the master side never sees a
// hang-up, whoever opens and closes the port.
class PtyPair {
public:
    PtyPair()
    {
        char folder[] = "/tmp/krm-flood-test-XXXXXX";
        if (mkdtemp(folder) == nullptr)
            return;
        folder_ = folder;
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        const std::string terminal = ptsname(master_);
        terminal_ = ::open(terminal.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (terminal_ < 0 || symlink(terminal.c_str(), Link().c_str()) != 0)
            return;
        MakeRaw(master_);
        MakeRaw(terminal_);
        ready_ = true;
    }
    ~PtyPair()
    {
        for (const int fd : {terminal_, master_})
            if (fd >= 0)
                ::close(fd);
        if (!folder_.empty()) {
            unlink(Link().c_str());
            rmdir(folder_.c_str());
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ready() const { return ready_; }
    std::string Serial() const { return "serial:" + Link(); }
    // The gripper's end.
    int Master() const { return master_; }
    // The program's end, besides the one the library opens.
    int Terminal() const { return terminal_; }

private:
    std::string Link() const { return folder_ + "/tty"; }
    std::string folder_;
    int master_ = -1;
    int terminal_ = -1;
    bool ready_ = false;
};

TByteArray Framed(uint8_t command, uint8_t status, const TByteArray& result = {})
{
    TByteArray payload{status, 0};
    payload.insert(payload.end(), result.begin(), result.end());
    return BuildFrame(command, payload.data(), payload.size());
}

// A gripper stand-in on one end of a byte stream (a TCP connection it
// accepts, or a pseudo-terminal's master side) that, while flooding, writes
// position reports carrying 1, 2, 3, ... as fast as the stream takes them,
// reading what comes in between. It answers STOP, the report switches and
// GET_SYSTEM_LIMITS at once (behind the reports already written) and leaves
// every other request unanswered.
class FloodingPeer {
public:
    // Listens on a free port of 127.0.0.1.
    FloodingPeer()
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            listen(listener_, 1) != 0 || getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        connection_ = "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
        thread_ = std::thread([this] { Run(); });
    }
    // Plays the gripper on the master side of `pty`.
    explicit FloodingPeer(const PtyPair& pty) : connection_(pty.Serial()), stream_(pty.Master())
    {
        thread_ = std::thread([this] { Run(); });
    }
    ~FloodingPeer()
    {
        stopping_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0) {
            ::close(listener_);
            if (stream_ >= 0)
                ::close(stream_);
        }
    }
    FloodingPeer(const FloodingPeer&) = delete;
    FloodingPeer& operator=(const FloodingPeer&) = delete;

    const std::string& Connection() const { return connection_; }
    // Floods, keeping no more than Lead reports beyond `taken` (the last one
    // the client took) on their way, so that what an answer waits behind
    // does not depend on how much the system buffers.
    void Flood(std::function<long long()> taken)
    {
        std::lock_guard lock(pacing_);
        taken_ = std::move(taken);
    }
    // Once this returns, `taken` is called no more.
    void StopFlooding()
    {
        std::lock_guard lock(pacing_);
        taken_ = nullptr;
    }
    long long ReportsSent() const { return reportsSent_.load(); }

    // When the requests with `command` arrived, in order.
    std::vector<SteadyTime> Arrivals(uint8_t command) const
    {
        std::lock_guard lock(mutex_);
        std::vector<SteadyTime> times;
        for (const auto& [c, time] : requests_)
            if (c == command)
                times.push_back(time);
        return times;
    }
    bool WaitFor(uint8_t command, size_t count, std::chrono::milliseconds timeout) const
    {
        const auto until = std::chrono::steady_clock::now() + timeout;
        while (Arrivals(command).size() < count)
            if (std::chrono::steady_clock::now() > until)
                return false;
            else
                std::this_thread::sleep_for(1ms);
        return true;
    }

private:
    static constexpr int ReportsPerChunk = 256;
    static constexpr long long Lead = 50000;

    bool Flooding()
    {
        std::lock_guard lock(pacing_);
        return taken_ && position_ - taken_() < Lead;
    }

    void Run()
    {
        while (!stopping_ && stream_ < 0) {
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, 20) > 0)
                stream_ = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK);
        }
        TFrameAssembler assembler;
        assembler.OnFrame = [this](TPacket&& packet) { Received(packet); };
        while (!stopping_) {
            const bool flooding = Flooding();
            pollfd p{stream_, static_cast<short>(POLLIN | (flooding || !out_.empty() ? POLLOUT : 0)), 0};
            if (poll(&p, 1, flooding ? 20 : 1) <= 0)
                continue;
            if (p.revents & POLLIN) {
                uint8_t buffer[4096];
                const ssize_t got = ::read(stream_, buffer, sizeof buffer);
                if (got > 0)
                    assembler.ProcessChunk(buffer, static_cast<size_t>(got));
            }
            if (p.revents & POLLOUT)
                Write(flooding);
        }
    }

    void Received(const TPacket& packet)
    {
        const auto command = static_cast<uint8_t>(packet.command & 0xFF);
        {
            std::lock_guard lock(mutex_);
            requests_.emplace_back(command, std::chrono::steady_clock::now());
        }
        TByteArray answer;
        if (command == CMD_STOP)
            answer = Framed(command, E_SUCCESS);
        else if (command == CMD_GET_SYSTEM_LIMITS) {
            TByteArray limits;
            for (const float v : {110.f, 5.f, 420.f, 100.f, 5000.f, 5.f, 80.f, 120.f}) {
                const auto b = SingleToBytes(v);
                limits.insert(limits.end(), b.begin(), b.end());
            }
            answer = Framed(command, E_SUCCESS, limits);
        } else if (packet.data.size() == 3)
            answer = Framed(command, E_SUCCESS, command == CMD_GET_GRASPING_STATE ? TByteArray{0} : TByteArray{0, 0, 0, 0});
        out_.insert(out_.end(), answer.begin(), answer.end());
    }

    // Writes what is left of the last chunk (and the answers behind it),
    // then, while flooding, the next chunk of reports.
    void Write(bool flooding)
    {
        if (out_.empty() && flooding) {
            for (int i = 0; i < ReportsPerChunk; ++i) {
                const auto value = SingleToBytes(static_cast<float>(++position_));
                const TByteArray report = Framed(CMD_GET_POS, E_SUCCESS, TByteArray(value.begin(), value.end()));
                out_.insert(out_.end(), report.begin(), report.end());
            }
            reportsSent_ += ReportsPerChunk;
        }
        const ssize_t written = ::write(stream_, out_.data(), out_.size());
        if (written > 0)
            out_.erase(out_.begin(), out_.begin() + written);
    }

    std::string connection_;
    int listener_ = -1;
    int stream_ = -1;
    std::atomic_bool stopping_{false};
    std::mutex pacing_;
    std::function<long long()> taken_;
    std::atomic<long long> reportsSent_{0};
    long long position_ = 0;
    TByteArray out_;
    mutable std::mutex mutex_;
    std::vector<std::pair<uint8_t, SteadyTime>> requests_;
    std::thread thread_;
};

// Under a flood of reports, with another thread waiting for an answer that
// never comes and a report queue that nobody reads: every stop() is on the
// wire well within the answer time and is answered, and memory stays
// bounded.
void StopUnderFlood(FloodingPeer& peer)
{
    krm::Gripper g = krm::Gripper::open(peer.Connection());
    krm::ReportQueue unread = g.reports();
    peer.Flood([&g] { return static_cast<long long>(g.last_state().position); });
    struct Calm {
        FloodingPeer& peer;
        ~Calm() { peer.StopFlooding(); }
    } calm{peer};
    std::atomic_bool infoEnded{false};
    auto info = std::async(std::launch::async, [&] {
        const std::string error = ErrorOf([&] { g.info(); });
        infoEnded = true;
        return error;
    });
    ASSERT_TRUE(peer.WaitFor(CMD_GET_SYSINFO, 1, 5s));
    const long long memoryBefore = MemoryInUse();
    const long long reportsBefore = peer.ReportsSent();
    const auto floodStart = std::chrono::steady_clock::now();

    constexpr size_t Stops = 4;
    std::chrono::steady_clock::duration longestStop{};
    for (size_t i = 1; i <= Stops; ++i) {
        std::this_thread::sleep_for(200ms);
        const auto called = std::chrono::steady_clock::now();
        EXPECT_EQ(ErrorOf([&] { g.stop(); }), "(no error)") << "stop " << i;
        longestStop = std::max(longestStop, std::chrono::steady_clock::now() - called);
        if (i == 1)
            EXPECT_FALSE(infoEnded) << "the first STOP waited for the unanswered request";
        ASSERT_TRUE(peer.WaitFor(CMD_STOP, i, 5s));
        // A hold-up behind the waiting request or the flood takes seconds.
        EXPECT_LT(peer.Arrivals(CMD_STOP)[i - 1] - called, 1s) << "stop " << i;
    }
    const std::string error = info.get();
    EXPECT_TRUE(Contains(error, "info: no answer from the gripper within 3 s")) << error;
    // The flood held on while the memory was looked at again.
    EXPECT_GT(peer.ReportsSent() - reportsBefore, 50000);
    const long long growth = MemoryInUse() - memoryBefore;
    EXPECT_LT(growth, 100LL << 20) << "the library's buffers grew with the flood";
    // The library took the reports in: the unread queue is full.
    EXPECT_GT(unread.dropped(), 0u);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - floodStart).count();
    std::printf("[          ] %.0f reports/s sent; memory grew %lld KiB; the longest stop() took %lld ms\n",
        static_cast<double>(peer.ReportsSent() - reportsBefore) / seconds, growth / 1024,
        static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(longestStop).count()));
}

} // namespace

TEST(LibFlood, StopGoesOutAndIsAnsweredUnderAFloodOverTcp)
{
    FloodingPeer peer;
    StopUnderFlood(peer);
}

TEST(LibFlood, StopGoesOutAndIsAnsweredUnderAFloodOverASerialLine)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ready());
    FloodingPeer peer(pty);
    StopUnderFlood(peer);
}

TEST(LibSerialLine, AWriteTheLineDoesNotTakeIsReportedAsSuchAndNeverSentLater)
{
    PtyPair pty;
    ASSERT_TRUE(pty.Ready());
    krm::Options options;
    options.reports.clear();
    options.read_limits = false;
    krm::Gripper g = krm::Gripper::open(pty.Serial(), options);
    // Nobody reads the gripper's end: once the terminal's buffer is full
    // (filled with zeros, which form no frame), the line takes nothing more.
    // The system moves bytes on between its buffers a little later: filled
    // until a pause frees no more room.
    const std::vector<uint8_t> zeros(4096, 0);
    for (bool took = true; took; std::this_thread::sleep_for(50ms)) {
        took = false;
        while (::write(pty.Terminal(), zeros.data(), zeros.size()) > 0)
            took = true;
        ASSERT_EQ(errno, EAGAIN);
    }

    for (const auto& [name, call] : std::vector<std::pair<std::string, std::function<void()>>>{
             {"info", [&] { g.info(); }}, {"stop", [&] { g.stop(); }}, {"stop", [&] { g.stop(); }},
             {"stop", [&] { g.stop(); }}}) {
        const std::string error = ErrorOf(call);
        EXPECT_TRUE(Contains(error, name + ": not sent: the link did not take the request")) << error;
        EXPECT_FALSE(Contains(error, "no answer")) << error;
    }

    // The line drains: what the callers were told failed never goes out,
    // and the next STOP goes out alone and is answered.
    FloodingPeer peer(pty);
    EXPECT_EQ(ErrorOf([&] { g.stop(); }), "(no error)");
    EXPECT_EQ(peer.Arrivals(CMD_STOP).size(), 1u);
    EXPECT_TRUE(peer.Arrivals(CMD_GET_SYSINFO).empty());
}
