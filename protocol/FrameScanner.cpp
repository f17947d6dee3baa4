#include "FrameScanner.h"

#include "Framing.h"
#include "crc.h"

#include <algorithm>
#include <optional>

namespace {

constexpr uint8_t Preamble = 0xAA;
constexpr size_t HeaderSize = 6; // preamble, command byte, length

// Whether a preamble starts at `at`: the last three of a run of AA bytes, so
// AA AA AA AA 20 is one stray byte before the frame of command 20h. Nothing
// when the bytes after it are needed and not there yet (`final`: the
// stream ends with `size`).
std::optional<bool> PreambleAt(const uint8_t* data, size_t size, size_t at, bool final)
{
    for (size_t i = at; i < at + 3; ++i) {
        if (i >= size)
            return final ? std::optional(false) : std::nullopt;
        if (data[i] != Preamble)
            return false;
    }
    if (at + 3 >= size)
        return final ? std::optional(true) : std::nullopt;
    return data[at + 3] != Preamble;
}

// The next preamble at or after `from`; `size` when there is none; nothing
// when the first candidate is undecided (then `undecided` is where it is).
std::optional<size_t> NextPreamble(const uint8_t* data, size_t size, size_t from, bool final, size_t& undecided)
{
    for (; from < size; ++from) {
        const std::optional<bool> found = PreambleAt(data, size, from, final);
        if (!found) {
            undecided = from;
            return std::nullopt;
        }
        if (*found)
            return from;
    }
    return size;
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

void TFrameScanner::Feed(const uint8_t* data, size_t size, std::vector<TScanItem>& items)
{
    // Decided bytes are dropped before new ones come, so the buffer holds
    // only the undecided rest.
    if (FAt > 0) {
        FBuffer.erase(FBuffer.begin(), FBuffer.begin() + static_cast<std::ptrdiff_t>(FAt));
        FBase += FAt;
        FAt = 0;
    }
    FBuffer.insert(FBuffer.end(), data, data + size);
    Scan(false, items);
}

void TFrameScanner::Finish(std::vector<TScanItem>& items)
{
    Scan(true, items);
    CloseBetween(items);
}

void TFrameScanner::AddBetween(size_t from, size_t to)
{
    if (from >= to)
        return;
    if (FBetween.size == 0) {
        FBetween = {};
        FBetween.kind = TScanItem::TKind::BetweenFrames;
        FBetween.offset = FBase + from;
    }
    const size_t keep = std::min(to - from, KeptBetweenBytes - std::min(KeptBetweenBytes, FBetween.packet.data.size()));
    FBetween.packet.data.insert(FBetween.packet.data.end(), FBuffer.begin() + static_cast<std::ptrdiff_t>(from),
                                FBuffer.begin() + static_cast<std::ptrdiff_t>(from + keep));
    FBetween.size += to - from;
    FBetween.packet.length = static_cast<int32_t>(std::min<size_t>(FBetween.size, INT32_MAX));
}

void TFrameScanner::CloseBetween(std::vector<TScanItem>& items)
{
    if (FBetween.size == 0)
        return;
    items.push_back(std::move(FBetween));
    FBetween = {};
}

void TFrameScanner::Scan(bool final, std::vector<TScanItem>& items)
{
    const uint8_t* data = FBuffer.data();
    const size_t size = FBuffer.size();
    while (FAt < size) {
        size_t undecided = size;
        const std::optional<size_t> next = NextPreamble(data, size, FAt, final, undecided);
        const size_t start = next.value_or(undecided);
        AddBetween(FAt, start);
        FAt = start;
        if (!next || start >= size)
            return;
        CloseBetween(items);
        // A frame ends at its checksum, unless the stream or the next
        // preamble ends it first: a preamble inside a frame whose checksum
        // does not match starts the next frame.
        const bool header = start + HeaderSize <= size;
        const size_t length = header ? (data[start + 4] | (data[start + 5] << 8)) : 0;
        const size_t frameSize = length + FrameOverhead;
        const size_t end = start + frameSize;
        if (!final && (!header || end > size))
            return; // the frame is not whole yet
        TScanItem item;
        item.offset = FBase + start;
        if (header && end <= size) {
            item.packet = PacketAt(data, start, frameSize);
            const uint16_t crc = CrcBytes(data + start, HeaderSize + length, 0xFFFF);
            const uint16_t received = static_cast<uint16_t>(data[end - 2] | (data[end - 1] << 8));
            if (crc == received) {
                item.size = frameSize;
                items.push_back(std::move(item));
                FAt = end;
                continue;
            }
            size_t inside = size;
            const std::optional<size_t> following = NextPreamble(data, size, start + 3, final, inside);
            if (!following && inside < end)
                return; // whether a preamble starts inside depends on later bytes
            if (!following || *following >= end) {
                item.kind = TScanItem::TKind::ChecksumMismatch;
                item.size = frameSize;
                item.checksum = received;
                item.expected = crc;
                items.push_back(std::move(item));
                FAt = end;
                continue;
            }
        }
        size_t unused = size;
        const size_t cut = std::min(NextPreamble(data, size, start + 3, true, unused).value_or(size), end);
        item.kind = TScanItem::TKind::CutShort;
        item.size = cut - start;
        item.frameSize = header ? frameSize : 0;
        item.bytes.assign(data + start, data + cut);
        if (item.size >= HeaderSize)
            item.packet = PacketAt(data, start, item.size);
        else if (item.size > 3)
            item.packet.command = data[start + 3];
        items.push_back(std::move(item));
        FAt = cut;
    }
}

std::vector<TScanItem> ScanFrames(const uint8_t* data, size_t size)
{
    TFrameScanner scanner;
    std::vector<TScanItem> items;
    scanner.Feed(data, size, items);
    scanner.Finish(items);
    return items;
}
