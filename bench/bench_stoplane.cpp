// libkrm's stop lane: the time from calling Gripper::stop() to STOP arriving
// at the peer, with 0, 1 and 100 requests of other threads waiting for
// answers that never come. The peer is a scripted gripper in this process on
// loopback TCP that takes the arrival time of every STOP. Goal: under 1 ms
// in each case.
#include "HXT_commands.h"
#include "ScriptedPeer.h"

#include <krm/krm.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Median and largest microseconds from stop() to STOP at the peer, with
// `waiting` threads waiting in info().
void Measure(int waiting, int samples)
{
    std::mutex mutex;
    std::vector<Clock::time_point> arrivals;
    ScriptedPeer peer([&](uint8_t command, const TByteArray&) -> std::vector<TPacket> {
        if (command != CMD_STOP)
            return {}; // GET_SYSINFO is never answered
        {
            std::lock_guard lock(mutex);
            arrivals.push_back(Clock::now());
        }
        return {ScriptedPeer::Answer(command, 0)};
    });
    krm::Options options;
    options.reports.clear();
    options.read_limits = false;
    krm::Gripper gripper = krm::Gripper::open(peer.Tcp(), options);
    std::vector<std::thread> threads;
    for (int i = 0; i < waiting; ++i)
        threads.emplace_back([&] {
            try {
                gripper.info(std::chrono::seconds(30));
            } catch (const krm::Error&) {
                // No answer comes; closing ends the wait.
            }
        });
    if (waiting > 0)
        peer.WaitFor(CMD_GET_SYSINFO);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // all of them queued
    std::vector<double> latencies;
    for (int i = 0; i < samples; ++i) {
        const auto start = Clock::now();
        gripper.stop();
        std::lock_guard lock(mutex);
        latencies.push_back(std::chrono::duration<double, std::micro>(arrivals.back() - start).count());
    }
    gripper.close();
    for (auto& t : threads)
        t.join();
    std::printf("%3d requests waiting: STOP on the wire after %.1f us (median of %d), %.1f us at most (goal < 1000)\n",
        waiting, Median(latencies), samples, *std::max_element(latencies.begin(), latencies.end()));
}

} // namespace

int main()
{
    std::printf("== call to STOP on the wire ==\n");
    for (const int waiting : {0, 1, 100})
        Measure(waiting, 200);
    return 0;
}
