// The palette engine on a real emulated surface with a driven clock: colour
// events, morphs, scrolling, blackout, brightness, event ticks and the
// custom palette.
#include <gtest/gtest.h>
#include "graphics/palette.h"
#include "graphics/surface.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "support/harness.h"
#include "support/surface_support.h"
#include <string.h>

namespace {

class Palette : public ::testing::Test {
protected:
    TestSurface surface;
    PaletteState* state = nullptr;
    void SetUp() override
    {
        ASSERT_TRUE(OpenTestSurface(&surface, 64, 48));
        UseTestClock(100000);
        state = CreatePaletteState(surface.surface.dc);
        ASSERT_NE(state, nullptr);
        SeedRandom(4321);
    }
    void TearDown() override
    {
        DestroyPaletteState(state);
        CloseTestSurface(&surface);
        UseRealClock();
    }
    // Parameter p of every channel fixed at a value.
    void Fix(int parameter, int value)
    {
        for (int ch = 0; ch < 3; ++ch) {
            state->source[3 * parameter + ch] = SOURCE_SET;
            state->value[3 * parameter + ch] = value;
        }
    }
    void Step(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            testNow += 1;
            PaletteStep(state);
        }
    }
    // Channel ch starts a colour event at the next step.
    void Due(int ch) { state->nextEventTime[ch] = testNow - 1; }
    int EntryColour(int i, int ch) const
    {
        const PALETTEENTRY& e = state->entries->entry[i];
        return ch == 0 ? e.peRed : ch == 1 ? e.peGreen : e.peBlue;
    }
};

TEST_F(Palette, ResetGivesTheDefaultParameters)
{
    for (int k = 0; k < PALETTE_SLOTS; ++k) {
        state->value[k] = -7;
        state->sense[k] = 3;
        state->state[k] = 0.9f;
    }
    state->effect[1] = EFFECT_CUSTOM;
    state->morphing[2] = 1;
    state->nextEventTime[0] = 5;
    ResetPalette(state);
    for (int ch = 0; ch < 3; ++ch) {
        EXPECT_EQ(state->value[3 * PARAM_BRIGHTNESS + ch], 100);
        EXPECT_EQ(state->value[3 * PARAM_COLOR_FREQUENCY + ch], 6);
        EXPECT_EQ(state->source[3 * PARAM_COLOR_FREQUENCY + ch], SOURCE_RANDOM);
        EXPECT_EQ(state->rangeHi[3 * PARAM_COLOR_FREQUENCY + ch], 12);
        EXPECT_EQ(state->value[3 * PARAM_CYCLE_RATE + ch], 30);
        EXPECT_EQ(state->value[3 * PARAM_EVENT_RATE + ch], 1000);
        EXPECT_EQ(state->rangeLo[3 * PARAM_DIRECTION + ch], -3);
        EXPECT_EQ(state->value[3 * PARAM_MORPH_RATE + ch], 9);
        EXPECT_EQ(state->source[3 * PARAM_MORPH_RATE + ch], SOURCE_RANDOM);
        EXPECT_EQ(state->rangeHi[3 * PARAM_INTENSITY + ch], 100);
        EXPECT_EQ(state->eventDuration[ch], 15000);
        EXPECT_EQ(state->nextEventTime[ch], 0u);
        EXPECT_EQ(state->morphing[ch], 0);
    }
    for (int k = 0; k < PALETTE_SLOTS; ++k) {
        EXPECT_EQ(state->sense[k], 7);
        EXPECT_FLOAT_EQ(state->state[k], 0.5f);
    }
    EXPECT_EQ(state->minimum[PARAM_DIRECTION], -50);
    EXPECT_EQ(state->maximum[PARAM_EVENT_RATE], 3000);
    EXPECT_EQ(state->minimum[PARAM_CYCLE_RATE], 10);
    EXPECT_EQ(state->soundCapable[PARAM_DIRECTION], 1);
    EXPECT_EQ(state->soundCapable[PARAM_DURATION], 0);
    EXPECT_EQ(state->effect[1], EFFECT_CUSTOM) << "reset leaves the effects alone";
    EXPECT_EQ(state->entryCount, 236);
}

