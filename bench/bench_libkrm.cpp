// Costs of libkrm against the gripper simulator over loopback TCP.
//
// 1. STOP round trip: Gripper::stop() next to a plain blocking socket doing
//    the same exchange with the same simulator, in alternating rounds (the
//    simulator serves one client at a time), on an idle machine and again
//    with one core kept busy by a process this benchmark starts, pinned to
//    that core. Goals: median ratio at most 1.3 idle, at most 2 busy.
// 2. 1,000 state() calls in one session next to 1,000 krm-cli processes
//    each running `state` (both reported; the count is the first argument
//    after the benchmark options, default 1000).
#include "SimChild.h"

#include <krm/krm.hpp>

#include "BlockingSocketStop.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <csignal>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Seconds = std::chrono::duration<double>;

SimChild* Simulator = nullptr;
// The rounds of each phase: 0 idle, 1 with one core busy.
std::vector<std::vector<double>> SocketRounds[2];
std::vector<std::vector<double>> LibraryRounds[2];

// A process that keeps the last core of this machine busy until it is ended.
class BusyCore {
public:
    BusyCore()
    {
        pid_ = fork();
        if (pid_ != 0)
            return;
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)) - 1, &set);
        sched_setaffinity(0, sizeof set, &set);
        for (volatile unsigned long n = 0;; n = n + 1) {
        }
    }
    ~BusyCore()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    BusyCore(const BusyCore&) = delete;
    BusyCore& operator=(const BusyCore&) = delete;

private:
    pid_t pid_ = -1;
};

// The busy core of phase 1, started by its first benchmark.
std::unique_ptr<BusyCore> Busy;

void EnterPhase(int phase)
{
    if (phase == 1 && !Busy)
        Busy = std::make_unique<BusyCore>();
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void BM_BlockingSocketStop(benchmark::State& state, int phase)
{
    EnterPhase(phase);
    RunBlockingSocketStop(state, static_cast<uint16_t>(Simulator->Port()), SocketRounds[phase].emplace_back());
}

void BM_LibraryStop(benchmark::State& state, int phase)
{
    EnterPhase(phase);
    try {
        krm::Gripper gripper = krm::Gripper::open(Simulator->Tcp());
        std::vector<double>& samples = LibraryRounds[phase].emplace_back();
        for (auto _ : state) {
            const auto t0 = std::chrono::steady_clock::now();
            gripper.stop();
            const double seconds = Seconds(std::chrono::steady_clock::now() - t0).count();
            state.SetIterationTime(seconds);
            samples.push_back(seconds);
        }
    } catch (const krm::Error& error) {
        state.SkipWithError(error.what());
    }
}

// Runs krm-cli with `args` and waits for it; its exit status.
int RunCli(const std::vector<std::string>& args)
{
    std::vector<std::string> words{KRM_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, KRM_CLI_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void StateFigures(int count)
{
    double session = 0;
    try {
        krm::Gripper gripper = krm::Gripper::open(Simulator->Tcp());
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i)
            gripper.state();
        session = Seconds(std::chrono::steady_clock::now() - t0).count();
    } catch (const krm::Error& error) {
        std::fprintf(stderr, "state in one session failed: %s\n", error.what());
        return;
    }
    const std::string port = "127.0.0.1:" + std::to_string(Simulator->Port());
    const auto t0 = std::chrono::steady_clock::now();
    int failed = 0;
    for (int i = 0; i < count; ++i)
        failed += RunCli({"--tcp", port, "state"}) == 0 ? 0 : 1;
    const double processes = Seconds(std::chrono::steady_clock::now() - t0).count();
    std::printf("\n== %d state calls ==\n", count);
    std::printf("one libkrm session: %.3f s (%.2f ms per call)\n", session, session * 1e3 / count);
    std::printf("%d krm-cli processes: %.3f s (%.2f ms per call, %d failed)\n", count, processes,
                processes * 1e3 / count, failed);
    if (session > 0)
        std::printf("krm-cli processes / one session: %.1f\n", processes / session);
}

void PrintStopSummary(int phase, double goal)
{
    // The load of the machine drifts; each library round is compared with
    // the socket round right before it, and the median of those ratios is
    // the figure.
    const size_t rounds = std::min(SocketRounds[phase].size(), LibraryRounds[phase].size());
    if (rounds == 0)
        return;
    std::vector<double> ratios;
    const char* name = phase == 0 ? "idle" : "one core busy";
    std::printf("\n== STOP round trip against the simulator, %s, %zu rounds ==\n", name, rounds);
    for (size_t r = 0; r < rounds; ++r) {
        const double b = Median(SocketRounds[phase][r]);
        const double l = Median(LibraryRounds[phase][r]);
        if (b > 0)
            ratios.push_back(l / b);
        std::printf("round %zu: median blocking socket %.1f us, median libkrm %.1f us, ratio %.2f\n", r + 1, b * 1e6,
                    l * 1e6, b > 0 ? l / b : 0.0);
    }
    std::printf("median ratio libkrm / blocking socket, %s: %.2f (goal <= %.1f)\n", name, Median(ratios), goal);
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    const int stateCount = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1000;
    SimChild simulator({"--referenced"});
    if (!simulator.Started()) {
        std::fprintf(stderr, "gripper-sim did not start\n");
        return 1;
    }
    Simulator = &simulator;
    // Idle rounds first, then the same with one core kept busy by another
    // process.
    for (int phase = 0; phase < 2; ++phase)
        for (int round = 0; round < 9; ++round) {
            const std::string suffix = phase == 0 ? "" : "_OneCoreBusy";
            benchmark::RegisterBenchmark(("StopRoundTrip_BlockingSocket" + suffix).c_str(), BM_BlockingSocketStop, phase)
                ->Iterations(200)->UseManualTime()->Unit(benchmark::kMicrosecond);
            benchmark::RegisterBenchmark(("StopRoundTrip_Library" + suffix).c_str(), BM_LibraryStop, phase)
                ->Iterations(200)->UseManualTime()->Unit(benchmark::kMicrosecond);
        }
    benchmark::RunSpecifiedBenchmarks();
    Busy.reset();
    benchmark::Shutdown();
    PrintStopSummary(0, 1.3);
    PrintStopSummary(1, 2.0);
    StateFigures(stateCount);
    return 0;
}
