// The real saver under Wine and Xvfb running Vortex, Ray and Random alone:
// it keeps rendering, paints the screen and, for Random, moves from one
// selection to the next.
#include <gtest/gtest.h>
#include "runtime/framework.h"
#include "runtime/soundlink.h"
#include "settings/registry.h"
#include "support/harness.h"
#include <set>
#include <stdio.h>
#include <string.h>
#include <string>

namespace {

class ModulesAlone : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // The store's start-up sequence: controls defined, first-run
        // displays and the saver key in place.
        InitModules();
    }
    void MakeActive(int module, void (*adjust)(ModuleRecord*))
    {
        ASSERT_TRUE(MakeModuleActive(module, adjust)) << moduleNames[module];
    }
    // Runs the saver for `seconds`, checks that it renders all along and
    // returns the most lit pixels of one screenshot a second.
    long RunAndShoot(const char* picture, int seconds)
    {
        SaverProcess saver;
        long first = StartRenderingSaver(&saver);
        if (first < 0)
            return -1;
        std::string path = OutputPath(picture);
        long lit = -1;
        for (int second = 0; second < seconds; ++second) {
            Sleep(1000);
            EXPECT_TRUE(SaveScreenBmp(path.c_str()));
            long shot = CountLitPixels(path);
            printf("%s after %d s: %ld lit\n", picture, second + 1, shot);
            if (shot > lit)
                lit = shot;
        }
        long later = SaverFrameCounter(saver.window);
        EXPECT_GT(later, first) << "the frame counter stopped";
        CloseSaverCleanly(&saver);
        return lit;
    }
};

TEST_F(ModulesAlone, VortexPaintsItsBands)
{
    MakeActive(MODULE_VORTEX, [](ModuleRecord* r) { r->value[3] = 1; });
    long lit = RunAndShoot("modules_d_vortex.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 10);
}

TEST_F(ModulesAlone, RayPaintsItsOutlines)
{
    MakeActive(MODULE_RAY, [](ModuleRecord* r) { r->value[6] = 1; });
    long lit = RunAndShoot("modules_d_ray.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 10);
}

TEST_F(ModulesAlone, RandomRunsOneModuleAfterAnother)
{
    // "Actv" with only Random chosen: one random module every 2 seconds,
    // the screen kept between selections.
    MakeActive(MODULE_RANDOM, [](ModuleRecord* r) {
        r->value[0] = 0;
        r->value[2] = 2;
        r->value[4] = 0;
    });
    long lit = RunAndShoot("modules_d_random_active.bmp", 10);
    EXPECT_GT(lit, ScreenPixels() / 10);
}

TEST_F(ModulesAlone, RandomLoadsSavedDisplaysInTurn)
{
    // A known set of saved displays: four single-module ones and Random's.
    DeleteKeyTree(HKEY_CURRENT_USER, "Control Panel\\Screen Saver.Vivra\\Saved");
    const int shown[] = {MODULE_BEZIER, MODULE_STAR, MODULE_VORTEX, MODULE_RAY};
    for (int module : shown) {
        ResetModuleControls(module);
        ASSERT_TRUE(WriteDefaultDisplay(module, "[E]", 5));
    }
    MakeActive(MODULE_RANDOM, [](ModuleRecord* r) {
        r->value[0] = 1;   // "Svd"
        r->value[2] = 1;
    });
    SoundShare* share = OpenSoundLink();
    ASSERT_NE(share, nullptr);
    SaverProcess saver;
    ASSERT_TRUE(StartSaver("/s", &saver, 15000));
    ASSERT_NE(saver.window, nullptr);
    ASSERT_GE(WaitFrames(saver.window, 10, 15000), 10);

    // Every second the shared record names the display just loaded.
    std::set<std::string> names;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 8000) {
        char name[sizeof(share->displayName) + 1];
        memcpy(name, share->displayName, sizeof(share->displayName));
        name[sizeof(share->displayName)] = 0;
        names.insert(name);
        Sleep(100);
    }
    names.erase("[T] Random");   // the display the saver started with
    EXPECT_GE(names.size(), 3u);
    for (const std::string& name : names) {
        EXPECT_EQ(name.compare(0, 4, "[E] "), 0) << name;
    }
    PostMessageA(saver.window, WM_KEYDOWN, 'Q', 0);
    EXPECT_TRUE(WaitSaverExit(&saver, 5000));
    KillSaver(&saver);
    CloseSoundLink(share);
}

}  // namespace
