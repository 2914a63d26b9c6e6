// The Stain module on a real 8-bit surface: nodes and their colours, ring
// growth from the centre line, the pixel functions' zero points, restarts.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "modules/generators.h"
#include "runtime/common.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <set>

namespace {

enum { NODES = 0, FOLDING = 1, TYPE = 2, DURATION = 3, X_TILING = 10, Y_TILING = 11, TILE_TYPE = 12 };

class Stain : public ModuleFixture {
protected:
    Stain() : ModuleFixture({MODULE_STAIN, StainOpen, StainStart, StainFrame, StainClose}) {}

    void Open(int w, int h) { OpenSurface(w, h, 3000); }
    // 1 when exactly the pixels of the rectangle (inclusive) are painted.
    int PaintedExactly(int left, int top, int right, int bottom)
    {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                bool inside = x >= left && x <= right && y >= top && y <= bottom;
                if ((SurfaceByte(&surface, x, y) != 0) != inside)
                    return 0;
            }
        return 1;
    }
};

TEST_F(Stain, EvenNodesTakeTheTopOfThePaletteOddNodesTheBottom)
{
    Open(120, 90);
    record->value[NODES] = 4;
    Begin(31);
    std::set<int> evenColours, oddColours;
    for (int picture = 0; picture < 80; ++picture) {
        StainStart(record);
        const StainState* st = CurrentStainState();
        ASSERT_EQ(st->nodeCount, 4);
        for (int k = 0; k < 4; ++k) {
            const StainNode* node = &st->nodes[k];
            if (k % 2 == 0) {
                ASSERT_GE(node->colour, 177);
                ASSERT_LE(node->colour, 235);
                evenColours.insert(node->colour);
            } else {
                ASSERT_GE(node->colour, 0);
                ASSERT_LE(node->colour, 58);
                oddColours.insert(node->colour);
            }
            ASSERT_GE(node->x, 4);
            ASSERT_LE(node->x, 119 - 5);
            ASSERT_GE(node->y, 4);
            ASSERT_LE(node->y, 89 - 5);
        }
    }
    EXPECT_GT(evenColours.size(), 40u);
    EXPECT_GT(oddColours.size(), 40u);
}

TEST_F(Stain, RandomTypeAlsoDrawsTheNodeCount)
{
    Open(64, 48);
    record->value[NODES] = 4;
    record->value[TYPE] = 10;
    Begin(8);
    std::set<int> types, counts;
    for (int picture = 0; picture < 60; ++picture) {
        StainStart(record);
        const StainState* st = CurrentStainState();
        ASSERT_GE(st->type, 0);
        ASSERT_LE(st->type, 9);
        ASSERT_TRUE(st->generator == stainFunctions[st->type]);
        types.insert(st->type);
        counts.insert(st->nodeCount);
    }
    EXPECT_GE(types.size(), 8u);
    EXPECT_EQ(counts, (std::set<int>{2, 3, 4}));
}

TEST_F(Stain, LandscapeRingsGrowFromAHorizontalLineFourAFrame)
{
    Open(64, 48);
    record->value[TYPE] = 2;
    Begin(2);
    // Line (23, 23)-(40, 23); ring n is that line grown by n.
    for (int frame = 1; frame <= 6; ++frame) {
        ASSERT_EQ(StainFrame(record), 0);
        int n = 4 * frame - 1;
        EXPECT_TRUE(PaintedExactly(23 - n, 23 - n, 40 + n, 23 + n)) << "frame " << frame;
    }
    // The left and right edges are reached together with the top edge.
    EXPECT_EQ(StainFrame(record), 0);
    EXPECT_TRUE(PaintedExactly(0, 0, 63, 46));
    EXPECT_EQ(StainFrame(record), ENTRY_WAIT);
    testNow = 3000 + 19999;
    EXPECT_EQ(StainFrame(record), ENTRY_WAIT);
    testNow = 3000 + 20000;
    ClearTestSurface(&surface);
    EXPECT_EQ(StainFrame(record), 0);
    EXPECT_TRUE(PaintedExactly(20, 20, 43, 26));
}

TEST_F(Stain, PortraitRingsGrowFromAVerticalLine)
{
    Open(48, 64);
    record->value[TYPE] = 0;
    Begin(3);
    StainFrame(record);
    EXPECT_TRUE(PaintedExactly(20, 20, 26, 43));
}

