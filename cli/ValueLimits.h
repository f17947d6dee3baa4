#pragma once
// Checks the values of commands against the gripper's system limits, which
// are read once after connecting: positions and widths within the stroke,
// speeds, the acceleration and the force limit within their ranges.
#include "CliCommand.h"
#include "HXTForm.h"

// Throws TUsageError for the first value outside its range, naming the
// argument, the range and where the command was written.
void CheckCliLimits(const TCliProgram& program, const TSystemLimits& limits);
