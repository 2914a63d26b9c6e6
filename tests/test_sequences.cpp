// Seeded sequences: where a module or the palette engine makes several
// random draws, the order of the draws is part of what a saved seed shows.
// Each case replays the shared generator by its formula and pins which draw
// lands where, and how many draws were made.
#include <gtest/gtest.h>
#include "graphics/palette.h"
#include "modules/bitmap.h"
#include "modules/generators.h"
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include "support/picture_files.h"
#include <math.h>
#include <string.h>
#include <string>

namespace {

// The process generator's formula, replayed on its own state.
struct Replay {
    unsigned int state;
    explicit Replay(unsigned int seed) : state(seed) {}
    int Next()
    {
        state = state * 214013u + 2531011u;
        return (int)((state >> 16) & 32767);
    }
    float Fraction() { return (float)Next() / 32767.0f; }
    double Wide() { return Next() / 32767.0; }
};

// The next draw of the process generator is the replay's next: the call
// under test made exactly as many draws as the replay.
#define EXPECT_SAME_COUNT(r) EXPECT_EQ(Random(), (r).Next()) << "a different number of draws"

class StainSequence : public ModuleFixture {
protected:
    StainSequence() : ModuleFixture({MODULE_STAIN, StainOpen, StainStart, StainFrame, StainClose}) {}
};

// Type 10 draws the node count first and the pixel function second, then the
// two scales, then x, y and colour of each node in turn.
TEST_F(StainSequence, RandomTypeDrawsCountTypeScalesThenEachNode)
{
    OpenSurface(200, 120, 5000);
    StainOpen(record);
    record->value[0] = 4;    // "Nodes"
    record->value[2] = 10;   // "Type": random
    const StainState* st = CurrentStainState();
    const unsigned seeds[] = {1, 77, 4242, 123456789u, 0xDEADBEEFu};
    for (unsigned seed : seeds) {
        SCOPED_TRACE(seed);
        SeedRandom(seed);
        StainStart(record);
        Replay r(seed);
        int count = r.Next() % 3 + 2;
        int type = r.Next() % 10;
        EXPECT_EQ(st->nodeCount, count);
        EXPECT_EQ(st->type, type);
        float spread = 4.0f * (float)count * 0.02f;
        EXPECT_FLOAT_EQ(st->xScale, (float)r.Next() / 32767.0f * spread);
        EXPECT_FLOAT_EQ(st->yScale, (float)r.Next() / 32767.0f * spread);
        for (int k = 0; k < count; ++k) {
            EXPECT_EQ(st->nodes[k].x, r.Next() % (199 - 8) + 4) << "node " << k;
            EXPECT_EQ(st->nodes[k].y, r.Next() % (119 - 8) + 4) << "node " << k;
            int c = r.Next() % 59;
            EXPECT_EQ(st->nodes[k].colour, (k & 1) ? c : 235 - c) << "node " << k;
        }
        EXPECT_EQ(Random(), r.Next()) << "a different number of draws";
    }
}

// A fixed type makes no count or type draw: the scales come first.
TEST_F(StainSequence, FixedTypeStartsWithTheScales)
{
    OpenSurface(200, 120, 5000);
    StainOpen(record);
    record->value[0] = 3;
    record->value[2] = 4;
    const StainState* st = CurrentStainState();
    SeedRandom(99);
    StainStart(record);
    Replay r(99);
    EXPECT_EQ(st->nodeCount, 3);
    EXPECT_FLOAT_EQ(st->xScale, (float)r.Next() / 32767.0f * 0.24f);
    EXPECT_FLOAT_EQ(st->yScale, (float)r.Next() / 32767.0f * 0.24f);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(st->nodes[k].x, r.Next() % 191 + 4);
        EXPECT_EQ(st->nodes[k].y, r.Next() % 111 + 4);
        r.Next();
    }
    EXPECT_EQ(Random(), r.Next());
}

class PaletteSequence : public ::testing::Test {
protected:
    TestSurface surface;
    PaletteState* state = nullptr;
    void SetUp() override
    {
        ASSERT_TRUE(OpenTestSurface(&surface, 64, 48));
        UseTestClock(100000);
        state = CreatePaletteState(surface.surface.dc);
        ASSERT_NE(state, nullptr);
    }
    void TearDown() override
    {
        DestroyPaletteState(state);
        CloseTestSurface(&surface);
        UseRealClock();
    }
};

