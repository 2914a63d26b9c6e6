// A hostile shared sound record against the real saver: this process makes
// the record before the saver and rewrites it every 5 ms with levels and
// scales of 0, full scale, huge, tiny, NaN and infinite, odd gain divisors,
// flipping flags, and info lines and a display name without a terminating
// zero, while a display runs whose Polygon, Sphere, Star and Ray controls all
// follow sound at sense 10. The saver must keep drawing, every value it
// evaluates (caught by F1 captures) must stay within its limits, and it must
// close cleanly on a key.
#include <gtest/gtest.h>
#include "graphics/palette.h"
#include "runtime/framework.h"
#include "runtime/controls.h"
#include "runtime/soundlink.h"
#include "settings/registry.h"
#include "support/harness.h"
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

namespace {

// A minute of hostile writes; the writer's whole cycle of values repeats
// about every 0.4 s, so every combination is met many times.
const DWORD RUN_SECONDS = 60;
const DWORD INTERVAL_SECONDS = 5;

volatile LONG writerRunning = 0;
volatile LONG writes = 0;

DWORD WINAPI HostileWriter(LPVOID view)
{
    SoundShare* share = (SoundShare*)view;
    const float levels[] = {0.0f, 3.0f, 1e38f, 1e-38f, NAN, INFINITY, -INFINITY};
    const float scales[] = {3.0f, 0.0f, 1e38f, 1e-38f, NAN, INFINITY, -INFINITY, 3.0f};
    const unsigned divisors[] = {0u, 1u, 0x80000000u, 0xFFFFFFFFu};
    const int levelCount = sizeof(levels) / sizeof(levels[0]);
    const int scaleCount = sizeof(scales) / sizeof(scales[0]);
    unsigned i = 0;
    while (writerRunning) {
        float level = levels[i % levelCount];
        float scale = scales[(i / levelCount) % scaleCount];
        share->leftLevel = level;
        share->rightLevel = levels[(i + 1) % levelCount];
        share->volumeScale = scale;
        share->bandScale = scale;
        for (int b = 0; b < 16; ++b) {
            share->bandLevelA[b] = levels[(i + b) % levelCount];
            share->bandLevelB[b] = level;
        }
        share->gainDivisor = divisors[(i / 3) % 4];
        share->autoGain = (i / 7) & 1;
        share->slowCpu = (i / 11) & 1;
        share->analyzerRunning = 1;
        share->moduleSoundEnabled = 1;
        share->paletteSoundEnabled = 1;
        memset(share->infoText1, 'A' + (int)(i % 26), sizeof(share->infoText1));
        memset(share->infoText2, 'W', sizeof(share->infoText2));
        memset(share->infoText3, 'M', sizeof(share->infoText3));
        memset(share->displayName, 'N', sizeof(share->displayName));
        share->infoSerial = (int)i;
        ++i;
        InterlockedIncrement(&writes);
        Sleep(5);
    }
    return 0;
}

const int loudModules[] = {MODULE_POLYGON, MODULE_SPHERE, MODULE_STAR, MODULE_RAY};

int StoredInt(HKEY key, const char* name, int* value)
{
    DWORD size = sizeof(*value), type = 0;
    // The store writes numbers as 4-byte binary values.
    return RegQueryValueExA(key, name, NULL, &type, (BYTE*)value, &size) == ERROR_SUCCESS && size == 4 &&
           (type == REG_BINARY || type == REG_DWORD);
}

// Checks a captured display: each module's stored control values and each
// palette value within their limits. Returns how many values were read.
int CheckCapture(const std::string& display, const PaletteState* limits)
{
    int read = 0;
    for (int module : loudModules) {
        std::string path = std::string(SAVED_KEY) + "\\" + display + "\\Modules\\" + moduleNames[module];
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            ADD_FAILURE() << "no module key " << path;
            continue;
        }
        for (int row = 0; row < controlCount; ++row) {
            const ControlDefinition* c = &controlTable[row];
            if (c->module != module)
                continue;
            char name[32];
            snprintf(name, sizeof(name), "Control%d", c->slot);
            int value = 0;
            if (!StoredInt(key, name, &value))
                continue;
            ++read;
            EXPECT_GE(value, c->minimum) << display << " " << moduleNames[module] << " " << name;
            EXPECT_LE(value, c->maximum) << display << " " << moduleNames[module] << " " << name;
        }
        RegCloseKey(key);
    }
    std::string path = std::string(SAVED_KEY) + "\\" + display + "\\Palette";
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        const char* channels[3] = {"Red", "Green", "Blue"};
        const char* parameters[PALETTE_PARAMETERS] = {"Scale", "Density", "FadeFactor", "RampDecay", "Seconds",
                                                      "CycleRate", "Event", "Direction", "MorphRate", "Intensity"};
        for (int p = 0; p < PALETTE_PARAMETERS; ++p) {
            if (!limits->soundCapable[p])
                continue;
            for (int ch = 0; ch < 3; ++ch) {
                char name[64];
                snprintf(name, sizeof(name), "%s%s", channels[ch], parameters[p]);
                int value = 0;
                if (!StoredInt(key, name, &value))
                    continue;
                ++read;
                EXPECT_GE(value, limits->minimum[p]) << display << " " << name;
                EXPECT_LE(value, limits->maximum[p]) << display << " " << name;
            }
        }
        RegCloseKey(key);
    }
    return read;
}

