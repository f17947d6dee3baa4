// libkrm when things go wrong: malformed connection strings, refused and
// lost links, unanswered requests and an interrupted wait.
#include "LibTestSupport.h"
#include "SimChild.h"

#include <krm/krm.hpp>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The message of the ConnectionError that opening `connection` throws.
std::string OpenError(const std::string& connection)
{
    try {
        krm::Gripper::open(connection, 2s);
    } catch (const krm::ConnectionError& error) {
        return error.what();
    }
    return "(opened)";
}

// A peer on a free port of 127.0.0.1 that takes connections (the kernel
// completes them) and never answers.
class SilentPeer {
public:
    SilentPeer()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(fd_, 4) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
    }
    ~SilentPeer()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    SilentPeer(const SilentPeer&) = delete;
    SilentPeer& operator=(const SilentPeer&) = delete;
    std::string Tcp() const { return "tcp:127.0.0.1:" + std::to_string(port_); }
    bool Listening() const { return port_ != 0; }

private:
    int fd_ = -1;
    int port_ = 0;
};

std::chrono::steady_clock::duration Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::steady_clock::now() - start;
}

} // namespace

TEST(LibFaults, MalformedConnectionStringsNameTheWrongPart)
{
    const std::pair<const char*, const char*> cases[] = {
        {"tcp:127.0.0.1", "\"127.0.0.1\" is not HOST:PORT"},
        {"tcp:127.0.0.1:0", "PORT \"0\" is not a number from 1 to 65535"},
        {"tcp:127.0.0.1:http", "PORT \"http\""},
        {"tcp::1000", "HOST is empty"},
        {"tcp:::1:1000", "write it in brackets"},
        {"tcp:[::1:1000", "lacks its closing bracket"},
        {"serial:", "PATH is empty"},
        {"serial:/tmp/x@9600x", "BAUD \"9600x\" is not one of 1200, 2400"},
        {"can:virtualcan", "\"virtualcan\" is not PLUGIN:INTERFACE"},
        {"can:virtualcan:can0@300", "KBITS \"300\" is not one of 10, 20"},
        {"can:virtualcan:can0#0x20000000", "ID \"0x20000000\" is not an identifier"},
        {"udp:host:1", "\"udp\" is not a kind of connection"},
        {"", "is not a kind of connection"},
    };
    for (const auto& [text, part] : cases)
        EXPECT_TRUE(Contains(OpenError(text), part)) << text << ": " << OpenError(text);
}

TEST(LibFaults, RefusedConnection)
{
    int port = 0;
    {
        SimChild sim;
        port = sim.Port();
    }
    const std::string message = OpenError("tcp:127.0.0.1:" + std::to_string(port));
    EXPECT_TRUE(Contains(message, "cannot connect")) << message;
}

TEST(LibFaults, LostLinkEndsWaitsAndLaterCalls)
{
    SimChild sim({"--referenced"});
    krm::Gripper g = krm::Gripper::open(sim.Tcp());
    g.move(0, 400);
    krm::Motion m = g.start_move(110, 5);
    sim.Kill();
    try {
        m.wait(10s);
        FAIL() << "the motion ended on a dead link";
    } catch (const krm::ConnectionError& error) {
        EXPECT_FALSE(error.cause().empty());
    }
    EXPECT_TRUE(m.done());
    EXPECT_FALSE(g.is_open());
    EXPECT_THROW(g.state(), krm::ConnectionError);
    g.close();
    EXPECT_THROW(g.info(), krm::ConnectionError);
}

TEST(LibFaults, UnansweredRequestsTimeOut)
{
    SimChild sim({"--referenced", "--drop", "GET_SYSINFO,GET_ACCELERATION"});
    krm::Gripper g = krm::Gripper::open(sim.Tcp());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(g.info(200ms), krm::TimeoutError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_THROW(g.acceleration(), krm::TimeoutError); // the link's own 3 s
    EXPECT_TRUE(g.state().has(krm::flags::referenced));
}

TEST(LibFaults, InterruptCheckEndsAWaitAndStopsTheMotion)
{
    SimChild sim({"--referenced"});
    krm::Gripper g = krm::Gripper::open(sim.Tcp());
    g.move(0, 400);
    std::atomic<bool> interrupt{false};
    g.set_interrupt_check([&] { return interrupt.load(); });
    std::thread interrupter([&] {
        std::this_thread::sleep_for(200ms);
        interrupt = true;
    });
    EXPECT_THROW(g.move(110, 5), krm::InterruptedError);
    interrupter.join();
    g.set_interrupt_check({});
    std::this_thread::sleep_for(300ms);
    const krm::State after = g.state();
    EXPECT_FALSE(after.has(krm::flags::moving));
    EXPECT_LT(after.position, 10);
}

// Opening asks for reports and the limits, each answer waited for up to 3 s:
// against a peer that never answers, the timeout bounds the whole open and
// an interrupt ends it, and neither waits for the requests still pending.
// (The margins are far below the 3 s a single unanswered request takes.)
TEST(LibFaults, OpeningASilentPeerEndsWithinItsTimeoutOrAtAnInterrupt)
{
    SilentPeer peer;
    ASSERT_TRUE(peer.Listening());
    auto start = std::chrono::steady_clock::now();
    try {
        krm::Gripper::open(peer.Tcp(), 500ms);
        FAIL() << "a silent peer was opened";
    } catch (const krm::ConnectionError& error) {
        EXPECT_TRUE(Contains(error.what(), "did not answer")) << error.what();
    }
    EXPECT_LT(Since(start), 2500ms);

    start = std::chrono::steady_clock::now();
    const auto interruptAt = start + 200ms;
    EXPECT_THROW(
        krm::Gripper::open(peer.Tcp(), 30s, [&] { return std::chrono::steady_clock::now() >= interruptAt; }),
        krm::InterruptedError);
    EXPECT_LT(Since(start), 2500ms);
}

// close() while another thread waits for an answer that never comes: the
// waiting call ends with ConnectionError at once instead of at the link's 3 s.
TEST(LibFaults, CloseEndsAPendingRequest)
{
    SimChild sim({"--referenced", "--drop", "GET_SYSINFO"});
    krm::Gripper g = krm::Gripper::open(sim.Tcp());
    std::atomic<bool> closedError{false};
    std::thread waiter([&] {
        try {
            g.info(30s);
        } catch (const krm::ConnectionError&) {
            closedError = true;
        } catch (const krm::Error&) {
        }
    });
    std::this_thread::sleep_for(300ms);
    const auto start = std::chrono::steady_clock::now();
    g.close();
    EXPECT_LT(Since(start), 2000ms);
    waiter.join();
    EXPECT_TRUE(closedError.load());
    EXPECT_FALSE(g.is_open());
}
