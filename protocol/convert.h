#pragma once
// Little-endian conversions between payload bytes and numbers; reals are
// IEEE 754 single precision.
#include <array>
#include <cstdint>

uint16_t BytesToWord(uint8_t b0, uint8_t b1);
int32_t BytesToInt(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);
float BytesToSingle(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);
std::array<uint8_t, 4> SingleToBytes(float x);
int32_t SingleToInt(float x);

// Readers of a byte run at an offset; the caller checks the length first.
inline uint16_t WordAt(const uint8_t* p) { return BytesToWord(p[0], p[1]); }
inline int32_t IntAt(const uint8_t* p) { return BytesToInt(p[0], p[1], p[2], p[3]); }
inline float SingleAt(const uint8_t* p) { return BytesToSingle(p[0], p[1], p[2], p[3]); }
