// Loud, odd and hostile sound levels: every live control value, of a module
// slot or a palette parameter, stays inside its hard limits whatever level
// the shared record holds.
#include <gtest/gtest.h>
#include "graphics/palette.h"
#include "runtime/controls.h"
#include "runtime/framework.h"
#include "runtime/soundlink.h"
#include <math.h>
#include <string.h>

namespace {

PaletteState paletteRecord;

class LoudLevels : public ::testing::Test {
protected:
    SoundShare* share = nullptr;
    void SetUp() override
    {
        share = OpenSoundLink();
        ASSERT_NE(share, nullptr);
        sound = share;
        share->analyzerRunning = 1;
        share->moduleSoundEnabled = 1;
        share->paletteSoundEnabled = 1;
        ResetSoundNormalisation();
        memset(moduleTable, 0, sizeof(moduleTable));
        for (int row = 0; row < controlCount; ++row) {
            const ControlDefinition* c = &controlTable[row];
            DefineControl(c->module, c->labelId, c->slot, c->defaultValue, c->minimum, c->maximum);
            moduleTable[c->module].soundCapable[c->slot] = c->sound;
        }
        memset(&paletteRecord, 0, sizeof(paletteRecord));
        ResetPalette(&paletteRecord);
    }
    void TearDown() override
    {
        sound = nullptr;
        memset((char*)share + 8, 0, SOUND_SHARE_SIZE - 8);
        CloseSoundLink(share);
        ResetSoundNormalisation();
    }
    // Every level of the record (both channels, every band) at `level`.
    void Levels(float level, int autoGain)
    {
        share->autoGain = autoGain;
        share->leftLevel = level;
        share->rightLevel = level;
        for (int b = 0; b < 16; ++b) {
            share->bandLevelA[b] = level;
            share->bandLevelB[b] = level;
        }
        share->volumeScale = 1;
        share->bandScale = 1;
        share->gainDivisor = 1;
    }
    // Every sound-capable slot of every module follows `source` over its
    // full range at sense 10; every module evaluates its controls.
    void EvaluateEverySlot(int source)
    {
        for (int row = 0; row < controlCount; ++row) {
            const ControlDefinition* c = &controlTable[row];
            if (!c->sound)
                continue;
            ModuleRecord* record = &moduleTable[c->module];
            record->source[c->slot] = source;
            record->rangeLo[c->slot] = c->minimum;
            record->rangeHi[c->slot] = c->maximum;
            record->state[c->slot] = 0.5f;
        }
        for (int module = 0; module < MODULE_COUNT; ++module)
            EvaluateControls(&moduleTable[module]);
    }
};

const char* KindName(int source)
{
    return source == SOURCE_VOLUME ? "volume" : source == SOURCE_LEFT ? "left" : source == SOURCE_RIGHT ? "right" : "band";
}

// A level of 1e30 is what a broken or hostile analyzer can publish: each kind
// of sound source, with and without auto gain, gives exactly the maximum.
TEST_F(LoudLevels, ALevelOf1e30GivesExactlyTheMaximumForEverySourceKind)
{
    const int kinds[] = {SOURCE_VOLUME, SOURCE_LEFT, SOURCE_RIGHT, SOURCE_FIRST_BAND, SOURCE_FIRST_BAND + 7,
                         SOURCE_LAST};
    for (int autoGain = 0; autoGain <= 1; ++autoGain) {
        for (int source : kinds) {
            SCOPED_TRACE(::testing::Message() << KindName(source) << " source " << source << " auto gain "
                                              << autoGain);
            ResetSoundNormalisation();
            Levels(1e30f, autoGain);
            EvaluateEverySlot(source);
            int checked = 0;
            for (int row = 0; row < controlCount; ++row) {
                const ControlDefinition* c = &controlTable[row];
                if (!c->sound)
                    continue;
                EXPECT_EQ(moduleTable[c->module].value[c->slot], c->maximum)
                    << moduleNames[c->module] << " slot " << c->slot;
                ++checked;
            }
            EXPECT_GT(checked, 40);

            for (int p = 0; p < PALETTE_PARAMETERS; ++p) {
                if (!paletteRecord.soundCapable[p])
                    continue;
                for (int ch = 0; ch < 3; ++ch) {
                    int k = 3 * p + ch;
                    paletteRecord.source[k] = source;
                    paletteRecord.rangeLo[k] = paletteRecord.minimum[p];
                    paletteRecord.rangeHi[k] = paletteRecord.maximum[p];
                    paletteRecord.state[k] = 0.5f;
                    paletteRecord.sense[k] = 10;
                    EXPECT_EQ(PaletteValue(&paletteRecord, p, ch), paletteRecord.maximum[p])
                        << "palette parameter " << p << " channel " << ch;
                }
            }
        }
    }
}

// Without auto gain a level above 1 may carry a value past the end of its
// range (as the level formula says), but never past the slot's maximum; an
// inverted range goes the other way and stops at the minimum.
TEST_F(LoudLevels, ALevelAboveOnePassesTheRangeButNeverTheLimits)
{
    ModuleRecord* sphere = &moduleTable[MODULE_SPHERE];
    sphere->source[0] = SOURCE_VOLUME;  // "Size", limits 15..250
    sphere->rangeLo[0] = 15;
    sphere->rangeHi[0] = 100;

    Levels(1.5f, 0);
    EXPECT_EQ((int)EvaluateSlot(sphere, 0), 142);  // 15 + 85 * 1.5, past rangeHi
    Levels(3.0f, 0);
    EXPECT_EQ((int)EvaluateSlot(sphere, 0), 250);
    Levels(1e38f, 0);
    EXPECT_EQ((int)EvaluateSlot(sphere, 0), 250);

    sphere->rangeLo[0] = 100;
    sphere->rangeHi[0] = 15;
    sphere->state[0] = 0.5f;
    Levels(1e30f, 0);
    EXPECT_EQ((int)EvaluateSlot(sphere, 0), 15);

    // The same for a palette parameter: Intensity 0..200 over a range 0..100.
    int k = 3 * PARAM_INTENSITY;
    paletteRecord.source[k] = SOURCE_LEFT;
    paletteRecord.sense[k] = 10;
    Levels(1.5f, 0);
    EXPECT_EQ(PaletteValue(&paletteRecord, PARAM_INTENSITY, 0), 150);
    Levels(3e20f, 0);
    EXPECT_EQ(PaletteValue(&paletteRecord, PARAM_INTENSITY, 0), 200);
}

// The hostile values of a foreign writer: every evaluated value of every
// sound-capable slot stays within its limits, whatever the level, scale,
// divisor, smoothing or Turbo Mode.
TEST_F(LoudLevels, HostileLevelsScalesAndDivisorsKeepEveryValueWithinItsLimits)
{
    const float levels[] = {0.0f, 3.0f, 1e38f, 1e-38f, NAN, INFINITY, -INFINITY, -1e30f, 1e30f};
    const float scales[] = {0.0f, 3.0f, 1e-38f, 1e38f, NAN, -1.0f};
    const unsigned divisors[] = {0u, 1u, 0x80000000u, 0xFFFFFFFFu};
    const int senses[] = {10, 1, 0};
    int evaluations = 0, outside = 0;
    for (float level : levels)
        for (float scale : scales)
            for (unsigned divisor : divisors)
                for (int autoGain = 0; autoGain <= 1; ++autoGain)
                    for (int slow = 0; slow <= 1; ++slow)
                        for (int sense : senses) {
                            Levels(level, autoGain);
                            share->volumeScale = scale;
                            share->bandScale = scale;
                            share->gainDivisor = divisor;
                            share->slowCpu = slow;
                            for (int row = 0; row < controlCount; ++row) {
                                const ControlDefinition* c = &controlTable[row];
                                if (!c->sound)
                                    continue;
                                ModuleRecord* record = &moduleTable[c->module];
                                record->source[c->slot] = SOURCE_VOLUME + (row % 19);
                                record->sense[c->slot] = sense;
                                float v = EvaluateSlot(record, c->slot);
                                ++evaluations;
                                outside += !(v >= c->minimum && v <= c->maximum);
                            }
                        }
    EXPECT_GT(evaluations, 100000);
    EXPECT_EQ(outside, 0);
}

}  // namespace
