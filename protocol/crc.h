#pragma once
// The frame checksum: a CRC-16 with polynomial 0x1021 whose table is built
// most-significant-bit first, driven by a right-shifting register.
#include <array>
#include <cstddef>
#include <cstdint>

extern const std::array<uint16_t, 256> CrcTable;

inline uint16_t CrcUpdate(uint8_t b, uint16_t crc)
{
    return static_cast<uint16_t>(CrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8));
}

// Folds `count` bytes of `data` into `crc`, in order.
uint16_t CrcBlock(const uint8_t* data, uint16_t count, uint16_t crc);

// The same over any number of bytes (whole frames are longer than 65535).
uint16_t CrcBytes(const uint8_t* data, size_t count, uint16_t crc);

// Register value after folding the preamble AA AA AA into 0xFFFF.
constexpr uint16_t CrcAfterPreamble = 0x50F5;
