// The module framework: control table, clamping, randomising, resetting and
// the Strength rules of the frame loop.
#include <gtest/gtest.h>
#include "runtime/framework.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/soundlink.h"
#include "support/surface_support.h"
#include <string.h>

namespace {

// A module whose frame entry records the frame numbers it ran on and returns
// a chosen result.
unsigned int callFrames[64];
int callCount = 0;
int frameResult = 0;
unsigned int currentFrame = 0;

DWORD clockNow = 0;
DWORD clockStep = 0;   // milliseconds each frame call takes on the test clock
DWORD TestClock(void)
{
    return clockNow;
}

int CountingFrame(ModuleRecord*)
{
    if (callCount < 64)
        callFrames[callCount] = currentFrame;
    ++callCount;
    clockNow += clockStep;
    return frameResult;
}

class Framework : public ::testing::Test {
protected:
    TestSurface surface;
    void SetUp() override
    {
        ASSERT_TRUE(OpenTestSurface(&surface, 64, 48));
        callCount = 0;
        frameResult = 0;
    }
    void TearDown() override { CloseTestSurface(&surface); }

    // Runs frames 1..frames of the loop's Strength rule for one module.
    void RunFrames(int strength, unsigned int frames)
    {
        ModuleRecord* record = &moduleTable[MODULE_BEZIER];
        record->frame = CountingFrame;
        record->value[SLOT_STRENGTH] = strength;
        for (currentFrame = 1; currentFrame <= frames; ++currentFrame)
            RunFrameEntry(record, currentFrame);
    }
};

TEST_F(Framework, ControlTableCoversEveryModuleWithStrength)
{
    EXPECT_EQ(controlCount, 120);
    for (int module = 0; module < MODULE_COUNT; ++module) {
        const ModuleRecord* record = &moduleTable[module];
        EXPECT_TRUE(record->defined[SLOT_STRENGTH]) << moduleNames[module];
        EXPECT_EQ(record->minimum[SLOT_STRENGTH], -10);
        EXPECT_EQ(record->maximum[SLOT_STRENGTH], 10);
        EXPECT_EQ(record->value[SLOT_STRENGTH], 1);
    }
    // A few rows checked against the table as users see them.
    EXPECT_EQ(moduleTable[MODULE_BEZIER].labelId[0], 10);
    EXPECT_EQ(moduleTable[MODULE_STAR].maximum[13], 128);
    EXPECT_EQ(moduleTable[MODULE_RAY].minimum[4], -500);
    EXPECT_EQ(moduleTable[MODULE_VORTEX].defaultValue[1], 300);
    EXPECT_FALSE(moduleTable[MODULE_PLASMA].defined[2]);
    EXPECT_EQ(moduleTable[MODULE_RAY].labelId[2], 121);
    EXPECT_TRUE(moduleTable[MODULE_BEZIER].soundCapable[1]);
    EXPECT_FALSE(moduleTable[MODULE_BEZIER].soundCapable[0]);
    EXPECT_STREQ(moduleNames[MODULE_RANDOM], "Random");
}

// In the render loop a module's frame has a time budget: once the entry
// calls have used it, "Strength" runs no more of them this frame.
TEST_F(Framework, ASpentFrameBudgetEndsTheStrengthLoop)
{
    ModuleRecord* record = &moduleTable[MODULE_BEZIER];
    record->frame = CountingFrame;
    record->value[SLOT_STRENGTH] = 10;
    SetTickSource(TestClock);
    clockNow = 5000;
    clockStep = 150;
    long cutBefore = framesCutShort;
    StartFrameBudget();
    EXPECT_EQ(RunFrameEntry(record, 1), 3);   // 450 ms after three calls
    EndFrameBudget();
    EXPECT_EQ(framesCutShort, cutBefore + 1);

    // A fresh budget for the next frame; cheap calls all run.
    clockStep = 1;
    StartFrameBudget();
    EXPECT_EQ(RunFrameEntry(record, 2), 10);
    EndFrameBudget();
    // Outside the render loop there is no budget.
    clockStep = 1000;
    EXPECT_EQ(RunFrameEntry(record, 3), 10);
    EXPECT_EQ(framesCutShort, cutBefore + 1);
    SetTickSource(0);
    clockStep = 0;
}

TEST_F(Framework, DefineControlSetsEveryField)
{
    ModuleRecord* record = &moduleTable[MODULE_BITMAP];
    strcpy(record->path, "C:\\pictures\\*.bmp");
    record->source[3] = 2;
    record->state[3] = 0.9f;
    DefineControl(MODULE_BITMAP, 37, 3, 2, 0, 10);
    EXPECT_EQ(record->defined[3], 1);
    EXPECT_EQ(record->labelId[3], 37);
    EXPECT_EQ(record->value[3], 2);
    EXPECT_EQ(record->defaultValue[3], 2);
    EXPECT_EQ(record->rangeLo[3], 0);
    EXPECT_EQ(record->rangeHi[3], 10);
    EXPECT_EQ(record->sense[3], 10);
    EXPECT_FLOAT_EQ(record->state[3], 0.5f);
    EXPECT_EQ(record->source[3], 0);
    EXPECT_EQ(record->soundCapable[3], 0);
    EXPECT_EQ(record->path[0], 0);
}

TEST_F(Framework, ClampFallsBackToDefaultAndLimits)
{
    ModuleRecord* record = &moduleTable[MODULE_BEZIER];
    record->value[0] = 500;      // limits 1..20, default 1
    record->rangeLo[0] = -5;
    record->rangeHi[0] = 99;
    record->value[4] = 0;        // limits 1..320, default 4
    record->rangeLo[4] = 400;
    record->rangeHi[4] = -7;
    record->value[2] = 20;       // in range: kept
    ClampControls(record);
    EXPECT_EQ(record->value[0], 1);
    EXPECT_EQ(record->rangeLo[0], 1);
    EXPECT_EQ(record->rangeHi[0], 20);
    EXPECT_EQ(record->value[4], 4);
    EXPECT_EQ(record->rangeLo[4], 1);
    EXPECT_EQ(record->rangeHi[4], 320);
    EXPECT_EQ(record->value[2], 20);
}

TEST_F(Framework, RandomizeDrawsInclusiveRangeEitherWayRound)
{
    SeedRandom(12345);
    ModuleRecord* record = &moduleTable[MODULE_BEZIER];
    record->source[0] = 1;
    record->rangeLo[0] = 8;
    record->rangeHi[0] = 3;
    record->value[5] = 77;       // fixed source: untouched
    int seen[10] = {0};
    for (int i = 0; i < 2000; ++i) {
        RandomizeControls(record);
        ASSERT_GE(record->value[0], 3);
        ASSERT_LE(record->value[0], 8);
        seen[record->value[0]]++;
    }
    for (int v = 3; v <= 8; ++v)
        EXPECT_GT(seen[v], 200) << v;
    EXPECT_EQ(record->value[5], 77);
}

TEST_F(Framework, RandomGeneratorIsTheSharedLcgAndSeedable)
{
    SeedRandom(1);
    // state = 1 * 214013 + 2531011 = 2745024; >> 16 = 41
    EXPECT_EQ(Random(), 41);
    SeedRandom(1);
    int a = Random(), b = Random();
    SeedRandom(1);
    EXPECT_EQ(Random(), a);
    EXPECT_EQ(Random(), b);
    for (int i = 0; i < 1000; ++i) {
        int r = Random();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 32767);
    }
}