// A colour event draws the random parameters in parameter order, then the
// coarse flag, the effect's chances, the wave shape, the roughening (count,
// passes, then position, sign and size of each spike) and the offset.
TEST_F(PaletteSequence, ColourEventDrawsInItsFixedOrder)
{
    const unsigned seeds[] = {3, 2024, 31337, 0x12345678u, 0xCAFEF00Du, 8, 9, 10};
    int coarseSeen = 0, smoothSeen = 0;
    for (unsigned seed : seeds) {
        for (int effect = EFFECT_RAMP; effect <= EFFECT_RANDOM; ++effect) {
            SCOPED_TRACE(::testing::Message() << "seed " << seed << " effect " << effect);
            ResetPalette(state);
            state->effect[1] = effect;
            // Color Frequency (1..12) and Morph Rate (6..16) are random by
            // default; make Fade Frequency random too, over 5..9.
            state->source[3 * PARAM_FADE_FREQUENCY + 1] = SOURCE_RANDOM;
            state->rangeLo[3 * PARAM_FADE_FREQUENCY + 1] = 9;
            state->rangeHi[3 * PARAM_FADE_FREQUENCY + 1] = 5;
            SeedRandom(seed);
            ColourEvent(state, 1);

            Replay r(seed);
            EXPECT_EQ(state->value[3 * PARAM_COLOR_FREQUENCY + 1], 1 + r.Next() % 12);
            EXPECT_EQ(state->value[3 * PARAM_FADE_FREQUENCY + 1], 5 + r.Next() % 5);
            EXPECT_EQ(state->value[3 * PARAM_MORPH_RATE + 1], 6 + r.Next() % 11);
            int coarse = r.Next() % 2;
            int ramp = effect == EFFECT_RAMP, fade = effect == EFFECT_FADE;
            if (effect == EFFECT_SMOOTH)
                coarse = 0;
            if (effect == EFFECT_COARSE)
                coarse = 1;
            if (effect == EFFECT_RANDOM) {
                ramp = r.Next() % 6 == 1;
                if (!ramp)
                    fade = r.Next() % 6 == 1;
            }
            EXPECT_EQ(state->coarse[1], coarse);
            EXPECT_EQ(state->ramp[1], ramp);
            EXPECT_EQ(state->fade[1], fade);
            r.Next();   // the wave shape
            if (coarse) {
                int spikes = r.Next() % 85 + 32;
                r.Next();   // smoothing passes
                for (int n = 0; n < spikes; ++n) {
                    r.Next();
                    r.Next();
                    r.Next();
                }
                ++coarseSeen;
            } else {
                ++smoothSeen;
            }
            EXPECT_EQ(state->offset[1], r.Next() % 236);
            EXPECT_EQ(Random(), r.Next()) << "a different number of draws";
        }
    }
    EXPECT_GT(coarseSeen, 0);
    EXPECT_GT(smoothSeen, 0);
}

// The palette engine's start: three gradient steps after the seed, then the
// gradient's three start values.
TEST_F(PaletteSequence, CreationDrawsTheGradientStepsThenItsStartValues)
{
    UseTestClock(5555);
    PaletteState* second = CreatePaletteState(surface.surface.dc);
    ASSERT_NE(second, nullptr);
    Replay r(5555);
    int steps[3];
    for (int c = 0; c < 3; ++c)
        steps[c] = r.Next() % 10;
    int start[3];
    for (int c = 0; c < 3; ++c)
        start[c] = r.Next() & 255;
    // The first entry is the start value moved by one step, unless that step
    // would leave 0..255.
    const BYTE first[3] = {second->customPalette[0].red, second->customPalette[0].green,
                           second->customPalette[0].blue};
    for (int c = 0; c < 3; ++c) {
        int next = start[c] + steps[c];
        EXPECT_EQ(first[c], next < 256 ? next : start[c]) << "component " << c;
    }
    EXPECT_EQ(Random(), r.Next());
    DestroyPaletteState(second);
}

// --- Pattern ------------------------------------------------------------------

class PatternSequence : public ModuleFixture {
protected:
    PatternSequence() : ModuleFixture({MODULE_PATTERN, PatternOpen, PatternStart, PatternFrame, PatternClose}) {}
};

