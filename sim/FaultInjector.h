#pragma once
// Decides, reproducibly from a seed, what happens to each outgoing packet:
// dropped, sent with a corrupted checksum, or preceded by garbage bytes.
// Garbage never contains 0xAA, so it cannot fake a preamble.
#include "FaultOptions.h"
#include "types.h"

#include <optional>
#include <random>

class TFaultInjector {
public:
    static constexpr int MaxGarbage = 8;

    explicit TFaultInjector(const TFaultOptions& options);

    // Status to answer a request with instead of executing it.
    std::optional<uint16_t> ForcedStatus(uint8_t command) const;

    struct TWireFrame {
        TByteArray bytes;     // garbage (if any) followed by the frame
        size_t frameStart = 0; // offset of the frame in bytes
        bool corrupted = false;
    };
    // The bytes to send for a packet; nothing when the packet is dropped.
    std::optional<TWireFrame> Prepare(const TPacket& packet);

private:
    bool Chance(double rate);

    TFaultOptions FOptions;
    std::mt19937 FRandom;
};
