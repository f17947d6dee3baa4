#include "InfoRows.h"

#include <cmath>

TInfoRows SystemInfoRows(const TSystemInfo& info)
{
    return {
        {QStringLiteral("Gripper type"), QStringLiteral("HXT 50")},
        {QStringLiteral("Serial number"), QString::asprintf("%.8d", info.SerialNumber)},
        {QStringLiteral("Hardware rev."), QString::number(info.HardwareRevision)},
        {QStringLiteral("Firmware rev."), QString::number(info.FirmwareRevision)},
    };
}

TInfoRows SystemLimitsRows(const TSystemLimits& limits)
{
    // Halves round away from zero (2.5 shows as 3), not to the even
    // neighbour as a bare "%.0f" would.
    const auto whole = [](float value, const char* unit) {
        return QString::asprintf("%.0f ", std::round(static_cast<double>(value))) + QString::fromUtf8(unit);
    };
    return {
        {QStringLiteral("Stroke"), whole(limits.Stroke, "mm")},
        {QStringLiteral("Minimum speed"), whole(limits.MinSpeed, "mm/s")},
        {QStringLiteral("Maximum speed"), whole(limits.MaxSpeed, "mm/s")},
        {QStringLiteral("Minimum acceleration"), whole(limits.MinAcceleration, "mm/s²")},
        {QStringLiteral("Maximum acceleration"), whole(limits.MaxAcceleration, "mm/s²")},
        {QStringLiteral("Minimum force"), whole(limits.MinForce, "N")},
        {QStringLiteral("Maximum force"), whole(limits.MaxForce, "N")},
    };
}

TInfoRows GraspingStatsRows(const TGraspingStats& stats)
{
    return {
        {QStringLiteral("Number of grasps"), QString::number(stats.NumGrasps)},
        {QStringLiteral("Number of not found parts"), QString::number(stats.NumNotFound)},
        {QStringLiteral("Number of parts lost"), QString::number(stats.NumLost)},
    };
}
