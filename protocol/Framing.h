#pragma once
// Building a frame: preamble AA AA AA, command byte, 16-bit length, payload and
// checksum, all little-endian, in one contiguous buffer.
#include "stat.h"
#include "types.h"

#include <cstddef>
#include <cstdint>

constexpr size_t FrameOverhead = 8;
constexpr int32_t MaxPayload = 65535;

// Frames packet p into `frame` (replacing its contents). A packet that cannot
// be framed (length above 65535, negative, or larger than its data) gives
// E_INVALID_PARAMETER and leaves `frame` empty.
TStat FramePacket(const TPacket& p, TByteArray& frame);

// Frames a command byte with a payload; the payload must fit (<= 65535 bytes).
TByteArray BuildFrame(uint8_t command, const uint8_t* payload, size_t count);
