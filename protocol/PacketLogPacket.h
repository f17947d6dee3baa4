#pragma once
// A packet as the library's packet observers see it, written as a row of
// the CSV packet log: the library's own log and krm-cli's --log alike.
#include "PacketLogCsv.h"

#include <krm/krm.hpp>

inline bool WritePacketRow(TPacketLogFile& log, const krm::Packet& packet)
{
    TPacket frame;
    frame.command = packet.command;
    frame.length = static_cast<int32_t>(packet.payload.size());
    frame.data.assign(packet.payload.begin(), packet.payload.end());
    const TLogFault fault = (packet.faults & krm::Packet::checksum) != 0 ? TLogFault::Checksum
        : (packet.faults & krm::Packet::stray_bytes) != 0                ? TLogFault::Stray
                                                                          : TLogFault::None;
    return log.Write(frame, packet.direction == krm::Packet::Direction::received, fault);
}