TEST_F(Palette, CreationKeepsTheSurfaceKeyColoursAndAnAnimatedPalette)
{
    EXPECT_EQ(surfacePalette, surface.surface.palette);
    ASSERT_NE(paletteHandle, (HPALETTE)0);
    PALETTEENTRY entries[256];
    EXPECT_EQ(GetPaletteEntries(paletteHandle, 0, 256, entries), 236u);
    EXPECT_EQ(entries[100].peFlags, PC_RESERVED);
    EXPECT_EQ(state->entries->version, 0x300);
    EXPECT_EQ(state->entries->count, 236);
    // Palette indices still land on their own surface bytes.
    HBRUSH brush = CreateSolidBrush(PALETTEINDEX(77));
    RECT r = {3, 3, 5, 5};
    FillRect(surface.surface.dc, &r, brush);
    DeleteObject(brush);
    EXPECT_EQ(SurfaceEntry(&surface, 4, 4), 77);
    // The custom palette holds a gradient with every entry used.
    for (int i = 0; i < 236; ++i)
        ASSERT_EQ(state->customPalette[i].used, 1);
}

TEST_F(Palette, StartChannelsGeneratesStripsAndSchedulesTheNextEvent)
{
    Fix(PARAM_DURATION, 12);
    StartChannels(state);
    for (int ch = 0; ch < 3; ++ch) {
        EXPECT_EQ(state->eventDuration[ch], 12000);
        EXPECT_EQ(state->nextEventTime[ch], testNow + 12000);
        EXPECT_GE(state->value[3 * PARAM_COLOR_FREQUENCY + ch], 1);
        EXPECT_LE(state->value[3 * PARAM_COLOR_FREQUENCY + ch], 12);
        EXPECT_GE(state->value[3 * PARAM_MORPH_RATE + ch], 6);
        EXPECT_LE(state->value[3 * PARAM_MORPH_RATE + ch], 16);
        EXPECT_EQ(state->position[ch], 236);
    }
    int lit = 0;
    for (int ch = 0; ch < 3; ++ch)
        for (int i = 0; i < 236; ++i)
            lit += state->current[ch][i] != 0;
    EXPECT_GT(lit, 100);
    // Before the deadline no event starts; one step after it, one does.
    Step();
    EXPECT_EQ(state->morphing[0], 0);
    testNow = state->nextEventTime[0] + 1;
    PaletteStep(state);
    EXPECT_EQ(state->morphing[0], 1);
}

TEST_F(Palette, MorphRate64EndsAMorphAfterFourSteps)
{
    StartChannels(state);
    Fix(PARAM_MORPH_RATE, 64);
    Fix(PARAM_DIRECTION, 0);
    Due(1);
    Step();
    EXPECT_EQ(state->morphing[1], 1);
    EXPECT_EQ(state->morphStep[1], 64);
    Step(2);
    EXPECT_EQ(state->morphing[1], 1) << "still morphing after three steps";
    Step();
    EXPECT_EQ(state->morphing[1], 0) << "the fourth step ends the morph";
    // The last blend is three quarters of the way to the new strip.
    for (int i = 0; i < 236; ++i) {
        int expected = (state->from[1][i] * 63 + state->to[1][i] * 192) >> 8;
        ASSERT_EQ(state->current[1][i], expected) << i;
    }
    // No direction: the strip now stays as it is.
    BYTE held[236];
    memcpy(held, state->current[1], 236);
    Step(3);
    EXPECT_EQ(memcmp(held, state->current[1], 236), 0);
}

TEST_F(Palette, DirectionScrollsTheStripAndZeroHoldsThePaletteStill)
{
    StartChannels(state);
    Fix(PARAM_DIRECTION, 2);
    BYTE before[236];
    memcpy(before, state->current[0], 236);
    Step();
    EXPECT_EQ(memcmp(state->current[0], before + 2, 234), 0) << "entries move down by two";

    state->value[3 * PARAM_DIRECTION + 0] = -3;
    memcpy(before, state->current[0], 236);
    Step();
    EXPECT_EQ(memcmp(state->current[0] + 4, before + 1, 232), 0) << "entries move up by three";

    Fix(PARAM_DIRECTION, 0);
    Step();
    PALETTEENTRY still[236];
    memcpy(still, state->entries->entry, sizeof(still));
    Step(20);
    EXPECT_EQ(memcmp(still, state->entries->entry, sizeof(still)), 0);
    // Brightness alone still changes the colours.
    Fix(PARAM_BRIGHTNESS, 50);
    Step();
    EXPECT_NE(memcmp(still, state->entries->entry, sizeof(still)), 0);
}

