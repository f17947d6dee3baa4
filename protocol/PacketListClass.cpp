#include "PacketListClass.h"

#include "PacketBufferClass.h"

#include <stdexcept>
#include <string>

int TPacketList::Add(const TPacket& p)
{
    FEntries.push_back(CopyPacket(p));
    return Count() - 1;
}

int TPacketList::Add(TPacket&& p)
{
    p.length = p.ValidLength();
    p.data.resize(static_cast<size_t>(p.length));
    FEntries.push_back(std::move(p));
    return Count() - 1;
}

void TPacketList::CheckIndex(int index) const
{
    if (index < 0 || index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
}

void TPacketList::Get(int index, TPacket& p) const
{
    AssignPacket(At(index), p);
}

const TPacket& TPacketList::At(int index) const
{
    CheckIndex(index);
    return FEntries[static_cast<size_t>(index)];
}

void TPacketList::Delete(int index)
{
    CheckIndex(index);
    FEntries.erase(FEntries.begin() + index);
}
