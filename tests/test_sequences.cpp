// Seeded sequences: where a module or the palette engine makes several
// random draws, the order of the draws is part of what a saved seed shows.
// Each case replays the shared generator by its formula and pins which draw
// lands where, and how many draws were made.
#include <gtest/gtest.h>
#include "graphics/palette.h"
#include "modules/generators.h"
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include <string.h>

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
};

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

}  // namespace
