#include "PacketDecoder.h"

#include "HXT_commands.h"
#include "convert.h"
#include "stat.h"

#include <charconv>

namespace {

// A number with two decimals and a point, whatever the locale.
std::string Fixed2(float value)
{
    char buf[64];
    const auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
    return std::string(buf, result.ptr);
}

std::string Quantity(const char* name, const uint8_t* p, const char* unit)
{
    return std::string(name) + ' ' + Fixed2(SingleAt(p)) + ' ' + unit;
}

std::string SizeMismatch(int have, int expected)
{
    return std::to_string(have) + " result bytes, " + std::to_string(expected) + " expected";
}

std::string SystemFlags(uint32_t state)
{
    std::string text;
    const auto add = [&text](const std::string& item) { text += (text.empty() ? "" : ", ") + item; };
    uint32_t named = 0;
    for (const TSysflagDescr& flag : SysflagDescr) {
        named |= flag.mask;
        if (state & flag.mask)
            add(flag.text);
    }
    for (int bit = 0; bit < 32; ++bit)
        if ((state & ~named) & (1u << bit))
            add("bit " + std::to_string(bit));
    return text.empty() ? "no flags set" : text;
}

std::string GraspingState(uint8_t state)
{
    if (state < GraspingStateCount)
        return std::string("grasping state ") + GraspingStateText[state];
    return "grasping state " + std::to_string(state);
}

std::string SystemLimits(const uint8_t* p)
{
    return Quantity("stroke", p, "mm") + ", " + Quantity("min speed", p + 4, "mm/s") + ", "
        + Quantity("max speed", p + 8, "mm/s") + ", " + Quantity("min acceleration", p + 12, "mm/s\u00B2") + ", "
        + Quantity("max acceleration", p + 16, "mm/s\u00B2") + ", " + Quantity("min force", p + 20, "N") + ", "
        + Quantity("max force", p + 24, "N");
}

std::string SystemInfo(const uint8_t* p)
{
    return "type " + std::to_string(p[0]) + ", hardware revision " + std::to_string(p[1]) + ", firmware revision "
        + std::to_string(WordAt(p + 2)) + ", serial number " + std::to_string(static_cast<uint32_t>(IntAt(p + 4)));
}

std::string GraspingStats(const uint8_t* p)
{
    return "grasps " + std::to_string(static_cast<uint32_t>(IntAt(p))) + ", not found "
        + std::to_string(WordAt(p + 4)) + ", lost " + std::to_string(WordAt(p + 6));
}

// Size the result of an answer must have and its decoding; size 0 = the
// command's answer carries no result to decode.
struct TResultLayout {
    int size = 0;
    std::string (*decode)(const uint8_t* p) = nullptr;
};

TResultLayout ResultLayout(uint8_t command)
{
    switch (command) {
    case CMD_GET_ACCELERATION:
        return {4, [](const uint8_t* p) { return Quantity("acceleration", p, "mm/s\u00B2"); }};
    case CMD_GET_FORCE_LIMIT:
        return {4, [](const uint8_t* p) { return Quantity("force limit", p, "N"); }};
    case CMD_GET_SYSTEM_STATE:
        return {4, [](const uint8_t* p) { return SystemFlags(static_cast<uint32_t>(IntAt(p))); }};
    case CMD_GET_GRASPING_STATE:
        return {1, [](const uint8_t* p) { return GraspingState(p[0]); }};
    case CMD_GET_GRASPING_STATS:
        return {8, GraspingStats};
    case CMD_GET_POS:
        return {4, [](const uint8_t* p) { return Quantity("position", p, "mm"); }};
    case CMD_GET_SPEED:
        return {4, [](const uint8_t* p) { return Quantity("speed", p, "mm/s"); }};
    case CMD_GET_FORCE:
        return {4, [](const uint8_t* p) { return Quantity("force", p, "N"); }};
    case CMD_GET_SYSINFO:
        return {8, SystemInfo};
    case CMD_GET_SYSTEM_LIMITS:
        return {32, SystemLimits};
    default:
        return {};
    }
}

std::string DecodeAnswer(uint8_t command, const uint8_t* p, int length)
{
    if (length < 2)
        return {};
    std::string text = StatusText(p[0]);
    const TResultLayout layout = ResultLayout(command);
    // An answer without result bytes (the acknowledgement of a report
    // request, for instance) says nothing beyond its status.
    if (p[0] != E_SUCCESS || layout.size == 0 || length == 2)
        return text;
    const int resultSize = length - 2;
    if (resultSize != layout.size)
        return text + "; " + SizeMismatch(resultSize, layout.size);
    return text + "; " + layout.decode(p + 2);
}

std::string DecodeRequest(uint8_t command, const uint8_t* p, int length)
{
    switch (command) {
    case CMD_GOTO:
        if (length == 9)
            return Quantity("position", p + 1, "mm") + ", " + Quantity("speed", p + 5, "mm/s");
        break;
    case CMD_GRASP_RAW:
    case CMD_RELEASE_RAW:
        if (length == 8)
            return Quantity("position", p, "mm") + ", " + Quantity("speed", p + 4, "mm/s");
        break;
    case CMD_SET_ACCELERATION:
        if (length == 4)
            return Quantity("acceleration", p, "mm/s\u00B2");
        break;
    case CMD_SET_FORCE_LIMIT:
        if (length == 4)
            return Quantity("force limit", p, "N");
        break;
    default:
        if (IsReportCommand(command) && length == 3)
            return p[0] & 0x01 ? "reports every " + std::to_string(WordAt(p + 1)) + " ms" : std::string("reports off");
        break;
    }
    return {};
}

} // namespace

std::string DecodePacket(const TPacket& packet, bool received)
{
    const uint8_t command = static_cast<uint8_t>(packet.command & 0xFF);
    const int length = packet.ValidLength();
    const uint8_t* p = packet.data.data();
    return received ? DecodeAnswer(command, p, length) : DecodeRequest(command, p, length);
}

bool IsReportCommand(uint8_t command)
{
    return command == CMD_GET_SYSTEM_STATE || command == CMD_GET_GRASPING_STATE || command == CMD_GET_POS
        || command == CMD_GET_SPEED || command == CMD_GET_FORCE;
}
