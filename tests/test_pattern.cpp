// The Pattern module and its generators on a real 8-bit surface: ring order,
// the hold, per-picture choices, tiling, folding and the generators' edges.
#include <gtest/gtest.h>
#include "modules/modules.h"
#include "modules/generators.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <algorithm>
#include <math.h>
#include <set>
#include <stdlib.h>
#include <string.h>
#include <vector>

namespace {

enum { WAVES = 0, TURBULENCE = 1, TYPE = 2, DURATION = 3, TURBULENCE_TYPE = 4, DENSITY = 5, WAVE_TYPE = 6,
       FOLDING = 7, X_TILING = 10, Y_TILING = 11, TILE_TYPE = 12 };

class Pattern : public ModuleFixture {
protected:
    Pattern() : ModuleFixture({MODULE_PATTERN, PatternOpen, PatternStart, PatternFrame, PatternClose}) {}

    void Open(int w, int h) { OpenSurface(w, h, 5000); }
    // Distance of a pixel from the nearest surface edge.
    int Inset(int x, int y)
    {
        int d = x;
        if (y < d) d = y;
        if (width - 1 - x < d) d = width - 1 - x;
        if (height - 1 - y < d) d = height - 1 - y;
        return d;
    }
};

TEST_F(Pattern, RingsArePaintedFromTheOutsideInThreeAFrame)
{
    Open(64, 48);
    record->value[TYPE] = 3;
    Begin(8);
    for (int frame = 1; frame <= 8; ++frame) {
        ASSERT_EQ(PatternFrame(record), 0);
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                bool painted = SurfaceByte(&surface, x, y) != 0;
                bool expected = Inset(x, y) < 3 * frame;
                wrong += painted != expected;
                if (painted) {
                    ASSERT_GE(SurfaceEntry(&surface, x, y), 0);
                }
            }
        EXPECT_EQ(wrong, 0) << "frame " << frame;
    }
    EXPECT_EQ(Drawn(), width * height);

    // The ring after the last is empty: the picture is finished, the next
    // is prepared and held for Image Duration (30 s by default).
    EXPECT_EQ(PatternFrame(record), 0);
    ClearTestSurface(&surface);
    EXPECT_EQ(PatternFrame(record), ENTRY_WAIT);
    testNow = 5000 + 29999;
    EXPECT_EQ(PatternFrame(record), ENTRY_WAIT);
    EXPECT_EQ(Drawn(), 0);
    testNow = 5000 + 30000;
    EXPECT_EQ(PatternFrame(record), 0);
    EXPECT_EQ(CountDrawn(&surface, 3, 3, width - 3, height - 3), 0);
    EXPECT_EQ(Drawn(), width * height - (width - 6) * (height - 6));
}

TEST_F(Pattern, ImageDurationZeroStartsTheNextPictureAtOnce)
{
    Open(32, 24);
    record->value[DURATION] = 0;
    Begin(4);
    int waits = 0;
    for (int frame = 0; frame < 40; ++frame)
        waits += PatternFrame(record) == ENTRY_WAIT;
    EXPECT_EQ(waits, 0);
}

TEST_F(Pattern, TileTypeOneOnOneTileRestartsAndHoldsEveryFrame)
{
    Open(64, 48);
    record->value[TILE_TYPE] = 1;
    record->value[DURATION] = 2;
    Begin(5);
    for (int round = 0; round < 5; ++round) {
        EXPECT_EQ(PatternFrame(record), 0);
        EXPECT_EQ(PatternFrame(record), ENTRY_WAIT);
        testNow += 2000;
    }
    EXPECT_EQ(Drawn(), 0);
}

TEST_F(Pattern, RandomTypeAndWaveTypeChangePerPicture)
{
    Open(64, 48);
    record->value[WAVES] = 10;
    Begin(77);
    std::set<int> types, waves, shapes;
    for (int picture = 0; picture < 60; ++picture) {
        PatternStart(record);
        const PatternState* st = CurrentPatternState();
        ASSERT_GE(st->type, 0);
        ASSERT_LE(st->type, 20);
        ASSERT_GE(st->waves, 1);
        ASSERT_LE(st->waves, 10);
        ASSERT_GE(st->waveType, 1);
        ASSERT_LE(st->waveType, 6);
        ASSERT_TRUE(st->generator == patternGenerators[st->type]);
        types.insert(st->type);
        waves.insert(st->waves);
        shapes.insert(st->waveType);
    }
    EXPECT_GE(types.size(), 12u);
    EXPECT_GE(waves.size(), 6u);
    EXPECT_EQ(shapes.size(), 6u);

    // Fixed choices stay fixed, and a fixed type keeps every wave.
    record->value[TYPE] = 7;
    record->value[WAVE_TYPE] = 4;
    for (int picture = 0; picture < 10; ++picture) {
        PatternStart(record);
        EXPECT_EQ(CurrentPatternState()->type, 7);
        EXPECT_EQ(CurrentPatternState()->waves, 10);
        EXPECT_EQ(CurrentPatternState()->waveType, 4);
    }
}