TEST_F(Palette, BrightnessZeroGivesBlackEntriesWhileTheStripsMove)
{
    StartChannels(state);
    Fix(PARAM_BRIGHTNESS, 0);
    Fix(PARAM_DIRECTION, 3);
    BYTE before[3][236];
    memcpy(before, state->current, sizeof(before));
    Step(10);
    EXPECT_NE(memcmp(before, state->current, sizeof(before)), 0) << "the strips kept moving";
    for (int i = 0; i < 236; ++i)
        for (int ch = 0; ch < 3; ++ch)
            ASSERT_EQ(EntryColour(i, ch), 0) << i;
    // The stored brightness is not replaced by a live evaluation.
    for (int ch = 0; ch < 3; ++ch) {
        state->source[ch] = SOURCE_OSCILLATE;
        state->rangeLo[ch] = 100;
        state->rangeHi[ch] = 100;
    }
    Step();
    EXPECT_EQ(state->value[0], 0);
    int lit = 0;
    for (int i = 0; i < 236; ++i)
        lit += EntryColour(i, 0) == state->current[0][i] && state->current[0][i] != 0;
    EXPECT_GT(lit, 20);
}

// A brightness above 100 (a stored value the engine is handed) saturates
// bright entries at 255 instead of wrapping them round to dark ones.
TEST_F(Palette, BrightnessAboveFullSaturatesInsteadOfWrapping)
{
    StartChannels(state);
    Fix(PARAM_DIRECTION, 0);
    for (int ch = 0; ch < 3; ++ch)
        for (int i = 0; i < 236; ++i)
            state->current[ch][i] = (BYTE)(i + 20);
    Fix(PARAM_BRIGHTNESS, 150);
    Step();
    for (int i = 0; i < 236; ++i) {
        int expected = (i + 20) * 150 / 100;
        if (expected > 255)
            expected = 255;
        for (int ch = 0; ch < 3; ++ch)
            ASSERT_EQ(EntryColour(i, ch), expected) << "entry " << i << " channel " << ch;
    }
}

TEST_F(Palette, BlackoutEmptiesAScrollingChannelToBlack)
{
    StartChannels(state);
    Fix(PARAM_DIRECTION, 3);
    Fix(PARAM_MORPH_RATE, 32);
    state->effect[0] = EFFECT_BLACKOUT;
    Due(0);
    Step();
    for (int i = 0; i < 236; ++i)
        ASSERT_EQ(state->to[0][i], 0) << "the new strip is all black";
    Step(8);
    ASSERT_EQ(state->morphing[0], 0);
    // Scrolling only brings in black entries, so the channel empties.
    Step(80);
    for (int i = 0; i < 236; ++i) {
        ASSERT_EQ(state->current[0][i], 0) << i;
        ASSERT_EQ(EntryColour(i, 0), 0) << i;
    }
    int green = 0;
    for (int i = 0; i < 236; ++i)
        green += state->current[1][i] != 0;
    EXPECT_GT(green, 20) << "other channels keep their colours";
}

TEST_F(Palette, DurationZeroStartsAnEventAtEveryStepOnceTheMorphEnds)
{
    StartChannels(state);
    Fix(PARAM_DURATION, 0);
    Fix(PARAM_MORPH_RATE, 64);
    Due(2);
    int events[20];
    for (int s = 0; s < 20; ++s) {
        DWORD before = state->nextEventTime[2];
        Step();
        events[s] = state->nextEventTime[2] != before;
    }
    // Events at steps 1, 5, 9, ...: each morph takes four steps.
    for (int s = 0; s < 20; ++s)
        EXPECT_EQ(events[s], s % 4 == 0) << "step " << s + 1;
}

