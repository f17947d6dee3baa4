#pragma once
// Reads the acceleration and force limit the gripper runs with after
// connecting, so that the window can show them instead of design values.
#include <optional>

class THXT;

// What the gripper runs with; empty where it refused the request or answered
// with anything but one finite float.
struct TRunningSettings {
    std::optional<float> acceleration;
    std::optional<float> forceLimit;
};

// Reads GET_ACCELERATION and GET_FORCE_LIMIT.
TRunningSettings ReadRunningSettings(THXT& gripper);
