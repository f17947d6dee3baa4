#include "FrameScanner.h"

#include "Framing.h"
#include "crc.h"

#include <algorithm>

namespace {

constexpr uint8_t Preamble = 0xAA;
constexpr size_t HeaderSize = 6; // preamble, command byte, length

bool PreambleAt(const uint8_t* data, size_t size, size_t at)
{
    // A preamble is the last three of a run of AA bytes: AA AA AA AA 20 is
    // one stray byte before the frame of command 20h.
    return at + 3 <= size && data[at] == Preamble && data[at + 1] == Preamble && data[at + 2] == Preamble
        && !(at + 3 < size && data[at + 3] == Preamble);
}

// The next preamble at or after `from`, or `size`.
size_t NextPreamble(const uint8_t* data, size_t size, size_t from)
{
    while (from < size && !PreambleAt(data, size, from))
        ++from;
    return from;
}

TPacket PacketAt(const uint8_t* data, size_t at, size_t available)
{
    TPacket p;
    p.command = data[at + 3];
    p.length = data[at + 4] | (data[at + 5] << 8);
    const size_t payload = available > HeaderSize ? std::min(available - HeaderSize, static_cast<size_t>(p.length)) : 0;
    p.data.assign(data + at + HeaderSize, data + at + HeaderSize + payload);
    return p;
}

} // namespace

std::vector<TScanItem> ScanFrames(const uint8_t* data, size_t size)
{
    std::vector<TScanItem> items;
    size_t at = 0;
    while (at < size) {
        const size_t start = NextPreamble(data, size, at);
        if (start > at) {
            TScanItem gap;
            gap.kind = TScanItem::TKind::BetweenFrames;
            gap.offset = at;
            gap.size = start - at;
            gap.packet.data.assign(data + at, data + start);
            gap.packet.length = static_cast<int32_t>(gap.size);
            items.push_back(std::move(gap));
        }
        if (start >= size)
            break;
        // A frame ends at its checksum, unless the stream or the next
        // preamble ends it first: a preamble inside a frame whose checksum
        // does not match starts the next frame.
        const size_t length = start + HeaderSize <= size ? (data[start + 4] | (data[start + 5] << 8)) : 0;
        const size_t frameSize = length + FrameOverhead;
        const size_t end = start + frameSize;
        TScanItem item;
        item.offset = start;
        bool whole = start + HeaderSize <= size && end <= size;
        if (whole) {
            item.packet = PacketAt(data, start, frameSize);
            const uint16_t crc = CrcBytes(data + start, HeaderSize + length, 0xFFFF);
            const uint16_t received = static_cast<uint16_t>(data[end - 2] | (data[end - 1] << 8));
            if (crc == received) {
                item.size = frameSize;
                items.push_back(std::move(item));
                at = end;
                continue;
            }
            const size_t next = NextPreamble(data, size, start + 3);
            if (next >= end) {
                item.kind = TScanItem::TKind::ChecksumMismatch;
                item.size = frameSize;
                item.checksum = received;
                item.expected = crc;
                items.push_back(std::move(item));
                at = end;
                continue;
            }
        }
        const size_t next = std::min(NextPreamble(data, size, start + 3), end);
        item.kind = TScanItem::TKind::CutShort;
        item.size = next - start;
        item.frameSize = start + HeaderSize <= size ? frameSize : 0;
        if (item.size >= HeaderSize)
            item.packet = PacketAt(data, start, item.size);
        else if (item.size > 3)
            item.packet.command = data[start + 3];
        items.push_back(std::move(item));
        at = next;
    }
    return items;
}
