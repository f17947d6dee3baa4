#pragma once
// What the library, krm-cli and the window share about the values they send:
// the ranges of the gripper's limits that each kind of value must lie in, and
// the payloads of the motion commands.
#include "types.h"

#include <cstdint>
#include <string>

struct TSystemLimits;

// A value checked against the gripper's limits.
enum class TLimitedValue { Position, Width, Speed, Acceleration, Force };

struct TValueRange {
    double Min = 0;
    double Max = 0;
    const char* Unit = "";

    // Within [Min, Max]; a NaN is not.
    bool Holds(double value) const { return value >= Min && value <= Max; }
};

// The range of `value` under `limits`: positions and widths from 0 to the
// stroke, speeds, accelerations and forces between their minimum and maximum.
TValueRange RangeOf(TLimitedValue value, const TSystemLimits& limits);

// Why limits cannot be used to check values ("the stroke is not a number",
// "the minimum speed 50 is above the maximum speed 20"); empty when usable.
std::string LimitsFault(const TSystemLimits& limits);

// The payloads of the motion commands. Positions, widths and speeds as
// little-endian single-precision floats.
TByteArray HomingPayload(uint8_t direction);
TByteArray GotoPayload(float position, float speed); // absolute
TByteArray GraspPayload(float width, float speed);
TByteArray ReleasePayload(float width, float speed);
