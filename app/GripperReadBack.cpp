#include "GripperReadBack.h"

#include "FloatEdit.h"
#include "HXTForm.h"

#include <cmath>

namespace {

void Show(TFloatEdit& edit, float value)
{
    if (!std::isfinite(value))
        return;
    // Three decimals keep the float's noise digits (33.2999992...) out of the
    // edit; the float sent back by "Apply" is the same.
    edit.SetValue(std::round(static_cast<double>(value) * 1000.0) / 1000.0);
}

}

void ReadBackSettings(THXT& gripper, TFloatEdit& acceleration, TFloatEdit& forceLimit)
{
    float value = 0;
    if (gripper.GetAcceleration(value) == E_SUCCESS)
        Show(acceleration, value);
    if (gripper.GetForceLimit(value) == E_SUCCESS)
        Show(forceLimit, value);
}