// With every choice random: wave count before pixel function, the two
// offsets, the two scales, turbulence on/off and amount, its kind, band
// size, xor divisor, sum shift, wave shape (and the shape's own draws), then
// a column and a row frequency per wave, in turn.
TEST_F(PatternSequence, RandomChoicesDrawInTheirOrderThenColumnAndRowFrequenciesInTurn)
{
    OpenSurface(120, 80, 5000);
    PatternOpen(record);
    record->value[0] = 9;     // "Waves"
    record->value[1] = 100;   // "Turbulence": random
    record->value[2] = 21;    // "Type": random
    record->value[4] = 5;     // "Turbulence Type": random
    record->value[5] = 7;     // "Density"
    record->value[6] = 0;     // "Wave Type": random
    const PatternState* st = CurrentPatternState();
    int shapesSeen[7] = {0};
    for (unsigned seed = 1; seed <= 14; ++seed) {
        SCOPED_TRACE(seed);
        SeedRandom(seed * 2654435761u);
        PatternStart(record);
        Replay r(seed * 2654435761u);
        EXPECT_EQ(st->waves, 1 + r.Next() % 9);
        EXPECT_EQ(st->type, r.Next() % GENERATOR_COUNT);
        EXPECT_EQ(st->columnOffset, r.Next() % 236);
        EXPECT_EQ(st->rowOffset, r.Next() % 236);
        EXPECT_FLOAT_EQ(st->xScale, r.Fraction() + 0.05f);
        EXPECT_FLOAT_EQ(st->yScale, r.Fraction() + 0.05f);
        EXPECT_EQ(st->turbulenceOn, r.Next() % 3 == 0);
        float turbulence = r.Fraction();
        int kind = r.Next() % TURBULENCE_KINDS;
        EXPECT_EQ(st->turbulenceType, kind);
        static const float scale[TURBULENCE_KINDS] = {1100000.125f, 30000.0f, 50000.0f, 1100000.0f, 30000.0f};
        EXPECT_FLOAT_EQ(st->turbulence, (1.0f - turbulence) * scale[kind]);
        EXPECT_EQ(st->bandSize, r.Next() % 12000 + 1 + 2048);
        EXPECT_EQ(st->xorDivisor, r.Next() % 12 + 1);
        EXPECT_EQ(st->sumShift, 6 + r.Next() % 2);
        int shape = 1 + r.Next() % 6;
        EXPECT_EQ(st->waveType, shape);
        ++shapesSeen[shape];
        // The shape's own draws: a rough shape 2 + one per table entry, bumps
        // a count, passes and three per bump.
        float e = 0.02f;
        if (shape == 3 || shape == 6) {
            for (int i = 0; i < 2 + WAVE_TABLE_SIZE; ++i)
                r.Next();
            e = 0.2f;
        }
        if (shape >= 4) {
            int bumps = r.Next() % 85 + 32;
            r.Next();
            for (int i = 0; i < 3 * bumps; ++i)
                r.Next();
            e += 0.2f;
        }
        for (int k = 0; k < WAVE_COUNT; ++k) {
            EXPECT_FLOAT_EQ(st->columnFreq[k], 7 * 0.01f + 0.1f * r.Fraction() + e) << "wave " << k;
            EXPECT_FLOAT_EQ(st->rowFreq[k], 7 * 0.008f + 0.8f * r.Fraction() + e) << "wave " << k;
        }
        EXPECT_SAME_COUNT(r);
    }
    EXPECT_GT(shapesSeen[1] + shapesSeen[2], 0);
    EXPECT_GT(shapesSeen[3] + shapesSeen[6], 0);
    EXPECT_GT(shapesSeen[4] + shapesSeen[5], 0);
}

// --- Plasma -------------------------------------------------------------------

class PlasmaSequence : public ModuleFixture {
protected:
    PlasmaSequence() : ModuleFixture({MODULE_PLASMA, 0, PlasmaStart, PlasmaFrame, PlasmaClose}) {}
};