TEST_F(Framework, ResetModuleControlsRestoresDefaultsOnly)
{
    ModuleRecord* record = &moduleTable[MODULE_BITMAP];
    strcpy(record->path, "C:\\pictures\\*.bmp");
    record->value[2] = 500;
    record->source[2] = 3;
    record->rangeLo[2] = 40;
    record->rangeHi[2] = 50;
    record->sense[2] = 2;
    record->state[2] = 0.1f;
    ResetModuleControls(MODULE_BITMAP);
    EXPECT_EQ(record->path[0], 0);
    EXPECT_EQ(record->value[2], 12);
    EXPECT_EQ(record->source[2], 0);
    EXPECT_EQ(record->rangeLo[2], 0);
    EXPECT_EQ(record->rangeHi[2], 1000);
    EXPECT_EQ(record->sense[2], 10);
    EXPECT_FLOAT_EQ(record->state[2], 0.5f);
    EXPECT_EQ(record->defaultValue[2], 12);
    EXPECT_EQ(record->labelId[2], 36);
}

TEST_F(Framework, NegativeStrengthRunsEveryNthFrame)
{
    RunFrames(-3, 10);
    ASSERT_EQ(callCount, 3);
    EXPECT_EQ(callFrames[0], 3u);
    EXPECT_EQ(callFrames[1], 6u);
    EXPECT_EQ(callFrames[2], 9u);
}

