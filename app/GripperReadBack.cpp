#include "GripperReadBack.h"

#include "HXTForm.h"

#include <cmath>

namespace {

std::optional<float> Finite(TStat status, float value)
{
    if (status != E_SUCCESS || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}

TRunningSettings ReadRunningSettings(THXT& gripper)
{
    TRunningSettings settings;
    float acceleration = 0;
    const TStat accelerationRead = gripper.GetAcceleration(acceleration);
    settings.acceleration = Finite(accelerationRead, acceleration);
    float forceLimit = 0;
    const TStat forceLimitRead = gripper.GetForceLimit(forceLimit);
    settings.forceLimit = Finite(forceLimitRead, forceLimit);
    return settings;
}
