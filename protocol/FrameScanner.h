#pragma once
// Finds the frames in a recorded byte stream (a capture, a dump, the bytes
// of one CAN identifier): every frame with a matching checksum as a packet,
// and what stands in the way with its offset: a frame whose checksum does
// not match, a frame cut short (the stream ends, or the next preamble comes,
// before its checksum), and bytes between frames. Unlike the frame assembler
// of a live link it decides each item by the bytes around it, so it can
// report each of these exactly.
//
// The stream is fed in pieces of any size, and an item is given out as soon
// as the bytes fed decide it. Only what is undecided is held: at most one
// frame (the longest is 65543 bytes) and the run of AA bytes after it, so a
// stream of any length takes bounded memory. A run of bytes between frames
// is one item however long it is; it keeps its first bytes only.
// Standard library only.
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
    // BetweenFrames: the run's first bytes (at most KeptBetweenBytes) and
    // its whole size as length.
    TPacket packet;
    uint16_t checksum = 0; // ChecksumMismatch: as received
    uint16_t expected = 0; // ChecksumMismatch: as computed
    size_t frameSize = 0;  // CutShort: bytes the frame's header announces (0 when the header itself is cut)
    TByteArray bytes;      // CutShort: the bytes it took
};

class TFrameScanner {
public:
    // Bytes of a run between frames an item keeps.
    static constexpr size_t KeptBetweenBytes = 32;

    // Takes the next bytes of the stream; appends the items they decide.
    void Feed(const uint8_t* data, size_t size, std::vector<TScanItem>& items);
    // The stream has ended: appends the items of the bytes still held.
    void Finish(std::vector<TScanItem>& items);
    // Bytes held back, undecided.
    size_t Held() const { return FBuffer.size() - FAt; }

private:
    // Decides what the held bytes allow; with `final`, all of them.
    void Scan(bool final, std::vector<TScanItem>& items);
    // Adds bytes [from, to) of the buffer to the open run between frames.
    void AddBetween(size_t from, size_t to);
    void CloseBetween(std::vector<TScanItem>& items);

    TByteArray FBuffer;
    size_t FAt = 0;      // first undecided byte of the buffer
    size_t FBase = 0;    // stream offset of FBuffer[0]
    TScanItem FBetween;  // the open run between frames (size 0: none)
};

std::vector<TScanItem> ScanFrames(const uint8_t* data, size_t size);
inline std::vector<TScanItem> ScanFrames(const TByteArray& bytes) { return ScanFrames(bytes.data(), bytes.size()); }