TEST_F(Palette, EventRateSetsTheJumpIntervalAnd3000StopsJumps)
{
    StartChannels(state);
    Fix(PARAM_EVENT_RATE, 5);
    for (int ch = 0; ch < 3; ++ch)
        state->eventCounter[ch] = 0;
    int resets = 0;
    for (int t = 0; t < 70; ++t) {
        EventTick(state);
        resets += state->eventCounter[0] == 0;
    }
    EXPECT_EQ(resets, 10) << "one jump every E + 2 ticks";

    Fix(PARAM_EVENT_RATE, 3000);
    Fix(PARAM_DURATION, 10);
    Due(0);
    Due(1);
    Due(2);
    Step();
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(state->value[3 * PARAM_EVENT_RATE + ch], 16777215);
    int direction = state->value[3 * PARAM_DIRECTION + 1];
    int position = state->position[1];
    for (int t = 0; t < 10000; ++t)
        EventTick(state);
    EXPECT_EQ(state->value[3 * PARAM_DIRECTION + 1], direction);
    EXPECT_EQ(state->position[1], position);
}

TEST_F(Palette, RandomParametersAreDrawnInTheirRangeAtEachEvent)
{
    for (int ch = 0; ch < 3; ++ch) {
        int k = 3 * PARAM_INTENSITY + ch;
        state->source[k] = SOURCE_RANDOM;
        state->rangeLo[k] = 90;   // either way round
        state->rangeHi[k] = 60;
    }
    int seen[101] = {0};
    for (int e = 0; e < 400; ++e) {
        ColourEvent(state, e % 3);
        int v = state->value[3 * PARAM_INTENSITY + e % 3];
        ASSERT_GE(v, 60);
        ASSERT_LE(v, 90);
        seen[v]++;
    }
    EXPECT_GT(seen[60], 0);
    EXPECT_GT(seen[90], 0);
}

TEST_F(Palette, LiveParametersAreEvaluatedAtEveryGeneratedEntry)
{
    StartChannels(state);
    for (int ch = 0; ch < 3; ++ch) {
        int k = 3 * PARAM_INTENSITY + ch;
        state->source[k] = SOURCE_OSCILLATE;
        state->rangeLo[k] = 0;
        state->rangeHi[k] = 100;
        state->sense[k] = 10;
    }
    float before = state->state[3 * PARAM_INTENSITY];
    ColourEvent(state, 0);
    // One evaluation at the event and one per generated entry.
    EXPECT_NEAR(state->state[3 * PARAM_INTENSITY] - before, 237 * 0.025f, 0.01f);
}

TEST_F(Palette, CustomEffectTakesTheCustomPaletteInOrder)
{
    for (int i = 0; i < 236; ++i) {
        state->customPalette[i].red = (BYTE)i;
        state->customPalette[i].green = (BYTE)(255 - i);
        state->customPalette[i].blue = (BYTE)(i / 2);
    }
    for (int ch = 0; ch < 3; ++ch)
        state->effect[ch] = EFFECT_CUSTOM;
    Fix(PARAM_INTENSITY, 100);
    StartChannels(state);
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(state->customChosen[ch], 1);
    for (int i = 0; i < 236; ++i) {
        ASSERT_EQ(state->current[0][i], i);
        ASSERT_EQ(state->current[1][i], 255 - i);
        ASSERT_EQ(state->current[2][i], i / 2);
    }
    // Intensity scales the custom colours, capped at full strength.
    Fix(PARAM_INTENSITY, 200);
    ColourEvent(state, 0);
    EXPECT_EQ(state->current[0][100], 200);
    EXPECT_EQ(state->current[0][200], 255);
}

TEST_F(Palette, RandomGradientStepsEachComponentAndBouncesAtTheEnds)
{
    CustomEntry custom[236];
    memset(custom, 0, sizeof(custom));
    RandomGradient(custom, 7, 0, 9);
    int bounces = 0;
    for (int i = 0; i < 236; ++i) {
        ASSERT_EQ(custom[i].used, 1);
        if (i == 0)
            continue;
        int dr = custom[i].red - custom[i - 1].red;
        int db = custom[i].blue - custom[i - 1].blue;
        ASSERT_TRUE(dr == 7 || dr == -7 || dr == 0) << i;
        ASSERT_TRUE(db == 9 || db == -9 || db == 0) << i;
        ASSERT_EQ(custom[i].green, custom[0].green);
        bounces += dr == 0;
    }
    EXPECT_GE(bounces, 3) << "236 steps of 7 must bounce off both ends";
}