TEST(HostileRecord, SaverKeepsDrawingWithinLimitsAndClosesCleanly)
{
    RegDeleteTreeA(HKEY_CURRENT_USER, SAVER_KEY);
    BuildValueNames();

    // This process makes the record first, as a foreign writer would.
    SoundShare* share = OpenSoundLink();
    ASSERT_NE(share, nullptr);
    sound = share;
    share->analyzerRunning = 1;
    share->moduleSoundEnabled = 1;
    share->paletteSoundEnabled = 1;
    share->volumeScale = 3.0f;
    share->bandScale = 3.0f;

    // The display: four modules, every sound-capable control and palette
    // parameter following a sound source at sense 10 over its full range.
    memset(moduleTable, 0, sizeof(moduleTable));
    for (int module = 0; module < MODULE_COUNT; ++module)
        moduleTable[module].name = moduleNames[module];
    for (int row = 0; row < controlCount; ++row) {
        const ControlDefinition* c = &controlTable[row];
        DefineControl(c->module, c->labelId, c->slot, c->defaultValue, c->minimum, c->maximum);
    }
    for (int row = 0; row < controlCount; ++row) {
        const ControlDefinition* c = &controlTable[row];
        if (!c->sound)
            continue;
        moduleTable[c->module].source[c->slot] = SOURCE_VOLUME + row % 19;
        moduleTable[c->module].sense[c->slot] = 10;
    }
    static PaletteState palette;
    memset(&palette, 0, sizeof(palette));
    ResetPalette(&palette);
    for (int p = 0; p < PALETTE_PARAMETERS; ++p)
        for (int ch = 0; ch < 3; ++ch)
            if (palette.soundCapable[p]) {
                palette.source[3 * p + ch] = SOURCE_VOLUME + (p + ch) % 19;
                palette.sense[3 * p + ch] = 10;
            }
    currentPalette = &palette;
    memset(saverSettings.moduleActive, 0, sizeof(saverSettings.moduleActive));
    for (int module : loudModules)
        saverSettings.moduleActive[module] = 1;
    saverSettings.showInfo = 1;
    saverSettings.showName = 5;
    ASSERT_TRUE(SaveDisplay("[T] Loud"));
    ASSERT_TRUE(WriteSaverValue("Active", REG_SZ, "[T] Loud", sizeof("[T] Loud")));
    currentPalette = 0;

    writerRunning = 1;
    HANDLE writer = CreateThread(NULL, 0, HostileWriter, share, 0, NULL);
    ASSERT_NE(writer, (HANDLE)NULL);

    SaverProcess saver;
    memset(&saver, 0, sizeof(saver));
    long first = StartRenderingSaver(&saver);
    if (first >= 0) {
        DWORD start = GetTickCount();
        long previous = SaverFrameCounter(saver.window);
        int captures = 0;
        for (DWORD at = INTERVAL_SECONDS; at <= RUN_SECONDS; at += INTERVAL_SECONDS) {
            // A capture in the middle of each interval catches the values the
            // saver is running with.
            while (GetTickCount() - start < (at * 1000) - INTERVAL_SECONDS * 500)
                Sleep(50);
            PostMessageA(saver.window, WM_KEYDOWN, VK_F1, 0);
            ++captures;
            while (GetTickCount() - start < at * 1000)
                Sleep(50);
            ASSERT_FALSE(WaitSaverExit(&saver, 0)) << "the saver ended at " << at << " s";
            long now = SaverFrameCounter(saver.window);
            printf("hostile record: %2lu s, frames %ld, writes %ld\n", (unsigned long)at, now, (long)writes);
            fflush(stdout);
            EXPECT_GT(now, previous) << "no frame drawn in the interval ending at " << at << " s";
            previous = now;
        }
        std::string picture = OutputPath("hostile_record.bmp");
        SaveScreenBmp(picture.c_str());
        EXPECT_GT(CountLitPixels(picture), 0);
        CloseSaverCleanly(&saver);

        int found = 0;
        for (int n = 1; n <= captures; ++n) {
            char display[32];
            snprintf(display, sizeof(display), "Capture #%d", n);
            std::string path = std::string(SAVED_KEY) + "\\" + display;
            if (!KeyExists(path.c_str()))
                continue;
            ++found;
            EXPECT_GT(CheckCapture(display, &palette), 20) << display;
        }
        EXPECT_GE(found, 1) << "no capture was stored";
    }
    writerRunning = 0;
    WaitForSingleObject(writer, 5000);
    CloseHandle(writer);
    EXPECT_GT(writes, 1000) << "the writer did not keep writing";
    sound = 0;
    CloseSoundLink(share);
}

}  // namespace
