#include "MotionRequests.h"

#include "SystemRecords.h"
#include "convert.h"

#include <cmath>
#include <sstream>

namespace {

void AppendFloat(TByteArray& bytes, float value)
{
    const auto b = SingleToBytes(value);
    bytes.insert(bytes.end(), b.begin(), b.end());
}

TByteArray PositionSpeed(TByteArray bytes, float position, float speed)
{
    AppendFloat(bytes, position);
    AppendFloat(bytes, speed);
    return bytes;
}

} // namespace

TValueRange RangeOf(TLimitedValue value, const TSystemLimits& l)
{
    switch (value) {
    case TLimitedValue::Position:
    case TLimitedValue::Width:
        return {0, l.Stroke, "mm"};
    case TLimitedValue::Speed:
        return {l.MinSpeed, l.MaxSpeed, "mm/s"};
    case TLimitedValue::Acceleration:
        return {l.MinAcceleration, l.MaxAcceleration, "mm/s²"};
    case TLimitedValue::Force:
        break;
    }
    return {l.MinForce, l.MaxForce, "N"};
}

std::string LimitsFault(const TSystemLimits& l)
{
    const std::pair<const char*, float> values[] = {{"the stroke", l.Stroke}, {"the minimum speed", l.MinSpeed},
        {"the maximum speed", l.MaxSpeed}, {"the minimum acceleration", l.MinAcceleration},
        {"the maximum acceleration", l.MaxAcceleration}, {"the minimum force", l.MinForce},
        {"the maximum force", l.MaxForce}, {"the eighth value", l.Extra}};
    std::ostringstream text;
    for (const auto& [name, value] : values)
        if (!std::isfinite(value)) {
            text << name << " is " << value;
            return text.str();
        }
    if (l.Stroke < 0) {
        text << "the stroke " << l.Stroke << " is negative";
        return text.str();
    }
    const std::pair<const char*, std::pair<float, float>> ranges[] = {{"speed", {l.MinSpeed, l.MaxSpeed}},
        {"acceleration", {l.MinAcceleration, l.MaxAcceleration}}, {"force", {l.MinForce, l.MaxForce}}};
    for (const auto& [name, range] : ranges)
        if (range.first > range.second) {
            text << "the minimum " << name << " " << range.first << " is above the maximum " << name << " " << range.second;
            return text.str();
        }
    return {};
}

TByteArray HomingPayload(uint8_t direction) { return {direction}; }

TByteArray GotoPayload(float position, float speed) { return PositionSpeed({0x00}, position, speed); }

TByteArray GraspPayload(float width, float speed) { return PositionSpeed({}, width, speed); }

TByteArray ReleasePayload(float width, float speed) { return PositionSpeed({}, width, speed); }
