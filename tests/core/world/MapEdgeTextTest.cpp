// The Map Edge Locations text and the outside-edge conversion of Edit Map Location.
#include <gtest/gtest.h>

#include "support/ScopedLocale.h"
#include "world/DIBWorld.h"
#include "world/MapEdgeText.h"

namespace gridmorph {
namespace {

TEST(MapEdgeText, OutsideEdgesThenCentres)
{
    struct SCase {
        const char* pName;
        int nWidth, nHeight;
        double dWest, dNorth, dEast, dSouth;
        const char* pExpected;
    };
    const SCase aCases[] = {
        {"the 101 x 51 example", 101, 51, 5, 505, 1005, 5,
         "Map edge locations of the image\n\n\t\tNorth\t510.00\n\nWest\t0.00\t\tEast\t1010.00\n\n\t\tSouth\t0.00"
         "\n\n\nMap World file locations (centre pixel)\n\n"
         "\t\tNorth\t505.00\n\nWest\t5.00\t\tEast\t1005.00\n\n\t\tSouth\t5.00"},
        // One pixel wide and one high: no half pixel to add, no infinities or NaN.
        {"a single pixel", 1, 1, 512000.5, 6231000.25, 512000.5, 6231000.25,
         "Map edge locations of the image\n\n\t\tNorth\t6231000.25\n\nWest\t512000.50\t\tEast\t512000.50\n\n"
         "\t\tSouth\t6231000.25\n\n\nMap World file locations (centre pixel)\n\n"
         "\t\tNorth\t6231000.25\n\nWest\t512000.50\t\tEast\t512000.50\n\n\t\tSouth\t6231000.25"},
        // Edges from a world file have no bound: the text is never cut.
        {"huge edges", 3, 3, -1e15, 3e15, 2e15, 0,
         "Map edge locations of the image\n\n\t\tNorth\t3750000000000000.00\n\nWest\t-1750000000000000.00\t\t"
         "East\t2750000000000000.00\n\n\t\tSouth\t-750000000000000.00\n\n\nMap World file locations (centre pixel)\n\n"
         "\t\tNorth\t3000000000000000.00\n\nWest\t-1000000000000000.00\t\tEast\t2000000000000000.00\n\n"
         "\t\tSouth\t0.00"},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        CDIBWorld map;
        ASSERT_TRUE(map.CreateImage(8, aCase.nWidth, aCase.nHeight, FILL_WHITE, 0, 0, 0, nullptr));
        map.SetEdges({aCase.dWest, aCase.dNorth, aCase.dEast, aCase.dSouth});
        EXPECT_EQ(FormatMapEdgeLocations(map), aCase.pExpected);
    }
}

TEST(MapEdgeText, TwoDecimalsWithAPointUnderEveryLocale)
{
    const auto locale = test::FindCommaDecimalLocale();
    if (!locale)
        GTEST_SKIP() << "no comma-decimal locale could be made";
    test::CScopedLocale scoped(*locale);
    ASSERT_TRUE(scoped.Active());
    CDIBWorld map;
    ASSERT_TRUE(map.CreateImage(8, 2, 2, FILL_WHITE, 0, 0, 0, nullptr));
    map.SetEdges({0.5, 1.5, 1.5, 0.5});
    EXPECT_NE(FormatMapEdgeLocations(map).find("West\t0.50"), std::string::npos);
}

TEST(MapEdgeText, OutsideEdgesMoveHalfAPixelInwards)
{
    const SMapEdges centres = OutsideEdgesToCentres(101, 51, {0, 510, 1010, 0});
    EXPECT_DOUBLE_EQ(centres.dWest, 5);
    EXPECT_DOUBLE_EQ(centres.dEast, 1005);
    EXPECT_DOUBLE_EQ(centres.dSouth, 5);
    EXPECT_DOUBLE_EQ(centres.dNorth, 505);
}

TEST(MapEdgeText, OutsideEdgesOfAMapAreHalfAPixelBeyondItsCentresAndBack)
{
    CDIBWorld map;
    ASSERT_TRUE(map.CreateImage(8, 101, 51, FILL_WHITE, 0, 0, 0, nullptr));
    map.SetEdges({5, 505, 1005, 5});
    const SMapEdges outside = OutsideEdges(map);
    EXPECT_DOUBLE_EQ(outside.dWest, 0);
    EXPECT_DOUBLE_EQ(outside.dNorth, 510);
    EXPECT_DOUBLE_EQ(outside.dEast, 1010);
    EXPECT_DOUBLE_EQ(outside.dSouth, 0);
    const SMapEdges back = OutsideEdgesToCentres(101, 51, outside);
    EXPECT_DOUBLE_EQ(back.dWest, map.GetWest());
    EXPECT_DOUBLE_EQ(back.dNorth, map.GetNorth());
    EXPECT_DOUBLE_EQ(back.dEast, map.GetEast());
    EXPECT_DOUBLE_EQ(back.dSouth, map.GetSouth());
}

}  // namespace
}  // namespace gridmorph
