// Fuzz target for the frame assembler. The input is a small program of
// operations: raw garbage, well-formed frames whose checksum the harness fills
// in, corrupted frames, clock pauses, and how the bytes are chunked. Two
// assemblers see the same stream, one chunk by chunk and one byte by byte;
// they must agree, every packet framed again must check to zero and equal the
// bytes that produced it, and after a pause over 100 ms one valid frame must
// come out exactly as sent whatever came before.
#include "FuzzSupport.h"
#include "FrameAssembler.h"
#include "Framing.h"
#include "crc.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Harness {
    uint32_t now = 0;
    TByteArray stream; // every byte fed so far
    TFrameAssembler chunked{[this] { return now; }};
    TFrameAssembler perByte{[this] { return now; }};
    std::vector<TPacket> fromChunks;
    std::vector<TPacket> fromBytes;

    Harness()
    {
        chunked.OnFrame = [this](TPacket&& p) { fromChunks.push_back(std::move(p)); };
        perByte.OnFrame = [this](TPacket&& p) {
            // The frame ends with the byte just fed: framing the packet again
            // must give exactly the bytes that produced it.
            TByteArray frame;
            Check(FramePacket(p, frame) == E_SUCCESS);
            Check(CrcBytes(frame.data(), frame.size(), 0xFFFF) == 0);
            Check(frame.size() <= stream.size());
            Check(std::memcmp(frame.data(), stream.data() + stream.size() - frame.size(), frame.size()) == 0);
            fromBytes.push_back(std::move(p));
        };
    }

    void Feed(const TByteArray& bytes, size_t chunk)
    {
        chunk = std::max<size_t>(chunk, 1);
        for (size_t at = 0; at < bytes.size(); at += chunk) {
            const size_t n = std::min(chunk, bytes.size() - at);
            chunked.ProcessChunk(bytes.data() + at, n);
            for (size_t i = 0; i < n; ++i) {
                stream.push_back(bytes[at + i]);
                perByte.ProcessByte(bytes[at + i]);
            }
        }
        Check(fromChunks.size() == fromBytes.size());
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    Harness h;
    while (in.More()) {
        const uint8_t op = in.Byte();
        const size_t chunk = 1 + (op >> 3) * 37;
        switch (op & 7) {
        case 0:
        case 1: // garbage
            h.Feed(in.Bytes(in.Byte()), chunk);
            break;
        case 2:
        case 3: { // a frame with a correct checksum, maybe with a flipped byte
            const uint8_t command = in.Byte();
            size_t length = in.Byte();
            if (op & 0x80)
                length = length * 256 + in.Byte();
            TByteArray payload = in.Bytes(length);
            payload.resize(length, 0xAA);
            TByteArray frame = BuildFrame(command, payload.data(), payload.size());
            if ((op & 7) == 3)
                frame[in.Byte() % frame.size()] ^= static_cast<uint8_t>(1 + in.Byte() % 255);
            h.Feed(frame, chunk);
            break;
        }
        case 4: // a pause
            h.now += in.Byte() * 2u;
            break;
        default: // preamble fragments
            h.Feed(TByteArray(1 + op % 4, 0xAA), chunk);
            break;
        }
    }
    for (size_t i = 0; i < h.fromBytes.size(); ++i) {
        Check(h.fromChunks[i].command == h.fromBytes[i].command);
        Check(h.fromChunks[i].data == h.fromBytes[i].data);
    }

    // Recovery: a pause over 100 ms, then one valid frame, yields that frame.
    const size_t before = h.fromBytes.size();
    h.now += TFrameAssembler::GapLimitMs + 1;
    const TByteArray payload{0x00, 0x00, 0x12, 0x34};
    h.Feed(BuildFrame(0x43, payload.data(), payload.size()), 3);
    Check(h.fromBytes.size() == before + 1 && h.fromChunks.size() == before + 1);
    Check(h.fromBytes.back().command == 0x43 && h.fromBytes.back().data == payload);
    Check(h.fromChunks.back().command == 0x43 && h.fromChunks.back().data == payload);
    return 0;
}