TEST_F(Pattern, TurbulenceSwitchesTheDistortion)
{
    Open(64, 48);
    Begin(3);
    for (int picture = 0; picture < 20; ++picture) {
        PatternStart(record);
        EXPECT_FALSE(CurrentPatternState()->turbulenceOn);
    }
    record->value[TURBULENCE] = 100;
    int on = 0;
    for (int picture = 0; picture < 90; ++picture) {
        PatternStart(record);
        on += CurrentPatternState()->turbulenceOn;
    }
    EXPECT_GT(on, 15);
    EXPECT_LT(on, 45);
    record->value[TURBULENCE] = 50;
    record->value[TURBULENCE_TYPE] = 2;
    PatternStart(record);
    EXPECT_TRUE(CurrentPatternState()->turbulenceOn);
    EXPECT_FLOAT_EQ(CurrentPatternState()->turbulence, 0.5f * 50000.0f);
}

TEST_F(Pattern, FoldingIsDoubledAtStartButFollowedAsItComesWhileLive)
{
    Open(64, 48);
    record->value[FOLDING] = 3;
    Begin(6);
    EXPECT_EQ(CurrentPatternState()->fold, 6);
    record->source[FOLDING] = SOURCE_OSCILLATE;
    record->rangeLo[FOLDING] = 5;
    record->rangeHi[FOLDING] = 5;
    PatternFrame(record);
    EXPECT_EQ(CurrentPatternState()->fold, 5);
}

TEST_F(Pattern, LiveTilingChangesTheRingsOnTheNextFrame)
{
    Open(64, 48);
    record->value[TYPE] = 0;
    Begin(12);
    PatternFrame(record);
    EXPECT_EQ(SurfaceByte(&surface, 31, 20), 0);
    record->source[X_TILING] = SOURCE_OSCILLATE;
    record->rangeLo[X_TILING] = 2;
    record->rangeHi[X_TILING] = 2;
    PatternFrame(record);
    // The rings are now held in tile 0: the ring rectangle (3, 3, 60, 44)
    // divided by two gives right edges at columns 30, 29 and 28, mirrored
    // into the second tile at columns 33, 34 and 35.
    for (int n = 0; n < 3; ++n)
        for (int y = 3 + n; y <= 44 - n; ++y) {
            ASSERT_GE(SurfaceEntry(&surface, 30 - n, y), 0) << y;
            EXPECT_EQ(SurfaceEntry(&surface, 33 + n, y), SurfaceEntry(&surface, 30 - n, y)) << y;
        }
    EXPECT_EQ(CountDrawn(&surface, 4, 6, 28, 42), 0);
}

TEST_F(Pattern, TwoByTwoTilesFormAKaleidoscope)
{
    Open(64, 48);
    record->value[X_TILING] = 2;
    record->value[Y_TILING] = 2;
    record->value[TYPE] = 13;
    Begin(21);
    int frames = 0;
    while (PatternFrame(record) != ENTRY_WAIT && frames < 100)
        ++frames;
    ASSERT_LT(frames, 100);
    int tw = 32, th = 24, wrong = 0;
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x) {
            int source = SurfaceEntry(&surface, x, y);
            ASSERT_GE(source, 0);
            wrong += SurfaceEntry(&surface, 2 * tw - 1 - x, y) != source;
            wrong += SurfaceEntry(&surface, x, 2 * th - 1 - y) != source;
            wrong += SurfaceEntry(&surface, 2 * tw - 1 - x, 2 * th - 1 - y) != source;
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Pattern, NoBuffersNoPainting)
{
    Open(64, 48);
    record->width = 700000000;   // profiles beyond the address space
    Begin(1);
    for (int frame = 0; frame < 10; ++frame)
        EXPECT_EQ(PatternFrame(record), 0);
    EXPECT_EQ(Drawn(), 0);
    record->width = 64;
    record->value[X_TILING] = 0;
    record->value[WAVES] = 0;
    record->value[TYPE] = -4;
    record->value[WAVE_TYPE] = 99;
    record->value[TURBULENCE_TYPE] = -1;
    Begin(1);
    PatternFrame(record);
    EXPECT_GT(Drawn(), 0);
}

