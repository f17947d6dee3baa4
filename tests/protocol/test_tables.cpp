#include "HXT_commands.h"
#include "stat.h"

#include <gtest/gtest.h>

TEST(StatusText, KnownCodesAndFallbacks)
{
    EXPECT_EQ(StatusText(E_SUCCESS), "No error");
    EXPECT_EQ(StatusText(E_CMD_PENDING), "Command pending...");
    EXPECT_EQ(StatusText(E_IO_ERROR), "General I/O-Error");
    EXPECT_EQ(StatusText(E_FILE_EXISTS), "File already exists");
    // Code 2 has a name but no text of its own.
    EXPECT_EQ(StatusText(E_NO_SENSOR), "Internal error, unknown error code (2)");
    EXPECT_EQ(StatusText(32), "Internal error, unknown error code (32)");
    EXPECT_EQ(StatusText(255), "Internal error, unknown error code (255)");
}

TEST(StatusName, NamesFollowTheEnumerationOrder)
{
    EXPECT_EQ(StatusName(0), "E_SUCCESS");
    EXPECT_EQ(StatusName(2), "E_NO_SENSOR");
    EXPECT_EQ(StatusName(E_AXIS_BLOCKED), "E_AXIS_BLOCKED");
    EXPECT_EQ(StatusName(31), "E_FILE_EXISTS");
    EXPECT_EQ(StatusName(200), "200");
}

TEST(CommandName, LooksUpTheTableOrFallsBack)
{
    EXPECT_EQ(CommandName(0x20), "HOMING");
    EXPECT_EQ(CommandName(0x25), "GRASP_RAW");
    EXPECT_EQ(CommandName(0x53), "GET_SYSTEM_LIMITS");
    EXPECT_EQ(CommandName(0x29), "unknown ID(41)");
    EXPECT_EQ(CommandName(0), "unknown ID(0)");
}

TEST(ProtocolTables, CommandIdsAreUniqueAndFlagsCoverNoReservedBits)
{
    for (size_t i = 0; i < CommandIDs.size(); ++i)
        for (size_t j = i + 1; j < CommandIDs.size(); ++j)
            EXPECT_NE(CommandIDs[i].id, CommandIDs[j].id) << CommandIDs[i].name;

    uint32_t allMasks = 0;
    for (const TSysflagDescr& flag : SysflagDescr) {
        EXPECT_EQ(flag.mask & (flag.mask - 1), 0u) << flag.text << " is not a single bit";
        EXPECT_EQ(allMasks & flag.mask, 0u) << flag.text << " repeats a bit";
        allMasks |= flag.mask;
    }
    // Bits 9 to 11 and 21 to 31 have no flag, so a word with only them set
    // ticks nothing.
    EXPECT_EQ(allMasks & 0xE00u, 0u);
    EXPECT_EQ(allMasks & 0xFFE00000u, 0u);
    EXPECT_EQ(allMasks, 0x1FF1FFu);
    EXPECT_STREQ(GraspingStateText[4], "holding");
}