// Random roughness is drawn first, then the four corners: bottom left, top
// left, bottom right, top right. The corners keep their values in the
// finished picture.
TEST_F(PlasmaSequence, RoughnessThenTheFourCornersWhichTheFinishedPictureShows)
{
    OpenSurface(64, 48, 1000);
    record->value[0] = 100;   // "Roughness": random
    record->value[2] = -1;    // no finishing symmetry: the computed picture is shown
    const unsigned seeds[] = {5, 606, 70707};
    for (unsigned seed : seeds) {
        SCOPED_TRACE(seed);
        ClearTestSurface(&surface);
        SeedRandom(seed);
        PlasmaStart(record);
        Replay r(seed);
        r.Next();   // roughness 20..79
        int corners[4];
        for (int& c : corners)
            c = r.Next() % 236;
        EXPECT_SAME_COUNT(r);
        for (int frame = 0; frame < 20 && Drawn() < width * height; ++frame)
            PlasmaFrame(record);
        ASSERT_EQ(Drawn(), width * height) << "the picture did not finish";
        GdiFlush();
        // A corner drawn as 0 is filled in like any other point.
        // The picture's rows run bottom-up: its first row is the surface's last.
        const POINT at[4] = {{0, height - 1}, {0, 0}, {width - 1, height - 1}, {width - 1, 0}};
        for (int c = 0; c < 4; ++c) {
            if (corners[c]) {
                EXPECT_EQ(Entry(&surface, at[c].x, at[c].y), corners[c]) << "corner " << c;
            }
        }
    }
}

// A set roughness makes no draw: the corners come first.
TEST_F(PlasmaSequence, SetRoughnessStartsWithTheCorners)
{
    OpenSurface(64, 48, 1000);
    record->value[0] = 40;
    record->value[2] = -1;
    SeedRandom(4711);
    PlasmaStart(record);
    Replay r(4711);
    for (int i = 0; i < 4; ++i)
        r.Next();
    EXPECT_SAME_COUNT(r);
}

// --- Polygon and Bezier: the points are where the first frames draw -----------

class PolygonSequence : public ModuleFixture {
protected:
    PolygonSequence() : ModuleFixture({MODULE_POLYGON, 0, PolygonStart, PolygonFrame, 0}) {}
};

// Each vertex draws x, y, then the x and y directions. The first frame draws
// the outline through the vertices; the second through the vertices moved
// by their directions times the speed.
TEST_F(PolygonSequence, EachVertexDrawsItsPlaceThenItsDirections)
{
    OpenSurface(240, 160, 5000);
    const int vertices = 4, speed = 9;
    record->value[0] = vertices;
    record->value[1] = 1;       // "Symmetry"
    record->value[2] = speed;
    record->value[3] = 1;       // "Outline"
    record->value[4] = 1;
    record->value[5] = 1;
    record->value[6] = 0;
    const unsigned seeds[] = {12, 3456, 987654};
    for (unsigned seed : seeds) {
        SCOPED_TRACE(seed);
        SeedRandom(seed);
        PolygonStart(record);
        Replay r(seed);
        POINT at[vertices], direction[vertices];
        for (int i = vertices - 1; i >= 0; --i) {
            at[i].x = r.Next() % width;
            at[i].y = r.Next() % height;
            direction[i].x = r.Next() % 2 == 0 ? 1 : -1;
            direction[i].y = r.Next() % 2 == 0 ? 1 : -1;
        }
        EXPECT_SAME_COUNT(r);
        for (int frame = 0; frame < 2; ++frame) {
            ClearTestSurface(&surface);
            PolygonFrame(record);
            GdiFlush();
            for (int i = 0; i < vertices; ++i) {
                int x = at[i].x + frame * direction[i].x * speed, y = at[i].y + frame * direction[i].y * speed;
                // A vertex moving off the surface bounces instead; only
                // places inside are checked.
                if (x < 0 || x >= width || y < 0 || y >= height)
                    continue;
                EXPECT_EQ(Entry(&surface, x, y), 234 - frame) << "frame " << frame << " vertex " << i;
            }
        }
    }
}

class BezierSequence : public ModuleFixture {
protected:
    BezierSequence() : ModuleFixture({MODULE_BEZIER, BezierOpen, BezierStart, BezierFrame, BezierClose}) {}
};