// --- The ring painter -----------------------------------------------------------

class Rings : public ::testing::Test {
protected:
    TestSurface surface;
    RingCanvas canvas;
    std::vector<BYTE> header, line;
    void SetUp() override
    {
        ASSERT_TRUE(OpenTestSurface(&surface, 80, 60));
        header.assign(DIB_HEADER_BYTES, 0);
        line.assign(81 * 4 + 16, 0);
        canvas.dc = surface.surface.dc;
        canvas.header = (BITMAPINFOHEADER*)&header[0];
        canvas.lineBuffer = &line[0];
        canvas.width = 80;
        canvas.height = 60;
        FillPaletteHeader(canvas.header, 80);
    }
    void TearDown() override { CloseTestSurface(&surface); }
    static int Value(void*, int x, int y) { return (x * 3 + y * 7) % 236; }
};

TEST_F(Rings, PlainRingShowsEachValueMirroredTopToBottom)
{
    RECT ring = {10, 8, 50, 40};
    PaintRing(&canvas, &ring, 0, Value, 0, 0);
    for (int x = 10; x <= 50; ++x) {
        EXPECT_EQ(SurfaceEntry(&surface, x, 8), Value(0, x, 40)) << x;
        EXPECT_EQ(SurfaceEntry(&surface, x, 40), Value(0, x, 8)) << x;
    }
    for (int y = 8; y <= 40; ++y) {
        EXPECT_EQ(SurfaceEntry(&surface, 10, y), Value(0, 10, 48 - y)) << y;
        EXPECT_EQ(SurfaceEntry(&surface, 50, y), Value(0, 50, 48 - y)) << y;
    }
    EXPECT_EQ(CountDrawn(&surface, 11, 9, 50, 40), 0);
    EXPECT_EQ(CountDrawn(&surface, 0, 0, 80, 60), 2 * 41 + 2 * 31);
}

TEST_F(Rings, FoldedRingRepeatsAMirroredRun)
{
    RECT ring = {10, 8, 50, 40};
    const int fold = 6;
    PaintRing(&canvas, &ring, fold, Value, 0, 0);
    int nX = 40 / fold + 1, nY = 32 / fold + 1;
    // The run: the top edge left to right, then the right edge downwards.
    int n = std::max(nX, nY);
    std::vector<int> run;
    for (int x = 10; x < 50 && (int)run.size() <= n; ++x)
        run.push_back(Value(0, x, 8));
    for (int y = 8; y < 40 && (int)run.size() <= n; ++y)
        run.push_back(Value(0, 50, y));
    // The columns are painted last, over the four corners.
    for (int k = 1; k < 40; ++k) {
        int m = k % (2 * nX);
        int expected = run[m <= nX ? m : 2 * nX - m];
        EXPECT_EQ(SurfaceEntry(&surface, 10 + k, 40), expected) << k;
        EXPECT_EQ(SurfaceEntry(&surface, 10 + k, 8), expected) << k;
    }
    for (int k = 0; k <= 32; ++k) {
        int m = k % (2 * nY);
        int expected = run[m <= nY ? m : 2 * nY - m];
        EXPECT_EQ(SurfaceEntry(&surface, 10, 40 - k), expected) << k;
        EXPECT_EQ(SurfaceEntry(&surface, 50, 40 - k), expected) << k;
    }
}

TEST_F(Rings, StainCopiesShiftTheShorterRun)
{
    // A wide ring: the row run is the longer, so only the column copy
    // comes from one pixel to the right of the left column.
    RECT ring = {10, 20, 60, 30};
    PaintRing(&canvas, &ring, 2, Value, 0, 1);
    for (int x = 11; x <= 60; ++x)
        EXPECT_EQ(SurfaceEntry(&surface, x, 20), SurfaceEntry(&surface, x, 30)) << x;
    for (int y = 20; y <= 30; ++y)
        EXPECT_EQ(SurfaceByte(&surface, 60, y), SurfaceByte(&surface, 11, y)) << y;

    // A tall ring: the row copy comes from one pixel to the left.
    ClearTestSurface(&surface);
    RECT tall = {30, 5, 36, 55};
    PaintRing(&canvas, &tall, 2, Value, 0, 1);
    for (int x = 31; x <= 35; ++x)
        EXPECT_EQ(SurfaceByte(&surface, x, 5), SurfaceByte(&surface, x - 1, 55)) << x;
    EXPECT_GE(SurfaceEntry(&surface, 33, 5), 0);
    for (int y = 5; y <= 55; ++y)
        EXPECT_EQ(SurfaceEntry(&surface, 36, y), SurfaceEntry(&surface, 30, y)) << y;
}

