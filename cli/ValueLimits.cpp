#include "ValueLimits.h"

#include "UsageError.h"

#include <iterator>

namespace {

struct TRange {
    const char* Name;
    float Min;
    float Max;
    const char* Unit;
};

void Check(const TCliCommand& command, size_t index, const TRange& range)
{
    if (index >= command.Values.size())
        return;
    // Only a value within a float range is ever converted to float.
    const double value = command.Values[index];
    if (value >= range.Min && value <= range.Max)
        return;
    throw TUsageError(QStringLiteral("%1: %2: %3 %4 is outside the gripper's range %5 to %6 %7")
                          .arg(command.Where, command.Name, QLatin1String(range.Name), command.Args[static_cast<qsizetype>(index)])
                          .arg(range.Min)
                          .arg(range.Max)
                          .arg(QString::fromUtf8(range.Unit)));
}

} // namespace

bool CarriesLimitedValue(const TCliCommand& command)
{
    switch (command.Verb) {
    case TCliVerb::Goto:
    case TCliVerb::Grasp:
    case TCliVerb::Release:
        return true;
    case TCliVerb::Accel:
    case TCliVerb::ForceLimit:
        return command.HasValue();
    default:
        return false;
    }
}

void CheckCliLimits(const TCliCommand& command, const TCliLimits& known)
{
    if (!CarriesLimitedValue(command))
        return;
    if (!known.Limits)
        throw TLimitsUnknown(QStringLiteral("%1: %2: not sent: its values cannot be checked, because %3")
                                 .arg(command.Where, command.Text(), known.Unknown));
    const TSystemLimits& limits = *known.Limits;
    const TRange speed{"SPEED", limits.MinSpeed, limits.MaxSpeed, "mm/s"};
    switch (command.Verb) {
    case TCliVerb::Goto:
        Check(command, 0, {"POSITION", 0, limits.Stroke, "mm"});
        Check(command, 1, speed);
        break;
    case TCliVerb::Grasp:
    case TCliVerb::Release:
        Check(command, 0, {"WIDTH", 0, limits.Stroke, "mm"});
        Check(command, 1, speed);
        break;
    case TCliVerb::Accel:
        Check(command, 0, {"VALUE", limits.MinAcceleration, limits.MaxAcceleration, "mm/s²"});
        break;
    case TCliVerb::ForceLimit:
        Check(command, 0, {"VALUE", limits.MinForce, limits.MaxForce, "N"});
        break;
    default:
        break;
    }
}

void CheckCliLimits(const TCliProgram& program, const TCliLimits& limits)
{
    for (const TCliStep& step : program)
        if (step.Kind == TCliStepKind::Command)
            CheckCliLimits(step.Command, limits);
}
