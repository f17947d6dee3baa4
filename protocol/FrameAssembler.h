#pragma once
// Turns a received byte stream into checked packets: hunts for the preamble
// AA AA AA, takes command, length and payload, and verifies the checksum.
// A pause of more than 100 ms inside a frame drops the partial frame.
#include "types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

class TFrameAssembler {
public:
    // Millisecond tick source; wraps around like a 32-bit tick counter.
    using TTickSource = std::function<uint32_t()>;
    // Called with every packet whose checksum matched.
    using TFrameEvent = std::function<void(TPacket&& packet)>;
    // Called with a whole frame whose checksum did not match (its command,
    // length and payload as received).
    using TBadFrameEvent = std::function<void(const TPacket& packet)>;
    // Called with bytes that belonged to no frame: bytes before a preamble,
    // and the start of a frame that a pause cut off. They are handed over
    // when the next preamble is complete and at the end of each chunk.
    using TStrayEvent = std::function<void(const TByteArray& bytes)>;

    static constexpr uint32_t GapLimitMs = 100;
    static constexpr size_t PayloadBufferSize = 65536;

    explicit TFrameAssembler(TTickSource tick = SteadyTickMs);

    // Feeds one byte, reading the clock for it.
    void ProcessByte(uint8_t b);
    // Feeds a received chunk: its bytes arrived together, so the clock is
    // read once for all of them. `continuesPrevious` says that the chunk's
    // first byte had already been received when the previous chunk was
    // read (the reader left it in the device): there was no pause between
    // the two chunks, however long ago that read was, so the gap rule does
    // not apply before this chunk.
    void ProcessChunk(const uint8_t* data, size_t count, bool continuesPrevious = false);
    // Bytes arrived now but stay in the device for the time being: the gap
    // rule looks at the pause before them now, and the chunk that later
    // brings them is fed with `continuesPrevious`, because the wait in the
    // device was not a pause of the sender.
    void BytesArrived();
    // Forgets any partial frame, clears the payload buffer and the count of
    // checksum errors.
    void Reset();

    bool Synchronised() const { return FSynchronised; }
    // Complete frames dropped for a wrong checksum since the last Reset.
    uint32_t ChecksumErrors() const { return FChecksumErrors; }

    TFrameEvent OnFrame;
    TBadFrameEvent OnBadFrame;
    TStrayEvent OnStray;

    static uint32_t SteadyTickMs();

private:
    void ApplyGapRule(uint32_t now);
    void Step(uint8_t b);
    size_t CopyPayloadRun(const uint8_t* data, size_t count);
    // Keeps a byte that belongs to no frame, for OnStray.
    // The frame just completed, without its frame bytes.
    TPacket FramePacket() const;
    void Stray(uint8_t b);
    void FlushStray();

    TTickSource FTick;
    uint8_t FCommand = 0;
    uint32_t FLength = 0;
    uint16_t FCrc = 0xFFFF;
    bool FLowChecksumMatched = false;
    int32_t FPosition = 0;
    bool FSynchronised = false;
    uint32_t FLastByteTime = 0;
    uint32_t FChecksumErrors = 0;
    std::unique_ptr<uint8_t[]> FPayload;
    // The bytes of the frame begun (preamble, command, length), for OnStray
    // when a pause cuts it off, and the stray bytes not handed over yet.
    TByteArray FHead;
    TByteArray FStray;
};
