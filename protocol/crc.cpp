#include "crc.h"

namespace {

constexpr std::array<uint16_t, 256> MakeCrcTable()
{
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            r = (r & 0x8000) ? ((r << 1) ^ 0x1021) : (r << 1);
        table[i] = static_cast<uint16_t>(r);
    }
    return table;
}

} // namespace

const std::array<uint16_t, 256> CrcTable = MakeCrcTable();

uint16_t CrcBlock(const uint8_t* data, uint16_t count, uint16_t crc)
{
    return CrcBytes(data, count, crc);
}

uint16_t CrcBytes(const uint8_t* data, size_t count, uint16_t crc)
{
    for (size_t i = 0; i < count; ++i)
        crc = CrcUpdate(data[i], crc);
    return crc;
}