// Each control point draws x, y, then the x and y directions; one curve has
// six points. The first frame moves them by direction times speed and draws
// the curve from its first to its fourth point.
TEST_F(BezierSequence, EachPointDrawsItsPlaceThenItsDirections)
{
    OpenSurface(240, 160, 5000);
    const int speed = 7;
    const int values[] = {1, 1, 100, 1, speed, 1000, 1, 1, 0};   // one curve, a one-pixel pen, no erasing
    for (int slot = 0; slot < 9; ++slot)
        record->value[slot] = values[slot];
    const unsigned seeds[] = {21, 2121, 212121};
    for (unsigned seed : seeds) {
        SCOPED_TRACE(seed);
        ClearTestSurface(&surface);
        SeedRandom(seed);
        BezierOpen(record);
        BezierStart(record);
        Replay r(seed);
        POINT moved[6];
        for (int i = 0; i < 6; ++i) {
            int x = r.Next() % (width - 9) + 5;
            int y = r.Next() % (height - 9) + 5;
            moved[i].x = x + ((r.Next() & 1) ? -speed : speed);
            moved[i].y = y + ((r.Next() & 1) ? -speed : speed);
        }
        EXPECT_SAME_COUNT(r);
        BezierFrame(record);
        GdiFlush();
        // The curve starts on its first point; GDI's flattening ends it up
        // to a few pixels short of its fourth.
        auto drawnNear = [&](POINT p, int reach) {
            for (int y = p.y - reach; y <= p.y + reach; ++y)
                for (int x = p.x - reach; x <= p.x + reach; ++x)
                    if (x >= 0 && x < width && y >= 0 && y < height && Entry(&surface, x, y) == 1)
                        return 1;
            return 0;
        };
        auto inside = [&](POINT p) { return p.x >= 0 && p.x < width && p.y >= 0 && p.y < height; };
        if (inside(moved[0])) {
            EXPECT_EQ(Entry(&surface, moved[0].x, moved[0].y), 1) << "first point";
        }
        if (inside(moved[3])) {
            EXPECT_TRUE(drawnNear(moved[3], 3)) << "fourth point";
        }
        BezierClose(record);
    }
}

// --- Cyclic, Ray, Star, Vortex: the drawn values read back -----------------------

class CyclicSequence : public ModuleFixture {
protected:
    CyclicSequence() : ModuleFixture({MODULE_CYCLIC, CyclicOpen, CyclicStart, CyclicFrame, CyclicClose}) {}
};

// Pulse rate (numerator, then divisor), the pen's shrink and spin, the
// lifetime, the three drift rates, then the x and y orbit formulas.
TEST_F(CyclicSequence, PulseThenPenThenLifetimeThenDriftThenFormulas)
{
    OpenSurface(200, 150, 5000);
    CyclicOpen(record);
    record->value[1] = 41;   // "Spasticity": k = 10
    const float k = 10.0f;
    const unsigned seeds[] = {8, 88, 8888, 888888};
    for (unsigned seed : seeds) {
        SCOPED_TRACE(seed);
        SeedRandom(seed);
        CyclicStart(record);
        CyclicView v;
        ViewCyclic(&v);
        Replay r(seed);
        float numerator = r.Fraction();
        EXPECT_FLOAT_EQ(v.pulseRate, numerator / (float)(r.Next() % 5 + 5));
        EXPECT_FLOAT_EQ(v.shrink, 1.0f / (1.5f + 4.0f * r.Fraction()));
        EXPECT_FLOAT_EQ(v.spin, r.Fraction() + 0.5f);
        EXPECT_EQ(v.deadline, testNow + 1000u * (DWORD)(r.Next() % 100 + 20));
        EXPECT_FLOAT_EQ(v.r0, (r.Fraction() + 0.05f) / (3.0f * k));
        EXPECT_FLOAT_EQ(v.r1, (r.Fraction() + 0.05f) / (5.0f * k));
        EXPECT_FLOAT_EQ(v.r2, (r.Fraction() + 0.05f) / (4.0f * k));
        EXPECT_EQ(v.formulaX, r.Next() % 8 + 1);
        EXPECT_EQ(v.formulaY, r.Next() % 8 + 1);
        EXPECT_SAME_COUNT(r);
    }
}

class RaySequence : public ModuleFixture {
protected:
    RaySequence() : ModuleFixture({MODULE_RAY, RayOpen, RayStart, RayFrame, RayClose}) {}
};

