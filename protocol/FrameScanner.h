#pragma once
// Finds the frames in a recorded byte stream (a capture, a dump, the bytes
// of one CAN identifier): every frame with a matching checksum as a packet,
// and what stands in the way with its offset: a frame whose checksum does
// not match, a frame cut short (the stream ends, or the next preamble comes,
// before its checksum), and bytes between frames. Unlike the frame assembler
// of a live link it sees the whole stream at once, so it can report each of
// these exactly. Standard library only.
#include "types.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct TScanItem {
    enum class TKind { Packet, ChecksumMismatch, CutShort, BetweenFrames };
    TKind kind = TKind::Packet;
    size_t offset = 0; // first byte in the stream
    size_t size = 0;   // bytes the item takes in the stream
    // Packet and ChecksumMismatch: the packet as framed. CutShort: what
    // arrived of the header and payload (length may exceed the data).
    TPacket packet;
    uint16_t checksum = 0; // ChecksumMismatch: as received
    uint16_t expected = 0; // ChecksumMismatch: as computed
    size_t frameSize = 0;  // CutShort: bytes the frame's header announces (0 when the header itself is cut)
};

std::vector<TScanItem> ScanFrames(const uint8_t* data, size_t size);
inline std::vector<TScanItem> ScanFrames(const TByteArray& bytes) { return ScanFrames(bytes.data(), bytes.size()); }
