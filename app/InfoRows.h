#pragma once
// The rows (description, value) that the information dialogs show for the
// gripper's system information, system limits and grasping statistics.
#include "HXTForm.h"

#include <QString>

#include <utility>
#include <vector>

using TInfoRow = std::pair<QString, QString>;
using TInfoRows = std::vector<TInfoRow>;

// The gripper type is always shown as "HXT 50"; the type byte is not shown.
TInfoRows SystemInfoRows(const TSystemInfo& info);
// Limits rounded to whole numbers with their units; the eighth value is not shown.
TInfoRows SystemLimitsRows(const TSystemLimits& limits);
TInfoRows GraspingStatsRows(const TGraspingStats& stats);
