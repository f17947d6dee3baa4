#pragma once
// Unbounded indexed list of packet copies in insertion order. The entries
// live in blocks that never move, so adding costs the same however many
// entries the list already holds.
#include "types.h"

#include <deque>

class TPacketList {
public:
    // Appends a copy of p and returns its index.
    int Add(const TPacket& p);
    // Appends p itself, its length limited to the data it has.
    int Add(TPacket&& p);
    // Copies entry `index` into p; throws std::out_of_range for a bad index.
    void Get(int index, TPacket& p) const;
    // Direct read access to an entry; throws std::out_of_range for a bad index.
    const TPacket& At(int index) const;
    void Delete(int index);
    void Clear() { FEntries.clear(); }
    int Count() const { return static_cast<int>(FEntries.size()); }

private:
    void CheckIndex(int index) const;
    std::deque<TPacket> FEntries;
};
