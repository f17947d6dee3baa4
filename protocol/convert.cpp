#include "convert.h"

#include <bit>

uint16_t BytesToWord(uint8_t b0, uint8_t b1)
{
    return static_cast<uint16_t>(b0 | (b1 << 8));
}

int32_t BytesToInt(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    const uint32_t v = uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | uint32_t(b3) << 24;
    return static_cast<int32_t>(v);
}

float BytesToSingle(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3)
{
    return std::bit_cast<float>(static_cast<uint32_t>(BytesToInt(b0, b1, b2, b3)));
}

std::array<uint8_t, 4> SingleToBytes(float x)
{
    const uint32_t v = std::bit_cast<uint32_t>(x);
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

int32_t SingleToInt(float x)
{
    return std::bit_cast<int32_t>(x);
}
