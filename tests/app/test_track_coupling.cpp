// The mapping between an edit's value and its track bar's position.
#include "TrackCoupling.h"

#include <gtest/gtest.h>

TEST(TrackCoupling, ValueMapsOntoTheWholeTrack)
{
    EXPECT_EQ(TrackPositionFor(50, 2, 65, 1000), 762);
    EXPECT_EQ(TrackPositionFor(2, 2, 65, 1000), 0);
    EXPECT_EQ(TrackPositionFor(65, 2, 65, 1000), 1000);
    // Speed range 5 to 400: the largest value reaches the end of the track.
    EXPECT_EQ(TrackPositionFor(50, 5, 400, 1000), 114);
    EXPECT_EQ(TrackPositionFor(400, 5, 400, 1000), 1000);
}

TEST(TrackCoupling, HalvesRoundToTheEvenNeighbour)
{
    EXPECT_EQ(TrackPositionFor(0.5, 0, 8, 1000), 62);  // 62.5
    EXPECT_EQ(TrackPositionFor(1.5, 0, 8, 1000), 188); // 187.5
}

TEST(TrackCoupling, EmptyOrReversedRangeGivesPositionZero)
{
    EXPECT_EQ(TrackPositionFor(50, 0, 0, 1000), 0);
    EXPECT_EQ(TrackPositionFor(50, 65, 2, 1000), 0);
    EXPECT_EQ(TrackPositionFor(3, 5, 5, 1000), 0);
}

TEST(TrackCoupling, TrackPositionGivesValueWithOneDecimal)
{
    EXPECT_DOUBLE_EQ(static_cast<double>(EditValueFor(500, 2, 65, 1000)), 33.5);
    EXPECT_DOUBLE_EQ(static_cast<double>(EditValueFor(1000, 2, 65, 1000)), 65.0);
    EXPECT_DOUBLE_EQ(static_cast<double>(EditValueFor(0, 2, 65, 1000)), 2.0);
    EXPECT_DOUBLE_EQ(static_cast<double>(EditValueFor(333, 0, 110, 1000)), 36.6); // 36.63
}

TEST(TrackCoupling, TrackPlacedForAValueReadsItBack)
{
    // A track bar that follows its edit and is then touched where it stands
    // must not change the value (to one decimal).
    for (const double value : {2.0, 8.0, 33.5, 50.0, 64.9, 65.0}) {
        const int position = TrackPositionFor(value, 2, 65, 1000);
        EXPECT_NEAR(static_cast<double>(EditValueFor(position, 2, 65, 1000)), value, 0.05) << value;
    }
    for (const double value : {5.0, 50.0, 123.4, 400.0}) {
        const int position = TrackPositionFor(value, 5, 400, 1000);
        EXPECT_NEAR(static_cast<double>(EditValueFor(position, 5, 400, 1000)), value, 0.25) << value;
    }
}
