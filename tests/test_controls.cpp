// Control sources: the sine table, the oscillator, sound levels with and
// without auto gain, and the live-source test, driven through the real
// shared sound record.
#include <gtest/gtest.h>
#include "runtime/controls.h"
#include "runtime/soundlink.h"
#include <math.h>
#include <string.h>

namespace {

class Controls : public ::testing::Test {
protected:
    SoundShare* share = nullptr;
    void SetUp() override
    {
        share = OpenSoundLink();
        ASSERT_NE(share, nullptr);
        sound = share;
        ResetSoundNormalisation();
    }
    void TearDown() override
    {
        sound = nullptr;
        memset((char*)share + 8, 0, SOUND_SHARE_SIZE - 8);
        CloseSoundLink(share);
    }
    void SetLevels(float left, float right)
    {
        share->leftLevel = left;
        share->rightLevel = right;
    }
};

TEST(SineTable, FollowsTheSineWithItsOneStoredException)
{
    const double pi = 3.14159265358979323846;
    int mismatches = 0;
    for (int i = 0; i < 2048; ++i) {
        if (i == 1967)
            continue;
        double x = 16382.0 * sin(2 * pi * (i + 1) / 2048.0);
        int expected = (int)(x < 0 ? -floor(-x + 0.5) : floor(x + 0.5));
        mismatches += sineTable[i] != expected;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(sineTable[1967], -3980);
    EXPECT_EQ(sineTable[1023], 0);
    EXPECT_EQ(sineTable[511], 16382);
    EXPECT_EQ(sineTable[1535], -16382);
}

TEST(SourceNames, ListsTheTwentyTwoSources)
{
    EXPECT_STREQ(sourceNames[0], "Set");
    EXPECT_STREQ(sourceNames[2], "Oscillate");
    EXPECT_STREQ(sourceNames[3], "Volume");
    EXPECT_STREQ(sourceNames[5], "Right");
    EXPECT_STREQ(sourceNames[6], "150Hz");
    EXPECT_STREQ(sourceNames[14], "3.25KHz");
    EXPECT_STREQ(sourceNames[21], "18KHz");
    for (int i = 0; i < 22; ++i)
        ASSERT_NE(sourceNames[i], nullptr) << i;
}

TEST_F(Controls, OscillatorSweepsTheRangeAndRepeatsEveryFortyEvaluations)
{
    float state = 0.5f;
    float values[200];
    for (int i = 0; i < 200; ++i)
        values[i] = ControlValue(SOURCE_OSCILLATE, &state, 10, 0, 100);
    float low = 100, high = 0;
    for (int i = 0; i < 200; ++i) {
        ASSERT_GE(values[i], 0.0f);
        ASSERT_LE(values[i], 100.0f);
        low = fminf(low, values[i]);
        high = fmaxf(high, values[i]);
    }
    EXPECT_LT(low, 1.0f);
    EXPECT_GT(high, 99.0f);
    for (int i = 0; i + 40 < 200; ++i)
        EXPECT_NEAR(values[i + 40], values[i], 0.2f) << i;
    // Not a shorter period: half a period covers the whole range once.
    float lo20 = 100, hi20 = 0;
    for (int i = 0; i < 20; ++i)
        lo20 = fminf(lo20, values[i]), hi20 = fmaxf(hi20, values[i]);
    EXPECT_LT(hi20 - lo20, 99.0f);
}

TEST_F(Controls, OscillatorSpeedIsTheSenseAndAnInvertedRangeMirrors)
{
    float slow = 0.5f, normal = 0.5f, inverted = 0.5f;
    float slowValues[160];
    for (int i = 0; i < 160; ++i) {
        slowValues[i] = ControlValue(SOURCE_OSCILLATE, &slow, 5, 0, 100);
        float v = ControlValue(SOURCE_OSCILLATE, &normal, 10, 0, 100);
        float w = ControlValue(SOURCE_OSCILLATE, &inverted, 10, 100, 0);
        EXPECT_NEAR(v + w, 100.0f, 0.01f) << i;
    }
    for (int i = 0; i + 80 < 160; ++i)
        EXPECT_NEAR(slowValues[i + 80], slowValues[i], 0.2f) << i;
    float lo = 100, hi = 0;
    for (int i = 0; i < 80; ++i)
        lo = fminf(lo, slowValues[i]), hi = fmaxf(hi, slowValues[i]);
    EXPECT_GT(hi - lo, 99.0f) << "one slow period covers the range";
    lo = 100, hi = 0;
    for (int i = 0; i < 40; ++i)
        lo = fminf(lo, slowValues[i]), hi = fmaxf(hi, slowValues[i]);
    EXPECT_LT(hi - lo, 99.0f) << "half a slow period does not";
}

TEST_F(Controls, OscillatorKeepsMovingAfterAVeryLongRun)
{
    // A phase that has run for days: the value must still move and stay in range.
    float state = 900000.0f;
    float first = ControlValue(SOURCE_OSCILLATE, &state, 7, 0, 100);
    int changes = 0;
    float previous = first;
    for (int i = 0; i < 200; ++i) {
        float v = ControlValue(SOURCE_OSCILLATE, &state, 7, 0, 100);
        ASSERT_GE(v, 0.0f);
        ASSERT_LE(v, 100.0f);
        changes += v != previous;
        previous = v;
    }
    EXPECT_GT(changes, 150);
}

TEST_F(Controls, SoundFollowsAtSenseTenSmoothsBelowAndFreezesAtZero)
{
    share->volumeScale = 10;
    SetLevels(4, 6);   // volume level 0.5
    float fast = 0.0f;
    EXPECT_NEAR(ControlValue(SOURCE_VOLUME, &fast, 10, 0, 200), 100.0f, 0.01f);

    float smooth = 0.0f;
    float v1 = ControlValue(SOURCE_VOLUME, &smooth, 5, 0, 200);
    float v2 = ControlValue(SOURCE_VOLUME, &smooth, 5, 0, 200);
    EXPECT_NEAR(v1, 50.0f, 0.01f);
    EXPECT_NEAR(v2, 75.0f, 0.01f);

    float frozen = 0.3f;
    for (int i = 0; i < 1000; ++i) {
        SetLevels((float)(i % 10), (float)(i % 7));
        ASSERT_EQ(ControlValue(SOURCE_LEFT, &frozen, 0, 0, 100), 0.3f * 100) << i;
    }
    EXPECT_EQ(frozen, 0.3f);
}

// A damaged sense is held to 0..10: above 10 the blend would overshoot the
// level (and run away on later calls), below 0 it would move against it.
TEST_F(Controls, SenseOutsideZeroToTenActsAsItsNearerEnd)
{
    share->volumeScale = 1;
    SetLevels(1, 1);   // volume level 1
    float over = 0.5f;
    EXPECT_FLOAT_EQ(ControlValue(SOURCE_VOLUME, &over, 20, 0, 100), 100.0f);
    EXPECT_FLOAT_EQ(over, 1.0f);
    float wild = 0.5f;
    for (int i = 0; i < 50; ++i)
        EXPECT_FLOAT_EQ(ControlValue(SOURCE_VOLUME, &wild, 1000, 0, 100), 100.0f) << i;
    float under = 0.5f;
    EXPECT_FLOAT_EQ(ControlValue(SOURCE_VOLUME, &under, -5, 0, 100), 50.0f);
    EXPECT_FLOAT_EQ(under, 0.5f);
}

TEST_F(Controls, LevelsWithoutAutoGainComeFromTheScales)
{
    share->volumeScale = 10;
    share->bandScale = 4;
    SetLevels(2, 8);
    share->bandLevelA[3] = 1;
    share->bandLevelB[3] = 3;
    EXPECT_FLOAT_EQ(SoundLevel(SOURCE_VOLUME), 0.5f);
    EXPECT_FLOAT_EQ(SoundLevel(SOURCE_LEFT), 0.2f);
    EXPECT_FLOAT_EQ(SoundLevel(SOURCE_RIGHT), 0.8f);
    EXPECT_FLOAT_EQ(SoundLevel(SOURCE_FIRST_BAND + 3), 0.5f);
    // Loud input is passed on as it is.
    SetLevels(30, 30);
    EXPECT_FLOAT_EQ(SoundLevel(SOURCE_VOLUME), 3.0f);
    // An inverted range turns the level round.
    float state = 0;
    SetLevels(2, 2);
    EXPECT_NEAR(ControlValue(SOURCE_LEFT, &state, 10, 100, 0), 80.0f, 0.01f);
}

TEST_F(Controls, SlowCpuMakesEveryBandFollowTheVolume)
{
    share->volumeScale = 10;
    share->bandScale = 10;
    float band = 0.5f, volume = 0.5f, plainBand = 0.5f;
    int differ = 0;
    for (int i = 0; i < 50; ++i) {
        SetLevels((float)(i % 9), (float)(i % 5));
        share->bandLevelA[6] = (float)((i * 3) % 11);   // "2KHz"
        share->bandLevelB[6] = 1;
        share->slowCpu = 1;
        float b = ControlValue(12, &band, 6, 0, 100);
        float v = ControlValue(SOURCE_VOLUME, &volume, 6, 0, 100);
        ASSERT_EQ(b, v) << i;
        share->slowCpu = 0;
        differ += ControlValue(12, &plainBand, 6, 0, 100) != v;
    }
    EXPECT_GT(differ, 25) << "without slowCpu the band must follow its own level";
}

TEST_F(Controls, AutoGainClampsTheFirstSampleAndNormalisesLaterOnes)
{
    share->autoGain = 1;
    share->gainDivisor = 2;
    SetLevels(4, 4);   // x = 2: maximum and minimum both 2
    EXPECT_EQ(SoundLevel(SOURCE_VOLUME), 1.0f);
    SetLevels(1, 1);   // x = 0.5: minimum 0.5
    EXPECT_NEAR(SoundLevel(SOURCE_VOLUME), 0.5f / 1.5f, 1e-6);
    SetLevels(8, 0);   // left x = 4: maximum 4
    EXPECT_EQ(SoundLevel(SOURCE_LEFT), 1.0f);   // 4 / 3.5, clamped
    SetLevels(2, 0);
    EXPECT_NEAR(SoundLevel(SOURCE_LEFT), 1.0f / 3.5f, 1e-6);

    // The bands keep their own maximum and minimum, without the divisor.
    share->bandLevelA[0] = 3;
    share->bandLevelB[0] = 3;
    EXPECT_EQ(SoundLevel(SOURCE_FIRST_BAND), 1.0f);
    share->bandLevelA[0] = 1;
    share->bandLevelB[0] = 1;
    EXPECT_NEAR(SoundLevel(SOURCE_FIRST_BAND), 1.0f / 2.0f, 1e-6);

    // The maxima live on across evaluations until reset.
    SetLevels(1, 1);
    EXPECT_NEAR(SoundLevel(SOURCE_VOLUME), 0.5f / 3.5f, 1e-6);
}

TEST_F(Controls, ZeroOrBrokenScalesGiveLevelZeroAndFiniteValues)
{
    SetLevels(5, 5);
    share->bandLevelA[2] = 5;
    share->volumeScale = 0;
    share->bandScale = 0;
    EXPECT_EQ(SoundLevel(SOURCE_VOLUME), 0.0f);
    EXPECT_EQ(SoundLevel(SOURCE_RIGHT), 0.0f);
    EXPECT_EQ(SoundLevel(SOURCE_FIRST_BAND + 2), 0.0f);
    float state = 0.5f;
    float v = 0;
    for (int i = 0; i < 100; ++i)
        v = ControlValue(SOURCE_VOLUME, &state, 10, 10, 20);
    EXPECT_EQ(v, 10.0f);

    share->autoGain = 1;
    share->gainDivisor = 0;
    EXPECT_EQ(SoundLevel(SOURCE_VOLUME), 0.0f);
    EXPECT_EQ(SoundLevel(SOURCE_LEFT), 0.0f);

    // Garbage in the record never reaches a control as NaN or infinity.
    share->autoGain = 0;
    share->volumeScale = 1e-30f;
    SetLevels(1e30f, 1e30f);
    state = 0.5f;
    v = ControlValue(SOURCE_VOLUME, &state, 10, 0, 100);
    EXPECT_TRUE(isfinite(v));
    SetLevels(NAN, NAN);
    share->volumeScale = 1;
    v = ControlValue(SOURCE_LEFT, &state, 10, 0, 100);
    EXPECT_TRUE(isfinite(v));
    share->autoGain = 1;
    share->gainDivisor = 1;
    v = ControlValue(SOURCE_LEFT, &state, 10, 0, 100);
    EXPECT_TRUE(isfinite(v));
    SetLevels(1, 1);
    EXPECT_EQ(SoundLevel(SOURCE_LEFT), 1.0f) << "a NaN sample must not poison the maximum";
    state = NAN;
    EXPECT_TRUE(isfinite(ControlValue(SOURCE_OSCILLATE, &state, 10, 0, 100)));
}

TEST_F(Controls, LiveSourcesNeedTheAnalyzerAndModuleSound)
{
    EXPECT_EQ(IsLiveSource(SOURCE_SET), 0);
    EXPECT_EQ(IsLiveSource(SOURCE_RANDOM), 0);
    EXPECT_EQ(IsLiveSource(SOURCE_OSCILLATE), 1);
    EXPECT_EQ(IsLiveSource(SOURCE_VOLUME), 0);
    share->analyzerRunning = 1;
    EXPECT_EQ(IsLiveSource(SOURCE_VOLUME), 0);
    share->moduleSoundEnabled = 1;
    EXPECT_EQ(IsLiveSource(SOURCE_VOLUME), 1);
    EXPECT_EQ(IsLiveSource(SOURCE_LAST), 1);
    EXPECT_EQ(IsLiveSource(SOURCE_LAST + 1), 0);
    EXPECT_EQ(IsLiveSource(-1), 0);
    share->analyzerRunning = 0;
    EXPECT_EQ(IsLiveSource(8), 0);
}

TEST_F(Controls, NoSoundLinkMeansSilenceAndNoLiveSoundSources)
{
    share->analyzerRunning = 1;
    share->moduleSoundEnabled = 1;
    share->volumeScale = 1;
    SetLevels(1, 1);
    sound = nullptr;
    EXPECT_EQ(IsLiveSource(SOURCE_VOLUME), 0);
    EXPECT_EQ(IsLiveSource(SOURCE_OSCILLATE), 1);
    EXPECT_EQ(SoundLevel(SOURCE_VOLUME), 0.0f);
    float state = 0.5f;
    EXPECT_EQ(ControlValue(SOURCE_RIGHT, &state, 10, 5, 25), 5.0f);
}

}  // namespace