TEST_F(Stain, TypeOneIsZeroWhereTheSquaredDistancesSumBelowFour)
{
    // On a 10 x 10 surface both nodes sit at (4, 4). The rings share the
    // mirror line y = 4.5, so the value computed for (x, y) shows at (x, 9 - y).
    Open(10, 10);
    record->value[TYPE] = 1;
    Begin(15);
    const StainState* st = CurrentStainState();
    ASSERT_EQ(st->nodes[0].x, 4);
    ASSERT_EQ(st->nodes[1].y, 4);
    int c0 = st->nodes[0].colour, c1 = st->nodes[1].colour;
    StainFrame(record);
    StainFrame(record);
    ASSERT_TRUE(PaintedExactly(0, 0, 8, 9));
    for (int y = 0; y <= 9; ++y)
        for (int x = 0; x <= 8; ++x) {
            int d2 = (x - 4) * (x - 4) + (y - 4) * (y - 4);
            int shown = SurfaceEntry(&surface, x, 9 - y);
            if (2 * d2 < 4) {
                EXPECT_EQ(shown, 0) << x << "," << y;
            } else if (d2 == 2) {
                EXPECT_EQ(shown, 2 * (c0 + c1) % 236) << x << "," << y;
            }
        }
}

TEST_F(Stain, TypeFiveIsZeroExactlyOnANode)
{
    // A landscape picture mirrors every ring about y = 23, so the value
    // computed for (x, y) shows at (x, 46 - y).
    Open(64, 48);
    record->value[TYPE] = 5;
    Begin(15);
    StainNode nodes[2] = {CurrentStainState()->nodes[0], CurrentStainState()->nodes[1]};
    ASSERT_NE(nodes[0].x * 100 + nodes[0].y, nodes[1].x * 100 + nodes[1].y);
    while (StainFrame(record) != ENTRY_WAIT) {
    }
    int zero = 0;
    for (int y = 0; y <= 46; ++y)
        for (int x = 0; x < width; ++x)
            zero += SurfaceEntry(&surface, x, y) == 0;
    for (int k = 0; k < 2; ++k)
        EXPECT_EQ(SurfaceEntry(&surface, nodes[k].x, 46 - nodes[k].y), 0) << k;
    EXPECT_LT(zero, 64 * 47 / 4);
}

TEST_F(Stain, EveryFunctionPaintsPaletteEntriesOnly)
{
    Open(96, 72);
    record->value[NODES] = 4;
    for (int type = 0; type < STAIN_FUNCTIONS; ++type) {
        ClearTestSurface(&surface);
        record->value[TYPE] = type;
        record->value[FOLDING] = type % 3;
        Begin(100 + type);
        int frames = 0;
        while (StainFrame(record) != ENTRY_WAIT && frames < 40)
            ++frames;
        ASSERT_LT(frames, 40);
        int statics = 0, painted = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                BYTE b = SurfaceByte(&surface, x, y);
                painted += b != 0;
                statics += b != 0 && SurfaceEntry(&surface, x, y) < 0;
            }
        EXPECT_EQ(statics, 0) << "type " << type;
        EXPECT_GT(painted, 95 * 70) << "type " << type;
        StainClose(record);
    }
}

TEST_F(Stain, TileTypeOneOnOneTileRestartsEveryFrame)
{
    Open(64, 48);
    record->value[TILE_TYPE] = 1;
    record->value[DURATION] = 1;
    Begin(9);
    std::set<int> positions;
    for (int round = 0; round < 6; ++round) {
        EXPECT_EQ(StainFrame(record), 0);
        const StainState* st = CurrentStainState();
        positions.insert(st->nodes[0].x * 1000 + st->nodes[0].y);
        EXPECT_EQ(StainFrame(record), ENTRY_WAIT);
        testNow += 1001;
    }
    EXPECT_GE(positions.size(), 5u) << "a new picture each time";
    EXPECT_EQ(Drawn(), 0);
}

TEST_F(Stain, TileTypeOneOnTwoColumnsPaintsTheSecondTile)
{
    Open(64, 48);
    record->value[X_TILING] = 2;
    record->value[TILE_TYPE] = 1;
    Begin(4);
    StainFrame(record);
    // Tile extent 31 x 47, a portrait tile: line (15, 15)-(15, 32), its
    // fourth ring (12, 12)-(18, 35), moved right by 31.
    EXPECT_TRUE(PaintedExactly(12 + 31, 12, 18 + 31, 35));
}

TEST_F(Stain, NoBuffersNoPaintingAndTinySurfacesAreSafe)
{
    Open(64, 48);
    record->width = 200000000;
    Begin(1);
    for (int frame = 0; frame < 5; ++frame)
        EXPECT_EQ(StainFrame(record), 0);
    EXPECT_EQ(Drawn(), 0);

    // A surface narrower than the node margins, and odd control values.
    record->width = 3;
    record->height = 2;
    record->value[NODES] = 9;
    record->value[TYPE] = 10;
    record->value[X_TILING] = 0;
    for (unsigned seed = 1; seed < 20; ++seed) {
        Begin(seed);
        for (int frame = 0; frame < 4; ++frame)
            StainFrame(record);
        testNow += 30000;
    }
    record->width = 1;
    record->height = 1;
    Begin(3);
    StainFrame(record);
    EXPECT_EQ(CountDrawn(&surface, 3, 2, width, height), 0);
}

}  // namespace
