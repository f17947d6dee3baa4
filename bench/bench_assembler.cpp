// Frame assembler throughput over a stream of valid frames of mixed sizes,
// next to the bare checksum pass over the same bytes. The ratio line at the
// end compares the chunk entry (one clock reading per received chunk) and the
// per-byte entry with the checksum baseline.
#include "FrameAssembler.h"
#include "Framing.h"
#include "crc.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>

namespace {

const TByteArray& Stream()
{
    static const TByteArray stream = [] {
        std::mt19937 rng(42);
        std::uniform_int_distribution<int> sizeDist(0, 3);
        const size_t sizes[] = {2, 10, 64, 1500};
        TByteArray out;
        while (out.size() < (4u << 20)) {
            TByteArray payload(sizes[sizeDist(rng)]);
            for (uint8_t& b : payload)
                b = static_cast<uint8_t>(rng());
            const TByteArray frame = BuildFrame(static_cast<uint8_t>(0x20 + rng() % 0x34), payload.data(), payload.size());
            out.insert(out.end(), frame.begin(), frame.end());
        }
        return out;
    }();
    return stream;
}

constexpr size_t ChunkSize = 4096; // what the dispatcher reads per notification

void BM_CrcBlock(benchmark::State& state)
{
    const TByteArray& s = Stream();
    for (auto _ : state) {
        uint16_t crc = 0xFFFF;
        for (size_t at = 0; at < s.size(); at += 65535)
            crc = CrcBlock(s.data() + at, static_cast<uint16_t>(std::min<size_t>(65535, s.size() - at)), crc);
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}

void BM_AssemblerChunk(benchmark::State& state)
{
    const TByteArray& s = Stream();
    TFrameAssembler assembler;
    size_t frames = 0;
    assembler.OnFrame = [&frames](TPacket&&) { ++frames; };
    for (auto _ : state) {
        for (size_t at = 0; at < s.size(); at += ChunkSize)
            assembler.ProcessChunk(s.data() + at, std::min(ChunkSize, s.size() - at));
    }
    benchmark::DoNotOptimize(frames);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}

void BM_AssemblerPerByte(benchmark::State& state)
{
    const TByteArray& s = Stream();
    TFrameAssembler assembler;
    size_t frames = 0;
    assembler.OnFrame = [&frames](TPacket&&) { ++frames; };
    for (auto _ : state) {
        for (uint8_t b : s)
            assembler.ProcessByte(b);
    }
    benchmark::DoNotOptimize(frames);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(s.size()));
}

BENCHMARK(BM_CrcBlock)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AssemblerChunk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AssemblerPerByte)->Unit(benchmark::kMillisecond);

// Collects the real time per iteration of each run to print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                seconds[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> seconds;
};

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double crc = reporter.seconds["BM_CrcBlock"];
    if (crc > 0) {
        for (const char* name : {"BM_AssemblerChunk", "BM_AssemblerPerByte"}) {
            const double t = reporter.seconds[name];
            if (t > 0)
                std::printf("%s throughput / CrcBlock throughput = %.2f (goal >= 0.50)\n", name, crc / t);
        }
    }
    benchmark::Shutdown();
    return 0;
}