// Frequency, amplitude, density: each its control plus 0..5, in that order.
TEST_F(RaySequence, FrequencyThenAmplitudeThenDensity)
{
    OpenSurface(160, 120, 5000);
    RayOpen(record);
    record->value[0] = 3;
    record->value[1] = 20;
    record->value[2] = 40;
    const unsigned seeds[] = {1, 2, 3, 4, 5, 6};
    for (unsigned seed : seeds) {
        SCOPED_TRACE(seed);
        SeedRandom(seed * 2654435761u);
        RayStart(record);
        RayView v;
        ViewRay(&v);
        Replay r(seed * 2654435761u);
        EXPECT_EQ(v.frequency, r.Next() % 6 + 3);
        EXPECT_EQ(v.amplitude, r.Next() % 6 + 20);
        EXPECT_EQ(v.density, r.Next() % 6 + 40);
        EXPECT_SAME_COUNT(r);
    }
}

class StarSequence : public ModuleFixture {
protected:
    StarSequence() : ModuleFixture({MODULE_STAR, StarOpen, StarStart, StarFrame, StarClose}) {}
};

// The pen's shrink and spin first; then the stars from the last to the
// first, each x, y, z in a field, angle then depth in the tunnel.
TEST_F(StarSequence, PenThenStarsFromTheLastEachInItsOrder)
{
    OpenSurface(200, 150, 5000);
    StarOpen(record);
    record->value[0] = 7;
    SeedRandom(31);
    StarStart(record);
    StarView v;
    ViewStars(&v);
    Replay r(31);
    EXPECT_FLOAT_EQ(v.shrink, 1.0f / (1.5f + 4.0f * r.Fraction()));
    EXPECT_FLOAT_EQ(v.spin, r.Fraction() + 0.5f);
    ASSERT_EQ(v.count, 7);
    for (int i = 6; i >= 0; --i) {
        EXPECT_DOUBLE_EQ(v.x[i], r.Wide() * 800.0 - 400.0) << "star " << i;
        EXPECT_DOUBLE_EQ(v.y[i], r.Wide() * 600.0 - 300.0) << "star " << i;
        EXPECT_DOUBLE_EQ(v.z[i], r.Wide() * 800.0) << "star " << i;
    }
    EXPECT_SAME_COUNT(r);

    record->value[0] = 0;   // the tunnel: twenty stars on a ring
    SeedRandom(32);
    StarStart(record);
    ViewStars(&v);
    r = Replay(32);
    r.Next();
    r.Next();
    ASSERT_EQ(v.count, 20);
    for (int i = 19; i >= 0; --i) {
        double a = r.Wide() * 6.28;
        EXPECT_DOUBLE_EQ(v.x[i], sin(a) * 90.0) << "star " << i;
        EXPECT_DOUBLE_EQ(v.y[i], cos(a) * 90.0) << "star " << i;
        EXPECT_DOUBLE_EQ(v.z[i], r.Wide() * 150.0 + 200.0) << "star " << i;
    }
    EXPECT_SAME_COUNT(r);
}

class VortexSequence : public ModuleFixture {
protected:
    VortexSequence() : ModuleFixture({MODULE_VORTEX, 0, VortexStart, VortexFrame, VortexClose}) {}
};

// Swirl period, collapse, flux amplitude: one fraction each, in that order.
TEST_F(VortexSequence, SwirlThenCollapseThenFlux)
{
    OpenSurface(160, 120, 5000);
    record->value[1] = 100;   // "Spasticity"
    record->value[5] = 2;     // "Collapse"
    record->value[7] = 10;    // "Flux Amplitude"
    const unsigned seeds[] = {17, 1717, 171717};
    for (unsigned seed : seeds) {
        SCOPED_TRACE(seed);
        SeedRandom(seed);
        VortexStart(record);
        VortexView v;
        ViewVortex(&v);
        Replay r(seed);
        EXPECT_FLOAT_EQ(v.swirlPeriod, (r.Fraction() + 3.0f) * 201.0f);
        EXPECT_FLOAT_EQ(v.collapse, r.Fraction() + 2.0f);
        EXPECT_FLOAT_EQ(v.fluxAmplitude, r.Fraction() + 10.0f);
        EXPECT_SAME_COUNT(r);
    }
}

// --- Sphere and Effect: how many draws a start and a frame make -----------------

class SphereSequence : public ModuleFixture {
protected:
    SphereSequence() : ModuleFixture({MODULE_SPHERE, SphereOpen, SphereStart, SphereFrame, SphereClose}) {}
};

