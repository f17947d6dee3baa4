#pragma once
// Bounded first-in first-out queue of received packets.
#include "types.h"

#include <deque>

class TPacketBuffer {
public:
    explicit TPacketBuffer(int maxPackets) : FMaxPackets(maxPackets) {}

    int Count() const { return static_cast<int>(FEntries.size()); }
    int MaxPackets() const { return FMaxPackets; }
    // Appends a copy of p; false (nothing stored) when MaxPackets are waiting.
    bool Push(const TPacket& p);
    // The same, taking over p's bytes instead of copying them.
    bool Push(TPacket&& p);
    // Moves the oldest packet into p; false (p untouched) when empty.
    bool Pop(TPacket& p);
    void Clear() { FEntries.clear(); }

private:
    int FMaxPackets;
    std::deque<TPacket> FEntries;
};

// A copy of p that holds exactly the payload bytes that exist: a length
// larger than the data, or negative, never makes a reader go past the data.
TPacket CopyPacket(const TPacket& p);

// Writes entry into p the way the packet stores hand packets out: command and
// length always, the data only when there is a payload.
void AssignPacket(const TPacket& entry, TPacket& p);
