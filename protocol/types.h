#pragma once
// The byte array and the in-memory packet that all protocol layers pass around.
#include <cstddef>
#include <cstdint>
#include <vector>

using TByteArray = std::vector<uint8_t>;

// One protocol packet without its frame (preamble, length field, checksum).
// `length` is authoritative: readers take exactly `length` bytes of `data`.
struct TPacket {
    uint32_t command = 0; // command byte in the low 8 bits
    int32_t length = 0;   // payload bytes
    TByteArray data;      // request parameters, or status word + result bytes

    // Number of payload bytes that really exist: `length`, limited to the
    // array's size and never negative, so no reader goes past the data.
    int32_t ValidLength() const
    {
        if (length <= 0)
            return 0;
        return data.size() < static_cast<size_t>(length) ? static_cast<int32_t>(data.size()) : length;
    }
};

// Direction mark the command log sets on its own copies of received packets.
constexpr uint32_t PacketReceivedMark = 0x40000000;
