// The Effect module on a real 8-bit surface: inversions, stripes, mirrors and
// blobs, checked pixel by pixel against the rectangles and positions a user
// would see.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "runtime/common.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <string.h>
#include <vector>

namespace {

const int W = 640, H = 480;

// First seed whose next two draws give these remainders mod 8, so a test can
// fix the random part of the step sizes.
unsigned int SeedForSteps(int first, int second)
{
    for (unsigned int seed = 1;; ++seed) {
        SeedRandom(seed);
        int a = Random() % 8;
        int b = Random() % 8;
        if (a == first && b == second)
            return seed;
    }
}

struct Box {
    int x, y, w, h;
};

class Effect : public ModuleFixture {
protected:
    Effect() : ModuleFixture({MODULE_EFFECT, EffectOpen, EffectStart, EffectFrame, 0}) {}

    void SetUp() override { OpenSurface(W, H, 50000); }
    BYTE* Row(int y) { return surface.surface.bits + y * surface.surface.stride; }
    void Fill(int entry)
    {
        GdiFlush();
        for (int y = 0; y < H; ++y)
            memset(Row(y), STATIC_LOW + entry, W);
    }
    // Opens and starts the module with the given type and strengths and an
    // interval of 0, then runs one frame with the seed that gives the random
    // step parts.
    void RunEffect(int type, int xStrength, int yStrength, int xExtra, int yExtra)
    {
        record->value[0] = type;
        record->value[1] = xStrength;
        record->value[2] = yStrength;
        record->value[3] = 0;
        EffectOpen(record);
        EffectStart(record);
        SeedRandom(SeedForSteps(xExtra, yExtra));
        EffectFrame(record);
        GdiFlush();
    }
    // Every pixel is the background entry or its inverse, by how many of the
    // boxes cover it (odd: inverted).
    void ExpectInversionOf(int background, const std::vector<Box>& boxes)
    {
        int wrong = 0;
        for (int y = 0; y < H; ++y) {
            for (int x = 0; x < W; ++x) {
                int covered = 0;
                for (const Box& b : boxes)
                    covered += x >= b.x && x < b.x + b.w && y >= b.y && y < b.y + b.h;
                int expected = covered % 2 ? 235 - background : background;
                int seen = SurfaceEntry(&surface, x, y);
                if (seen != expected && wrong++ < 5)
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << seen << ", expected " << expected;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
};

TEST_F(Effect, NestedRectanglesInvertExactlyTheListedThree)
{
    Fill(5);
    RunEffect(0, 100, 80, 0, 0);
    ExpectInversionOf(5, {{0, 0, 639, 479}, {100, 80, 439, 319}, {200, 160, 239, 159}});
}

TEST_F(Effect, SwappedSecondPassRestoresDoublyCoveredPixels)
{
    Fill(5);
    RunEffect(2, 100, 80, 0, 0);
    // Second pass with steps (80, 100): its third rectangle is the last one
    // with a positive height.
    ExpectInversionOf(5, {{0, 0, 639, 479}, {100, 80, 439, 319}, {200, 160, 239, 159},
                          {0, 0, 639, 479}, {80, 100, 479, 279}, {160, 200, 319, 79}});
    EXPECT_EQ(SurfaceEntry(&surface, 10, 10), 5);      // both outer rectangles
    EXPECT_EQ(SurfaceEntry(&surface, 90, 150), 230);   // three of them
}

TEST_F(Effect, StepsIncludeTheRandomPartAndQuadrantsUseHalfSteps)
{
    // X Strength 100 + 7, Y Strength 80 + 3: quadrant steps (53, 41).
    Fill(9);
    RunEffect(4, 100, 80, 7, 3);
    std::vector<Box> boxes;
    const int corners[4][2] = {{0, 0}, {320, 240}, {320, 0}, {0, 240}};
    for (const auto& c : corners) {
        int x = c[0], y = c[1], w = 320, h = 240;
        while (w > 0 && h > 0) {
            boxes.push_back({x, y, w, h});
            x += 53;
            y += 41;
            w -= 106;
            h -= 82;
        }
    }
    ASSERT_EQ(boxes.size(), 12u);
    ExpectInversionOf(9, boxes);
}

TEST_F(Effect, StripesCarryTheirPhaseIntoTheHorizontalBands)
{
    // bx = 100: vertical bands at 0, 100, ..., 500, every other one inverted;
    // after six bands the horizontal pass starts inverted again.
    Fill(20);
    RunEffect(18, 100, 80, 0, 0);
    ExpectInversionOf(20, {{0, 0, 100, 480}, {200, 0, 100, 480}, {400, 0, 100, 480},
                           {0, 0, 640, 80}, {0, 160, 640, 80}, {0, 320, 640, 80}});

    // bx = 107: five vertical bands (0..428), so the horizontal pass starts
    // with an uninverted band.
    Fill(20);
    RunEffect(18, 100, 80, 7, 0);
    ExpectInversionOf(20, {{0, 0, 107, 480}, {214, 0, 107, 480}, {428, 0, 107, 480},
                           {0, 80, 640, 80}, {0, 240, 640, 80}});
}

TEST_F(Effect, InvertedEllipsesTouchOnlyTheirOutlines)
{
    Fill(30);
    RunEffect(1, 100, 80, 0, 0);
    // Pen width (100 + 80) / 3 = 60 on the outer ellipse (0, 0, 639, 479):
    // its left rim is inverted, the corners and the centre are not.
    EXPECT_EQ(SurfaceEntry(&surface, 10, 240), 205);
    EXPECT_EQ(SurfaceEntry(&surface, 2, 2), 30);
    EXPECT_EQ(SurfaceEntry(&surface, 636, 476), 30);
    EXPECT_EQ(SurfaceEntry(&surface, 320, 240), 30);
    // Every pixel is either the background or its inverse.
    int others = 0, inverted = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            int e = SurfaceEntry(&surface, x, y);
            others += e != 30 && e != 205;
            inverted += e == 205;
        }
    EXPECT_EQ(others, 0);
    EXPECT_GT(inverted, 20000);
}

TEST_F(Effect, MirrorDepthOneCopiesTheTopLeftQuadrantIntoTheOthers)
{
    ClearTestSurface(&surface);
    // Top-left quadrant: entry 40 on its left half, entry 80 on its right.
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            Row(y)[x] = (BYTE)(STATIC_LOW + (x < 160 ? 40 : 80));
    RunEffect(6, 100, 80, 0, 0);
    EXPECT_EQ(SurfaceEntry(&surface, 630, 10), 40);    // mirrored left to right
    EXPECT_EQ(SurfaceEntry(&surface, 330, 10), 80);
    EXPECT_EQ(SurfaceEntry(&surface, 10, 470), 40);    // top to bottom
    EXPECT_EQ(SurfaceEntry(&surface, 630, 470), 40);   // both
    EXPECT_EQ(SurfaceEntry(&surface, 330, 250), 80);
    // Only the copies' one-pixel seams may stay black.
    EXPECT_LE(W * H - CountDrawn(&surface, 0, 0, W, H), W + H);
}

TEST_F(Effect, MirrorDepthTwoMakesSixteenCopies)
{
    ClearTestSurface(&surface);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            Row(y)[x] = (BYTE)(STATIC_LOW + 60);
    RunEffect(7, 100, 80, 0, 0);
    const int xs[4] = {4, 316, 324, 636}, ys[4] = {4, 236, 244, 476};
    for (int x : xs)
        for (int y : ys)
            EXPECT_EQ(SurfaceEntry(&surface, x, y), 60) << x << "," << y;
    EXPECT_EQ(SurfaceEntry(&surface, 160, 120), -1);   // still black between
    EXPECT_EQ(SurfaceByte(&surface, 160, 120), 0);
}

TEST_F(Effect, ZoomedMirrorStretchesAPieceIntoTheQuadrantThenMirrorsIt)
{
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            Row(y)[x] = (BYTE)(STATIC_LOW + (x * 7 + y * 3) % 236);
    std::vector<BYTE> before(surface.surface.bits, surface.surface.bits + W * H);
    RunEffect(12, 100, 80, 0, 0);
    std::vector<BYTE> zoomed(surface.surface.bits, surface.surface.bits + W * H);
    int changed = 0;
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            changed += zoomed[y * W + x] != before[y * W + x];
    EXPECT_GT(changed, 10000);   // the quadrant now shows a stretched piece

    // The rest is the plain mirror of that quadrant: the same quadrant alone,
    // mirrored without zoom, gives the same picture.
    ClearTestSurface(&surface);
    for (int y = 0; y < 240; ++y)
        memcpy(Row(y), &zoomed[y * W], 320);
    RunEffect(6, 100, 80, 0, 0);
    int mismatches = 0;
    for (int i = 0; i < W * H; ++i)
        mismatches += surface.surface.bits[i] != zoomed[i];
    EXPECT_EQ(mismatches, 0);
}

// Blob centres as the generator gives them after the two step draws.
std::vector<POINT> BlobCentres(unsigned int seed, int count)
{
    SeedRandom(seed);
    Random();
    Random();
    std::vector<POINT> centres;
    for (int i = 0; i < count; ++i) {
        POINT p;
        p.x = Random() % (W - 1);
        p.y = Random() % (H - 1);
        centres.push_back(p);
    }
    return centres;
}

TEST_F(Effect, XStrengthHundredDrawsNoBlobs)
{
    for (int type = 21; type <= 25; ++type) {
        Fill(50);
        RunEffect(type, 100, 80, 0, 0);
        int changed = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                changed += SurfaceEntry(&surface, x, y) != 50;
        EXPECT_EQ(changed, 0) << "type " << type;
    }
}

TEST_F(Effect, SevenBlobsInTheColourFoundWhereTheyLand)
{
    // Left half entry 50, right half entry 120; bx = 107 gives 107 % 20 = 7
    // squares of size 80 % 30 = 20, rings stepping up from the colour found.
    GdiFlush();
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            Row(y)[x] = (BYTE)(STATIC_LOW + (x < 320 ? 50 : 120));
    unsigned int seed = SeedForSteps(7, 0);
    std::vector<POINT> centres = BlobCentres(seed, 7);
    RunEffect(22, 100, 80, 7, 0);

    std::vector<int> pixelsNear(7, 0);
    int stray = 0;
    for (int y = 0; y < H; ++y) {
        for (int x = 0; x < W; ++x) {
            int background = x < 320 ? 50 : 120;
            int e = SurfaceEntry(&surface, x, y);
            if (e == background)
                continue;
            int owner = -1;
            for (int i = 0; i < 7; ++i)
                if (abs(x - centres[i].x) <= 10 && abs(y - centres[i].y) <= 10)
                    owner = i;
            if (owner < 0) {
                ++stray;
                continue;
            }
            ++pixelsNear[owner];
            int base = centres[owner].x < 320 ? 50 : 120;
            EXPECT_GE(e, base) << x << "," << y;
            EXPECT_LE(e, base + 9) << x << "," << y;
        }
    }
    EXPECT_EQ(stray, 0);
    for (int i = 0; i < 7; ++i) {
        EXPECT_GT(pixelsNear[i], 100) << "blob " << i;
        // The innermost square sits at the centre.
        int base = centres[i].x < 320 ? 50 : 120;
        EXPECT_GE(SurfaceEntry(&surface, centres[i].x - 2, centres[i].y - 2), base + 7);
    }
}

TEST_F(Effect, EffectsComeEveryDisplayInterval)
{
    record->value[0] = 0;
    record->value[3] = 2;   // seconds
    Fill(5);
    EffectOpen(record);
    EffectStart(record);
    EffectFrame(record);
    testNow += 1999;
    EffectFrame(record);
    EXPECT_EQ(SurfaceEntry(&surface, 5, 5), 5);
    testNow += 1;           // the deadline itself
    EffectFrame(record);
    EXPECT_EQ(SurfaceEntry(&surface, 5, 5), 230);
    testNow += 1000;
    EffectFrame(record);
    EXPECT_EQ(SurfaceEntry(&surface, 5, 5), 230);
    testNow += 1000;
    EffectFrame(record);
    EXPECT_EQ(SurfaceEntry(&surface, 5, 5), 5);

    // Interval 0: every frame step.
    record->value[3] = 0;
    EffectStart(record);
    for (int i = 0; i < 3; ++i)
        EffectFrame(record);
    EXPECT_EQ(SurfaceEntry(&surface, 5, 5), 230);
}

TEST_F(Effect, RandomTypeIsDrawnAgainAfterEveryEffect)
{
    record->source[0] = 1;   // Random
    record->rangeLo[0] = 0;
    record->rangeHi[0] = 1;
    record->value[3] = 0;
    EffectOpen(record);
    SeedRandom(99);
    int seen[2] = {0, 0};
    for (int i = 0; i < 40; ++i) {
        EffectStart(record);
        seen[record->value[0]]++;
    }
    EXPECT_GT(seen[0], 5);
    EXPECT_GT(seen[1], 5);
}

TEST_F(Effect, OddValuesAndTinySurfacesDoNotCrash)
{
    CloseTestSurface(&surface);
    ASSERT_TRUE(OpenTestSurface(&surface, 1, 1));
    record = &moduleTable[MODULE_EFFECT];
    for (int type = -3; type <= 30; ++type) {
        record->value[0] = type;
        record->value[1] = type % 3;   // 0, 1, 2, negative
        record->value[2] = -type;
        record->value[3] = 0;
        EffectOpen(record);
        EffectStart(record);
        EffectFrame(record);
    }
    SUCCEED();
}

}  // namespace