TEST_F(Framework, StrengthZeroAndOneRunOnceAFrame)
{
    RunFrames(0, 5);
    EXPECT_EQ(callCount, 5);
    callCount = 0;
    frameResult = ENTRY_WAIT;    // ignored with strength 0
    RunFrames(0, 5);
    EXPECT_EQ(callCount, 5);
    callCount = 0;
    frameResult = 0;
    RunFrames(1, 5);
    EXPECT_EQ(callCount, 5);
}

TEST_F(Framework, PositiveStrengthRepeatsUntilWait)
{
    RunFrames(5, 2);
    EXPECT_EQ(callCount, 10);
    callCount = 0;
    frameResult = ENTRY_WAIT;
    RunFrames(5, 2);
    EXPECT_EQ(callCount, 2);     // one call per frame: the 42 stops it
}

}  // namespace

namespace {

// EvaluateControls renews only the live slots: a Set and a Random slot keep
// their values (a Random draw is made at start, not here), an Oscillate slot
// takes the oscillator's next value and a sound slot the level's.
TEST_F(Framework, EvaluateControlsRenewsOnlyTheLiveSlots)
{
    SoundShare* share = OpenSoundLink();
    ASSERT_NE(share, nullptr);
    sound = share;
    share->volumeScale = 3.0f;
    share->leftLevel = 1.5f;
    share->rightLevel = 1.5f;

    ModuleRecord* record = &moduleTable[MODULE_SPHERE];
    record->source[0] = SOURCE_SET;        // "Size" 15..250
    record->value[0] = 99;
    record->source[2] = SOURCE_RANDOM;     // "Type" 0..63
    record->value[2] = 17;
    record->source[1] = SOURCE_OSCILLATE;  // "Symmetry" 2..128
    record->rangeLo[1] = 2;
    record->rangeHi[1] = 128;
    record->state[1] = 0.5f;
    record->sense[1] = 10;
    record->source[4] = SOURCE_VOLUME;     // "X Tiling" 1..20
    record->rangeLo[4] = 1;
    record->rangeHi[4] = 20;
    record->state[4] = 0.0f;
    record->sense[4] = 10;

    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // The oscillator's next step, by its formula.
        float phase = 0.5f + (float)(round + 1) * 10 * 0.0025f;
        int i = (int)(phase * 2048.0f) & 2047;
        float v = (float)sineTable[i] * 0.00006103888f * 0.5f + 0.5f;
        int oscillated = (int)(2.0f + v * 126.0f);

        unsigned before = randomState;
        EvaluateControls(record);
        EXPECT_EQ(randomState, before) << "a draw was made";
        EXPECT_EQ(record->value[0], 99);
        EXPECT_EQ(record->value[2], 17);
        EXPECT_EQ(record->value[1], oscillated);
        EXPECT_EQ(record->value[4], 10);   // 1 + 19 x 0.5
        EXPECT_EQ(record->state[2], 0.5f);
    }
    // The sound slot follows the level as it changes.
    share->leftLevel = share->rightLevel = 3.0f;
    EvaluateControls(record);
    EXPECT_EQ(record->value[4], 20);
    EXPECT_EQ(record->value[0], 99);
    EXPECT_EQ(record->value[2], 17);

    sound = nullptr;
    memset((char*)share + 8, 0, SOUND_SHARE_SIZE - 8);
    CloseSoundLink(share);
}

}  // namespace
