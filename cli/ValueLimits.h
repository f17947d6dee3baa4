#pragma once
// Checks the values of commands against the gripper's system limits, which
// are read once after connecting: positions and widths within the stroke,
// speeds, the acceleration and the force limit within their ranges. When the
// limits could not be read, or their answer was unusable, no command that
// carries such a value is sent at all.
#include "CliCommand.h"
#include "SystemRecords.h"
#include "UsageError.h"

#include <QString>

#include <optional>

// The limits a run checks its values against, or why there are none.
struct TCliLimits {
    std::optional<TSystemLimits> Limits;
    QString Unknown; // without limits: "the system limits could not be read (E_CMD_FAILED: Command failed)"
};

// A command that carries a value checked against the limits, while there
// are none: the run ends with exit status 3 (not 2) and this message.
class TLimitsUnknown : public TUsageError {
public:
    using TUsageError::TUsageError;
};

// goto, grasp, release, accel VALUE and force-limit VALUE.
bool CarriesLimitedValue(const TCliCommand& command);

// Throws TUsageError for a value outside its range, naming the argument, the
// range and where the command was written; TLimitsUnknown for a command that
// carries a value when the limits are not known.
void CheckCliLimits(const TCliCommand& command, const TCliLimits& limits);
// The same for every command of `program`, first fault first.
void CheckCliLimits(const TCliProgram& program, const TCliLimits& limits);
