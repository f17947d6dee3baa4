#pragma once
// Answer packets: the status word, low byte first, followed by result bytes,
// and the little-endian numbers that make up results.
#include "convert.h"
#include "stat.h"
#include "types.h"

#include <array>
#include <cstdint>

// Appends little-endian numbers to a result.
inline void PutFloat(TByteArray& out, float v)
{
    const auto b = SingleToBytes(v);
    out.insert(out.end(), b.begin(), b.end());
}

inline void PutWord(TByteArray& out, uint16_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

inline void PutInt(TByteArray& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(uint8_t(v >> (8 * i)));
}

inline TPacket MakeAnswer(uint8_t command, uint16_t status, const TByteArray& result = {})
{
    TPacket p;
    p.command = command;
    p.data.reserve(result.size() + 2);
    PutWord(p.data, status);
    p.data.insert(p.data.end(), result.begin(), result.end());
    p.length = static_cast<int32_t>(p.data.size());
    return p;
}
