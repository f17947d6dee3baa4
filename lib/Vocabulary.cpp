// The names and texts of the protocol's codes, from the protocol tables.
#include <krm/krm.hpp>

#include "HXT_commands.h"
#include "stat.h"

namespace krm {

std::string version() { return KRM_LIBRARY_VERSION; }

std::string status_name(Status status)
{
    const auto code = static_cast<std::uint8_t>(status);
    return code < StatCount ? StatusName(code) : "E_UNKNOWN_" + std::to_string(code);
}

std::string status_text(Status status) { return StatusText(static_cast<std::uint8_t>(status)); }

std::string grasping_state_text(GraspingState state)
{
    const auto value = static_cast<std::size_t>(state);
    if (value < GraspingStateText.size())
        return GraspingStateText[value];
    return "unknown (" + std::to_string(value) + ")";
}

std::vector<std::string> flag_texts(std::uint32_t state_flags)
{
    std::vector<std::string> texts;
    for (const TSysflagDescr& flag : SysflagDescr)
        if ((state_flags & flag.mask) != 0)
            texts.emplace_back(flag.text);
    return texts;
}

std::string motion_name(MotionKind kind)
{
    switch (kind) {
    case MotionKind::home:
        return "home";
    case MotionKind::move:
        return "move";
    case MotionKind::grasp:
        return "grasp";
    case MotionKind::release:
        return "release";
    case MotionKind::raw:
        break;
    }
    return "raw";
}

} // namespace krm