// --- Generators, turbulence and wave tables ---------------------------------------

class Generators : public ::testing::Test {
protected:
    PatternState st;
    std::vector<int> columns, rows, waves;
    void Make(int w, int h)
    {
        memset(&st, 0, sizeof(st));
        st.width = w;
        st.height = h;
        st.maxX = w - 1;
        st.maxY = h - 1;
        columns.assign(w + 1, 0);
        rows.assign(h + 1, 0);
        waves.assign(WAVE_TABLE_SIZE, 0);
        for (int x = 0; x <= w; ++x)
            columns[x] = (x * 997) % 16000;
        for (int y = 0; y <= h; ++y)
            rows[y] = (y * 613) % 16000;
        for (int i = 0; i < WAVE_TABLE_SIZE; ++i)
            waves[i] = (i * 37) % 32000 - 16000;
        st.columnProfile = &columns[0];
        st.rowProfile = &rows[0];
        st.waveTable = &waves[0];
        st.waves = 3;
        st.sumShift = 6;
        st.bandSize = 5000;
        st.xorDivisor = 3;
        st.xScale = 0.5f;
        st.yScale = 0.25f;
        for (int k = 0; k < WAVE_COUNT; ++k) {
            st.columnFreq[k] = 0.3f + 0.1f * k;
            st.rowFreq[k] = 0.7f + 0.05f * k;
        }
    }
};

TEST_F(Generators, SimpleSumsOfTheProfiles)
{
    Make(100, 80);
    int x = 17, y = 33;
    int sum = columns[x] + rows[y];
    EXPECT_EQ(patternGenerators[0](&st, x, y), (sum >> 6) % 236);
    EXPECT_EQ(patternGenerators[3](&st, x, y), (sum >> 6) % 236);
    EXPECT_EQ(patternGenerators[13](&st, x, y),
              ((sum + rows[79 - y] + columns[99 - x]) >> 7) % 236);
    int t = (int)(y * 0.25f) % 236;
    EXPECT_EQ(patternGenerators[17](&st, x, y), ((int)(x * 0.5f) % 236) ^ t) << "even point";
    EXPECT_EQ(patternGenerators[17](&st, x, 34), ((columns[x] + rows[34]) >> 6) % 236) << "odd point";
    EXPECT_EQ(patternGenerators[2](&st, x, y), ((sum >> 6) & 31) + (((int)(x * 0.5f) % 236) ^ t) / 3);
}

TEST_F(Generators, TypeEighteenLeavesItsShiftBehind)
{
    Make(100, 80);
    patternGenerators[18](&st, 4, 5);
    EXPECT_EQ(st.sumShift, 7);
    patternGenerators[18](&st, 4, 6);
    EXPECT_EQ(st.sumShift, 5);
}

TEST_F(Generators, TypeNineteenWrapsTheRowIntoTheColumnProfileOnTallSurfaces)
{
    Make(10, 200);
    int x = 4, y = 157;   // odd: the third term reads C[y mod 10]
    int s = 6;
    int v = (abs(columns[x] + rows[y]) >> s) + ((abs(columns[9 - x] + rows[199 - y]) >> s) & 7) +
            ((abs(columns[y % 10] + rows[199 - y]) >> s) & 7);
    EXPECT_EQ(patternGenerators[19](&st, x, y), v % 236);
}

TEST_F(Generators, EveryGeneratorStaysInThePaletteWithAnyTurbulence)
{
    Make(37, 23);
    for (int kind = 0; kind < TURBULENCE_KINDS; ++kind)
        for (int strength = 0; strength < 3; ++strength) {
            st.turbulenceOn = true;
            st.turbulenceType = kind;
            st.turbulence = strength == 0 ? 0.0f : (strength == 1 ? 1e-7f : 30000.0f);
            for (int type = 0; type < GENERATOR_COUNT; ++type) {
                st.sumShift = 6;
                for (int y = 0; y <= st.maxY; ++y)
                    for (int x = 0; x <= st.maxX; ++x) {
                        int v = patternGenerators[type](&st, x, y);
                        ASSERT_GE(v, 0);
                        ASSERT_LT(v, 236);
                    }
            }
            for (int y = 0; y <= st.maxY; ++y)
                for (int x = 0; x <= st.maxX; ++x) {
                    int dx = x, dy = y;
                    Distort(&st, &dx, &dy);
                    ASSERT_GE(dx, 0);
                    ASSERT_LE(dx, st.maxX);
                    ASSERT_GE(dy, 0);
                    ASSERT_LE(dy, st.maxY);
                }
        }
}

