#pragma once
// Unbounded indexed list of packet copies in insertion order.
#include "types.h"

#include <vector>

class TPacketList {
public:
    // Appends a copy of p and returns its index.
    int Add(const TPacket& p);
    // Copies entry `index` into p; throws std::out_of_range for a bad index.
    void Get(int index, TPacket& p) const;
    // Direct read access to an entry; throws std::out_of_range for a bad index.
    const TPacket& At(int index) const;
    void Delete(int index);
    void Clear() { FEntries.clear(); }
    int Count() const { return static_cast<int>(FEntries.size()); }

private:
    void CheckIndex(int index) const;
    std::vector<TPacket> FEntries;
};