// A start draws the colour factor alone; a frame the spin and the distance,
// and the size when the type asks for random sizes.
TEST_F(SphereSequence, StartDrawsOnceAndAFrameTwiceOrThriceWithRandomSizes)
{
    OpenSurface(160, 120, 5000);
    SphereOpen(record);
    record->value[0] = 40;   // "Size"
    record->value[1] = 3;    // "Symmetry"
    for (int type = 0; type <= 4; type += 4) {
        SCOPED_TRACE(type);
        record->value[2] = type;
        SeedRandom(900 + type);
        SphereStart(record);
        Replay r(900 + type);
        r.Next();
        EXPECT_SAME_COUNT(r);
        SeedRandom(1900 + type);
        SphereFrame(record);
        r = Replay(1900 + type);
        for (int i = 0; i < (type ? 3 : 2); ++i)
            r.Next();
        EXPECT_SAME_COUNT(r);
    }
}

class EffectSequence : public ModuleFixture {
protected:
    EffectSequence() : ModuleFixture({MODULE_EFFECT, EffectOpen, EffectStart, EffectFrame, 0}) {}
};

// Starting draws nothing; a rectangle effect draws its two step parts.
TEST_F(EffectSequence, StartDrawsNothingAndRectanglesDrawTheirTwoSteps)
{
    OpenSurface(160, 120, 5000);
    EffectOpen(record);
    record->value[0] = 0;
    record->value[1] = 20;
    record->value[2] = 30;
    record->value[3] = 0;
    SeedRandom(55);
    EffectStart(record);
    Replay r(55);
    EXPECT_SAME_COUNT(r);
    SeedRandom(56);
    EffectFrame(record);
    r = Replay(56);
    r.Next();
    r.Next();
    EXPECT_SAME_COUNT(r);
}

// --- Bitmap: the picture picked at random -------------------------------------

class BitmapSequence : public ModuleFixture {
protected:
    BitmapSequence() : ModuleFixture({MODULE_BITMAP, BitmapOpen, BitmapStart, BitmapFrame, BitmapClose}) {}
};

// The loader seeds the generator from the clock and picks among the matching
// files with its first draw: file number first draw mod the file count.
TEST_F(BitmapSequence, RandomOrderPicksTheFileOfTheFirstDrawAfterTheClockSeed)
{
    std::string folder = FreshPictureFolder("sequence_bitmap");
    const int files = 5;
    for (int i = 0; i < files; ++i) {
        TestPicture p;
        p.width = p.height = 8;
        p.pixels.assign(64, (DWORD)(40 + 30 * i) * 0x010101);
        ASSERT_TRUE(WriteBmp((folder + "\\p" + std::to_string(i) + ".bmp").c_str(), p, 24, BMP_PLAIN, 0));
    }
    const DWORD clocks[] = {1000, 77777, 123456, 9999999};
    int picksSeen = 0, lastPick = -1;
    for (DWORD clock : clocks) {
        SCOPED_TRACE(clock);
        ResetBitmapStatus();
        ASSERT_NO_FATAL_FAILURE(OpenSurface(40, 30, clock));
        lstrcpynA(record->path, (folder + "\\*.bmp").c_str(), PATH_SIZE);
        const int values[] = {1, 0, 5, 0, 1, 0};   // stretched, random order
        for (int slot = 0; slot < 6; ++slot)
            record->value[slot] = values[slot];
        ClearTestSurface(&surface);
        BitmapOpen(record);
        BitmapStart(record);
        BitmapStatus status = {};
        DWORD began = GetTickCount();
        while (status.picturesPainted < 1 && GetTickCount() - began < 10000) {
            BitmapFrame(record);
            GetBitmapStatus(&status);
            Sleep(2);
        }
        ASSERT_EQ(status.picturesPainted, 1);
        BitmapClose(record);
        int pick = Replay(clock).Next() % files;
        GdiFlush();
        EXPECT_EQ(Entry(&surface, 20, 15), 40 + 30 * pick) << "file " << pick;
        picksSeen += pick != lastPick;
        lastPick = pick;
        CloseTestSurface(&surface);
    }
    EXPECT_GT(picksSeen, 1);
    ASSERT_TRUE(OpenTestSurface(&surface, 8, 8));   // for the fixture's tear-down
}

}  // namespace
