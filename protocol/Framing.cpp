#include "Framing.h"

#include "crc.h"

TByteArray BuildFrame(uint8_t command, const uint8_t* payload, size_t count)
{
    TByteArray frame;
    frame.reserve(count + FrameOverhead);
    frame.insert(frame.end(), {0xAA, 0xAA, 0xAA, command, uint8_t(count), uint8_t(count >> 8)});
    frame.insert(frame.end(), payload, payload + count);
    const uint16_t crc = CrcBytes(frame.data(), frame.size(), 0xFFFF);
    frame.push_back(uint8_t(crc));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}

TStat FramePacket(const TPacket& p, TByteArray& frame)
{
    frame.clear();
    if (p.length < 0 || p.length > MaxPayload || static_cast<size_t>(p.length) > p.data.size())
        return E_INVALID_PARAMETER;
    frame = BuildFrame(static_cast<uint8_t>(p.command), p.data.data(), static_cast<size_t>(p.length));
    return E_SUCCESS;
}
