#include "SystemRecords.h"

#include "MotionRequests.h"
#include "convert.h"

bool DecodeSystemInfo(const TByteArray& payload, TSystemInfo& info)
{
    if (payload.size() != 8)
        return false;
    info.GripperType = payload[0];
    info.HardwareRevision = payload[1];
    info.FirmwareRevision = WordAt(&payload[2]);
    info.SerialNumber = IntAt(&payload[4]);
    return true;
}

bool DecodeSystemLimits(const TByteArray& payload, TSystemLimits& limits)
{
    if (payload.size() != 32)
        return false;
    const uint8_t* p = payload.data();
    limits.Stroke = SingleAt(p);
    limits.MinSpeed = SingleAt(p + 4);
    limits.MaxSpeed = SingleAt(p + 8);
    limits.MinAcceleration = SingleAt(p + 12);
    limits.MaxAcceleration = SingleAt(p + 16);
    limits.MinForce = SingleAt(p + 20);
    limits.MaxForce = SingleAt(p + 24);
    limits.Extra = SingleAt(p + 28);
    return true;
}

bool DecodeGraspingStats(const TByteArray& payload, TGraspingStats& stats)
{
    if (payload.size() != 8)
        return false;
    stats.NumGrasps = IntAt(&payload[0]);
    stats.NumNotFound = WordAt(&payload[4]);
    stats.NumLost = WordAt(&payload[6]);
    return true;
}

bool LimitsUsable(const TSystemLimits& limits) { return LimitsFault(limits).empty(); }

std::string AnswerLengthFault(size_t received, size_t expected)
{
    return "the gripper's answer carries " + std::to_string(received) + " result bytes instead of " + std::to_string(expected);
}
