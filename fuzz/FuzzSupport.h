#pragma once
// What the fuzz targets share: a property check that names itself before the
// fuzzer saves the input, and a reader that takes the fuzzer's bytes in order
// (zeros once they run out).
#include "types.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define Check(condition) \
    do { \
        if (!(condition)) { \
            std::fprintf(stderr, "property broken at line %d: %s\n", __LINE__, #condition); \
            std::abort(); \
        } \
    } while (false)

struct Reader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;
    bool More() const { return at < size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    TByteArray Bytes(size_t n)
    {
        n = std::min(n, size - at);
        TByteArray out(data + at, data + at + n);
        at += n;
        return out;
    }
};