TEST_F(Palette, ScheduleEventsStartsEveryChannelHalfASecondLater)
{
    StartChannels(state);
    ScheduleEvents(state);
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(state->nextEventTime[ch], testNow + 500);
    testNow += 501;
    PaletteStep(state);
    for (int ch = 0; ch < 3; ++ch)
        EXPECT_EQ(state->morphing[ch], 1);
}

TEST_F(Palette, EmulatedSurfaceKeepsAnimatingWhileAPlainDeviceStops)
{
    StartChannels(state);
    Fix(PARAM_DIRECTION, 1);
    Step(300);
    BYTE before[236];
    memcpy(before, state->current[0], 236);
    Step();
    EXPECT_NE(memcmp(before, state->current[0], 236), 0) << "the emulated surface is a palette device";

    // A memory context of a true-colour screen has no palette: 237 steps
    // after an event the engine stops until the next event.
    HDC plain = CreateCompatibleDC(NULL);
    PaletteState* other = CreatePaletteState(plain);
    ASSERT_NE(other, nullptr);
    StartChannels(other);
    for (int ch = 0; ch < 3; ++ch) {
        other->value[3 * PARAM_DIRECTION + ch] = 1;
        other->source[3 * PARAM_DIRECTION + ch] = 0;
    }
    for (int s = 0; s < 300; ++s) {
        testNow += 1;
        PaletteStep(other);
    }
    EXPECT_EQ(other->animate, 0);
    memcpy(before, other->current[0], 236);
    testNow += 1;
    PaletteStep(other);
    EXPECT_EQ(memcmp(before, other->current[0], 236), 0);
    DestroyPaletteState(other);
    DeleteDC(plain);
}

TEST_F(Palette, OddStoredValuesStayInsideTheStrips)
{
    StartChannels(state);
    Fix(PARAM_DIRECTION, 50000);
    Fix(PARAM_COLOR_FREQUENCY, -77);
    Fix(PARAM_FADE_FREQUENCY, -5);
    Fix(PARAM_INTENSITY, -30);
    Step(5);
    Fix(PARAM_DIRECTION, -50000);
    Fix(PARAM_MORPH_RATE, 0);
    Due(0);
    Step(300);
    EXPECT_EQ(state->morphing[0], 0) << "a zero morph rate must still end the morph";
    for (int ch = 0; ch < 3; ++ch)
        state->effect[ch] = EFFECT_FADE;
    Fix(PARAM_INTENSITY, 100);
    StartChannels(state);
    Step(5);
}

// Busy blocks of the process heap the size of one wave table (2048 ints and
// the global memory's own few bytes).
int WaveSizedBlocks(void)
{
    HANDLE heap = GetProcessHeap();
    if (!HeapLock(heap))
        return -1;
    PROCESS_HEAP_ENTRY entry;
    entry.lpData = NULL;
    int count = 0;
    while (HeapWalk(heap, &entry))
        if ((entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.cbData >= 8192 && entry.cbData <= 8192 + 64)
            ++count;
    HeapUnlock(heap);
    return count;
}

// The three wave tables are shared by every engine of the process: an engine
// destroyed while another lives leaves them (the other's strips come from
// them), and the last one frees them.
TEST_F(Palette, WaveTablesStayWhileAnEngineLivesAndGoWithTheLast)
{
    int withOne = WaveSizedBlocks();
    ASSERT_GE(withOne, 3) << "the heap cannot be walked";
    PaletteState* second = CreatePaletteState(surface.surface.dc);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(WaveSizedBlocks(), withOne) << "a second engine made tables of its own";
    DestroyPaletteState(second);
    EXPECT_EQ(WaveSizedBlocks(), withOne) << "the tables went while an engine still lives";
    // The living engine's strips still come from the tables: not all black.
    StartChannels(state);
    int lit = 0;
    for (int ch = 0; ch < 3; ++ch)
        for (int i = 0; i < 236; ++i)
            lit += state->current[ch][i] != 0;
    EXPECT_GT(lit, 100);
    DestroyPaletteState(state);
    state = nullptr;
    EXPECT_EQ(WaveSizedBlocks(), withOne - 3) << "the last engine left the tables behind";
}

}  // namespace
