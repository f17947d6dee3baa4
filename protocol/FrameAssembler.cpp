#include "FrameAssembler.h"

#include "crc.h"

#include <algorithm>
#include <chrono>
#include <cstring>

uint32_t TFrameAssembler::SteadyTickMs()
{
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TFrameAssembler::TFrameAssembler(TTickSource tick)
    : FTick(std::move(tick)), FPayload(new uint8_t[PayloadBufferSize])
{
    Reset();
}

void TFrameAssembler::Reset()
{
    FCommand = 0;
    FLength = 0;
    FCrc = 0xFFFF;
    FPosition = 0;
    FSynchronised = false;
    FChecksumErrors = 0;
    FHead.clear();
    FStray.clear();
    std::memset(FPayload.get(), 0, PayloadBufferSize);
}

void TFrameAssembler::ApplyGapRule(uint32_t now)
{
    // A pause inside a frame, or right after its preamble, ends it: otherwise a
    // stale preamble would swallow the next whole frame as its command and length.
    if ((FPosition > 0 || FSynchronised) && static_cast<uint32_t>(now - FLastByteTime) > GapLimitMs) {
        if (OnStray && !FSynchronised)
            FStray.insert(FStray.end(), static_cast<size_t>(FPosition), 0xAA);
        if (OnStray && FSynchronised) {
            FStray.insert(FStray.end(), FHead.begin(), FHead.end());
            if (FPosition > 3)
                FStray.insert(FStray.end(), FPayload.get(), FPayload.get() + std::min<uint32_t>(FLength, static_cast<uint32_t>(FPosition - 3)));
        }
        FHead.clear();
        FPosition = 0;
        FSynchronised = false;
    }
    FLastByteTime = now;
}

void TFrameAssembler::BytesArrived() { ApplyGapRule(FTick()); }

void TFrameAssembler::ProcessByte(uint8_t b)
{
    ApplyGapRule(FTick());
    Step(b);
    FlushStray();
}

TPacket TFrameAssembler::FramePacket() const
{
    TPacket packet;
    packet.command = FCommand;
    packet.length = static_cast<int32_t>(FLength);
    packet.data.assign(FPayload.get(), FPayload.get() + FLength);
    return packet;
}

void TFrameAssembler::Stray(uint8_t b)
{
    if (OnStray)
        FStray.push_back(b);
}

void TFrameAssembler::FlushStray()
{
    if (FStray.empty())
        return;
    const TByteArray bytes = std::move(FStray);
    FStray.clear();
    OnStray(bytes);
}

void TFrameAssembler::ProcessChunk(const uint8_t* data, size_t count, bool continuesPrevious)
{
    if (count == 0)
        return;
    if (continuesPrevious)
        FLastByteTime = FTick();
    else
        ApplyGapRule(FTick());
    size_t i = 0;
    while (i < count) {
        // Payload bytes are copied in runs; everything else goes byte by byte.
        const size_t run = CopyPayloadRun(data + i, count - i);
        if (run > 0) {
            i += run;
            continue;
        }
        Step(data[i++]);
    }
    FlushStray();
}

size_t TFrameAssembler::CopyPayloadRun(const uint8_t* data, size_t count)
{
    if (!FSynchronised || FPosition < 3)
        return 0;
    const uint32_t offset = static_cast<uint32_t>(FPosition - 3);
    if (offset >= FLength)
        return 0;
    const size_t run = std::min<size_t>(count, FLength - offset);
    std::memcpy(FPayload.get() + offset, data, run);
    FPosition += static_cast<int32_t>(run);
    return run;
}

void TFrameAssembler::Step(uint8_t b)
{
    if (!FSynchronised) {
        if (b != 0xAA) {
            // The AA bytes before it were no preamble either.
            for (int32_t i = 0; i < FPosition; ++i)
                Stray(0xAA);
            Stray(b);
            FHead.clear();
        }
        FPosition = b == 0xAA ? FPosition + 1 : 0;
        if (FPosition == 3) {
            FlushStray();
            if (OnStray || OnBadFrame)
                FHead.assign(3, 0xAA);
            FSynchronised = true;
            FPosition = 0;
            FCrc = CrcAfterPreamble;
            FLength = 0;
            FCommand = 0;
        }
        return;
    }

    const uint32_t pos = static_cast<uint32_t>(FPosition);
    if (pos < 3 && (OnStray || OnBadFrame))
        FHead.push_back(b);
    if (pos == 0) {
        FCommand = b;
        FCrc = CrcUpdate(b, FCrc);
    } else if (pos == 1) {
        FLength = b;
        FCrc = CrcUpdate(b, FCrc);
    } else if (pos == 2) {
        FLength += 256u * b;
        FCrc = CrcUpdate(b, FCrc);
    } else if (pos < FLength + 3) {
        FPayload[pos - 3] = b;
    } else if (pos == FLength + 3) {
        // From here on the register holds the checksum the frame must carry.
        // The received bytes are compared with it rather than folded into it:
        // folding them in comes out 0 for a second, wrong byte pair as well.
        FCrc = CrcBytes(FPayload.get(), FLength, FCrc);
        FLowChecksumMatched = b == static_cast<uint8_t>(FCrc);
    } else {
        if (!FLowChecksumMatched || b != static_cast<uint8_t>(FCrc >> 8)) {
            ++FChecksumErrors;
            if (OnBadFrame)
                OnBadFrame(FramePacket());
        } else if (OnFrame) {
            OnFrame(FramePacket());
        }
        FHead.clear();
        FPosition = 0;
        FSynchronised = false;
        return;
    }
    ++FPosition;
}
