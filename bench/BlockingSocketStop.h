#pragma once
// The baseline of the STOP round-trip benchmarks: a plain blocking socket
// that writes the STOP frame to the simulator on loopback TCP and reads its
// 10-byte answer, with nothing of ours in between.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

// Runs the benchmark's iterations against the simulator's TCP `port`; each
// round trip's seconds are the iteration time and are added to `samples`.
void RunBlockingSocketStop(benchmark::State& state, uint16_t port, std::vector<double>& samples);
