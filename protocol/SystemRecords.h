#pragma once
// The records of the gripper's longer answers and their decoding, shared by
// every front end. Standard library only.
#include "types.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Answer of GET_SYSINFO (0x50).
struct TSystemInfo {
    uint8_t GripperType = 0;
    int32_t HardwareRevision = 0;
    int32_t FirmwareRevision = 0;
    int32_t SerialNumber = 0;
};

// Answer of GET_SYSTEM_LIMITS (0x53): mm, mm/s, mm/s², N.
struct TSystemLimits {
    float Stroke = 0;
    float MinSpeed = 0;
    float MaxSpeed = 0;
    float MinAcceleration = 0;
    float MaxAcceleration = 0;
    float MinForce = 0;
    float MaxForce = 0;
    float Extra = 0; // stored, not used
};

// Answer of GET_GRASPING_STATS (0x42).
struct TGraspingStats {
    int32_t NumGrasps = 0;
    int32_t NumNotFound = 0;
    int32_t NumLost = 0;
};

// The answers' payloads as records; false when the payload has another size
// than the command's answer.
bool DecodeSystemInfo(const TByteArray& payload, TSystemInfo& info);
bool DecodeSystemLimits(const TByteArray& payload, TSystemLimits& limits);
bool DecodeGraspingStats(const TByteArray& payload, TGraspingStats& stats);
// Limits that values can be checked against: every field finite, the stroke
// not negative and no range upside down.
bool LimitsUsable(const TSystemLimits& limits);

// What is wrong with an answer of `received` result bytes where `expected`
// were due: "the gripper's answer carries 3 result bytes instead of 4".
std::string AnswerLengthFault(size_t received, size_t expected);
