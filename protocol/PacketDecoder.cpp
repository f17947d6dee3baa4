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
        + Quantity("max force", p + 24, "N") + ", " + Quantity("extra", p + 28, "N");
}

std::string SystemInfo(const uint8_t* p)
{
    return "type " + std::to_string(p[0]) + ", hardware revision " + std::to_string(p[1]) + ", firmware revision "
        + std::to_string(WordAt(p + 2)) + ", serial number " + std::to_string(static_cast<uint32_t>(IntAt(p + 4)));
}

// Text bytes in double quotes; bytes outside printable ASCII as \xNN.
std::string QuotedText(const uint8_t* p, int length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text = "\"";
    for (int i = 0; i < length; ++i) {
        const uint8_t b = p[i];
        if (b >= 0x20 && b < 0x7F && b != '"' && b != '\\') {
            text += static_cast<char>(b);
        } else {
            text += "\\x";
            text += digits[b >> 4];
            text += digits[b & 0x0F];
        }
    }
    return text + '"';
}

std::string SoftLimits(const uint8_t* p)
{
    return Quantity("minus", p, "mm") + ", " + Quantity("plus", p + 4, "mm");
}

std::string GraspingStats(const uint8_t* p)
{
    return "grasps " + std::to_string(static_cast<uint32_t>(IntAt(p))) + ", not found "
        + std::to_string(WordAt(p + 4)) + ", lost " + std::to_string(WordAt(p + 6));
}

// Size the result of an answer must have and its decoding; size 0 = the
// command's answer carries no result to decode, AnySize = any size.
constexpr int AnySize = -1;
struct TResultLayout {
    int size = 0;
    std::string (*decode)(const uint8_t* p, int size) = nullptr;
};

template <std::string (*Decode)(const uint8_t*)> std::string Fixed(const uint8_t* p, int) { return Decode(p); }

TResultLayout ResultLayout(uint8_t command)
{
    switch (command) {
    case CMD_GET_ACCELERATION:
        return {4, [](const uint8_t* p, int) { return Quantity("acceleration", p, "mm/s\u00B2"); }};
    case CMD_GET_FORCE_LIMIT:
        return {4, [](const uint8_t* p, int) { return Quantity("force limit", p, "N"); }};
    case CMD_GET_SOFT_LIMITS:
        return {8, Fixed<SoftLimits>};
    case CMD_GET_SYSTEM_STATE:
        return {4, [](const uint8_t* p, int) { return SystemFlags(static_cast<uint32_t>(IntAt(p))); }};
    case CMD_GET_GRASPING_STATE:
        return {1, [](const uint8_t* p, int) { return GraspingState(p[0]); }};
    case CMD_GET_GRASPING_STATS:
        return {8, Fixed<GraspingStats>};
    case CMD_GET_POS:
        return {4, [](const uint8_t* p, int) { return Quantity("position", p, "mm"); }};
    case CMD_GET_SPEED:
        return {4, [](const uint8_t* p, int) { return Quantity("speed", p, "mm/s"); }};
    case CMD_GET_FORCE:
        return {4, [](const uint8_t* p, int) { return Quantity("force", p, "N"); }};
    case CMD_GET_SYSINFO:
        return {8, Fixed<SystemInfo>};
    case CMD_GET_DEVICE_TAG:
        return {AnySize, [](const uint8_t* p, int size) { return "tag " + QuotedText(p, size); }};
    case CMD_GET_SYSTEM_LIMITS:
        return {32, Fixed<SystemLimits>};
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
    if (layout.size != AnySize && resultSize != layout.size)
        return text + "; " + SizeMismatch(resultSize, layout.size);
    return text + "; " + layout.decode(p + 2, resultSize);
}

std::string DecodeRequest(uint8_t command, const uint8_t* p, int length)
{
    switch (command) {
    case CMD_HOMING:
        if (length == 1)
            return "direction " + std::to_string(p[0]);
        break;
    case CMD_GOTO:
        if (length == 9)
            return std::string(p[0] & 0x01 ? "relative " : "") + Quantity("position", p + 1, "mm") + ", "
                + Quantity("speed", p + 5, "mm/s");
        break;
    case CMD_FAST_STOP_ACK:
    case CMD_SET_DEVICE_TAG:
        if (length > 0)
            return (command == CMD_SET_DEVICE_TAG ? "tag " : "") + QuotedText(p, length);
        break;
    case CMD_GRASP_PROFILE:
        if (length == 16)
            return Quantity("width", p, "mm") + ", " + Quantity("speed", p + 4, "mm/s") + ", "
                + Quantity("acceleration", p + 8, "mm/s\u00B2") + ", " + Quantity("force", p + 12, "N");
        break;
    case CMD_RELEASE_PROFILE:
        if (length == 12)
            return Quantity("width", p, "mm") + ", " + Quantity("speed", p + 4, "mm/s") + ", "
                + Quantity("acceleration", p + 8, "mm/s\u00B2");
        break;
    case CMD_SET_SOFT_LIMITS:
        if (length == 8)
            return SoftLimits(p);
        break;
    case CMD_OVERDRIVE_MODE:
        if (length == 1)
            return p[0] == 0 ? "overdrive off" : p[0] == 1 ? "overdrive on" : "overdrive " + std::to_string(p[0]);
        break;
    case CMD_GET_GRASPING_STATS:
        if (length == 1)
            return p[0] == 0 ? "read" : p[0] == 1 ? "read and reset" : "reset byte " + std::to_string(p[0]);
        break;
    case CMD_GRASP_RAW:
    case CMD_RELEASE_RAW:
        if (length == 8)
            return Quantity("width", p, "mm") + ", " + Quantity("speed", p + 4, "mm/s");
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
