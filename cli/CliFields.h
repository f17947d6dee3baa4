#pragma once
// The values krm-cli prints, as named fields for both output forms: the
// records of the gripper, the state words and single readings.
#include "CliOutput.h"
#include "SystemRecords.h"

#include <vector>

std::vector<TCliField> SystemInfoFields(const TSystemInfo& info);
// Every value of the answer; the eighth (Extra, the gripper's largest force
// in overdrive mode), in JSON only.
std::vector<TCliField> SystemLimitsFields(const TSystemLimits& limits);
std::vector<TCliField> GraspingStatsFields(const TGraspingStats& stats);
// The state word in hex and the texts of its set flags.
std::vector<TCliField> SystemStateFields(uint32_t state);
// The grasping state and its text ("unknown" above 5).
std::vector<TCliField> GraspingStateFields(uint8_t state);
// A reading with its unit: "Position=12.500 mm".
TCliField ReadingField(const QString& name, float value, const char* unit);
// Bytes in hex separated by blanks: "47 52 49".
QString HexText(const uint8_t* bytes, size_t count);
inline QString HexText(const TByteArray& bytes) { return HexText(bytes.data(), bytes.size()); }
