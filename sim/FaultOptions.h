#pragma once
// Faults the simulator injects into its answers, to test how a client copes.
#include <cstdint>
#include <map>
#include <set>

struct TFaultOptions {
    std::set<uint8_t> drop;                    // packets with these command bytes are never sent
    std::map<uint8_t, uint16_t> forcedStatus;  // requests answered with this status, not executed
    double corruptRate = 0;                    // share of frames sent with a wrong checksum
    double garbageRate = 0;                    // share of frames preceded by stray bytes
    int splitPauseMs = 0;                      // frames sent in two halves with this pause; 0: whole
    int delayMs = 0;                           // every frame leaves this much later
    int closeAfter = 0;                        // connection closed after this many frames; 0: never
    uint32_t seed = 1;                         // random source of the rates and the garbage
};