TEST_F(Generators, WaveLookupsGiveTheSameValuesAsTheWaveTable)
{
    Make(150, 90);
    st.waves = 30;
    std::vector<int> columnWaves(WAVE_COUNT * 151), rowWaves(WAVE_COUNT * 91);
    const int types[] = {6, 7, 8, 16, 20};
    for (int type : types) {
        st.type = type;
        st.columnWaves = 0;
        st.rowWaves = 0;
        CacheWaves(&st);
        ASSERT_EQ(st.cachedWaves, 0);
        std::vector<int> direct;
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 150; ++x)
                direct.push_back(patternGenerators[type](&st, x, y));
        st.columnWaves = &columnWaves[0];
        st.rowWaves = &rowWaves[0];
        CacheWaves(&st);
        EXPECT_GT(st.cachedWaves, 0);
        int mismatched = 0;
        for (int y = 0; y < 90; ++y)
            for (int x = 0; x < 150; ++x)
                mismatched += patternGenerators[type](&st, x, y) != direct[y * 150 + x];
        EXPECT_EQ(mismatched, 0) << "type " << type;
    }
}

TEST_F(Generators, WrappingTypesSurviveOnePixelExtents)
{
    Make(1, 1);
    for (int type = 0; type < GENERATOR_COUNT; ++type) {
        int v = patternGenerators[type](&st, 0, 0);
        EXPECT_GE(v, 0);
        EXPECT_LT(v, 236);
    }
}

TEST_F(Generators, PhaseIndexIsAlwaysATableIndex)
{
    EXPECT_EQ(PhaseIndex(0.0), 0);
    EXPECT_EQ(PhaseIndex(0.5), 1024);
    EXPECT_EQ(PhaseIndex(-0.25), 1536);
    EXPECT_EQ(PhaseIndex(3.75), 1536);
    EXPECT_EQ(PhaseIndex(HUGE_VAL), 0);
    EXPECT_EQ(PhaseIndex(-HUGE_VAL), 0);
    EXPECT_EQ(PhaseIndex(NAN), 0);
    int i = PhaseIndex(1e15 + 0.3);
    EXPECT_GE(i, 0);
    EXPECT_LT(i, 2048);
}

TEST_F(Generators, WaveTableShapes)
{
    std::vector<int> table(WAVE_TABLE_SIZE);
    EXPECT_FLOAT_EQ(FillWaveTable(&table[0], 1), 0.02f);
    EXPECT_EQ(table[0], 0);
    EXPECT_NEAR(std::max_element(table.begin(), table.end()) - table.begin(), 512, 1);
    EXPECT_EQ(*std::max_element(table.begin(), table.end()), 16383);
    EXPECT_EQ(*std::min_element(table.begin(), table.end()), -16383);
    EXPECT_NEAR(table[1024], 0, 40);
    EXPECT_LT(table[2047], 0);

    EXPECT_FLOAT_EQ(FillWaveTable(&table[0], 2), 0.02f);
    EXPECT_TRUE(std::equal(table.begin(), table.end(), sineTable));

    SeedRandom(10);
    for (int shape = 3; shape <= 6; ++shape) {
        float e = FillWaveTable(&table[0], shape);
        EXPECT_FLOAT_EQ(e, shape == 3 ? 0.2f : (shape == 6 ? 0.4f : 0.22f)) << shape;
        int largestStep = 0;
        for (int i = 0; i < WAVE_TABLE_SIZE; ++i) {
            // The rough shape's random steps may overshoot zero by up to
            // 19658 at the never-smoothed ends.
            ASSERT_LE(abs(table[i]), 19658) << shape;
            if (i > 1 && i < WAVE_TABLE_SIZE - 1)
                largestStep = std::max(largestStep, abs(table[i] - table[i - 1]));
        }
        EXPECT_LT(largestStep, 2000) << "smoothed, shape " << shape;
    }
}

TEST_F(Generators, SmoothingUsesTheUpdatedLeftNeighbour)
{
    std::vector<int> table(WAVE_TABLE_SIZE, 0);
    table[1] = 9;
    table[2] = 9;
    table[WAVE_TABLE_SIZE - 1] = 300;
    SmoothWaveTable(&table[0]);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 6);            // (0 + 9 + 9) / 3
    EXPECT_EQ(table[2], 5);            // (6 + 9 + 0) / 3
    EXPECT_EQ(table[3], 1);            // (5 + 0 + 0) / 3
    EXPECT_EQ(table[WAVE_TABLE_SIZE - 2], 100);
    EXPECT_EQ(table[WAVE_TABLE_SIZE - 1], 300);
}

}  // namespace
