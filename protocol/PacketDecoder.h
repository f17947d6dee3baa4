#pragma once
// The meaning of a packet in words, for logs and command-line tools: the
// status text of an answer and its result fields by name ("No error;
// position 12.50 mm"), and the parameters of the requests the program sends.
#include "types.h"

#include <cstdint>
#include <string>

// Decodes a packet's payload. Returns an empty string when there is nothing
// to say (a request without decodable parameters, an answer without status).
// Result fields are decoded only when the status is E_SUCCESS; a result of
// the wrong size is named as such instead of being decoded.
std::string DecodePacket(const TPacket& packet, bool received);

// True for the command bytes the gripper also sends as reports of its own
// (system state, grasping state, position, speed, force).
bool IsReportCommand(uint8_t command);
