#include "PacketBufferClass.h"

TPacket CopyPacket(const TPacket& p)
{
    TPacket copy;
    copy.command = p.command;
    copy.length = p.ValidLength();
    copy.data.assign(p.data.begin(), p.data.begin() + copy.length);
    return copy;
}

void AssignPacket(const TPacket& entry, TPacket& p)
{
    p.command = entry.command;
    p.length = entry.length;
    if (entry.length > 0)
        p.data = entry.data;
}

bool TPacketBuffer::Push(const TPacket& p)
{
    if (Count() >= FMaxPackets)
        return false;
    FEntries.push_back(CopyPacket(p));
    return true;
}

bool TPacketBuffer::Push(TPacket&& p)
{
    if (Count() >= FMaxPackets)
        return false;
    p.length = p.ValidLength();
    p.data.resize(static_cast<size_t>(p.length));
    FEntries.push_back(std::move(p));
    return true;
}

bool TPacketBuffer::Pop(TPacket& p)
{
    if (FEntries.empty())
        return false;
    AssignPacket(FEntries.front(), p);
    FEntries.pop_front();
    return true;
}
