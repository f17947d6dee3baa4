#include "BlockingSocketStop.h"

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

void RunBlockingSocketStop(benchmark::State& state, uint16_t port, std::vector<double>& samples)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        state.SkipWithError("cannot connect to the simulator");
        if (fd >= 0)
            close(fd);
        return;
    }
    const int noDelay = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    const uint8_t stop[] = {0xAA, 0xAA, 0xAA, 0x22, 0x00, 0x00, 0x0E, 0x76};
    uint8_t answer[10];
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        if (send(fd, stop, sizeof stop, 0) != static_cast<ssize_t>(sizeof stop)) {
            state.SkipWithError("send failed");
            break;
        }
        size_t got = 0;
        while (got < sizeof answer) {
            const ssize_t n = recv(fd, answer + got, sizeof answer - got, 0);
            if (n <= 0)
                break;
            got += static_cast<size_t>(n);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (got != sizeof answer) {
            state.SkipWithError("no answer");
            break;
        }
        state.SetIterationTime(seconds);
        samples.push_back(seconds);
    }
    close(fd);
}
