// The real saver under Wine and Xvfb running Polygon, Cyclic and Star alone:
// it keeps rendering through a reset (F2), paints the screen and closes
// cleanly.
#include <gtest/gtest.h>
#include "runtime/framework.h"
#include "settings/registry.h"
#include "support/harness.h"
#include <stdio.h>
#include <string>
#include <vector>

namespace {

class ModulesAloneB : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitModules(); }

    // Writes "[T] <module>" with the module's defaults changed by `adjust`
    // and makes it the active display.
    void MakeActive(int module, void (*adjust)(ModuleRecord*))
    {
        ASSERT_TRUE(MakeModuleActive(module, adjust));
    }

    // Runs the saver for `seconds` with a reset (F2) halfway, checks that it
    // renders all along and returns the lit pixels of a final screenshot.
    long RunAndShoot(const char* picture, int seconds)
    {
        SaverProcess saver;
        long first = StartRenderingSaver(&saver);
        if (first < 0)
            return -1;
        Sleep(seconds * 500);
        PostMessageA(saver.window, WM_KEYDOWN, VK_F2, 0);
        Sleep(500);
        long afterReset = SaverFrameCounter(saver.window);
        Sleep(seconds * 500);
        long later = SaverFrameCounter(saver.window);
        EXPECT_GT(afterReset, first);
        EXPECT_GT(later, afterReset) << "the frame loop stopped after the reset";
        std::string path = OutputPath(picture);
        EXPECT_TRUE(SaveScreenBmp(path.c_str()));
        long lit = CountLitPixels(path);
        CloseSaverCleanly(&saver);
        return lit;
    }
};

TEST_F(ModulesAloneB, PolygonPaintsItsBands)
{
    MakeActive(MODULE_POLYGON, nullptr);
    long lit = RunAndShoot("modules_b_polygon.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 10);
}

TEST_F(ModulesAloneB, CyclicPaintsItsOrbitsWithShapes)
{
    MakeActive(MODULE_CYCLIC, [](ModuleRecord* r) {
        r->value[1] = 50;   // fast drift: long strokes
        r->value[3] = 30;   // Diameter
        r->value[4] = 3;    // Planar Symmetry
        r->value[6] = 5;    // Object Sides
        r->value[7] = 4;    // Object Type: rings of filled shapes
    });
    long lit = RunAndShoot("modules_b_cyclic.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 50);
}

TEST_F(ModulesAloneB, StarFliesItsField)
{
    MakeActive(MODULE_STAR, [](ModuleRecord* r) {
        r->value[0] = 60;   // Stars
        r->value[1] = 3;    // Star Size
        r->value[2] = 12;   // Speed
        r->value[13] = 4;   // Symmetry
    });
    long lit = RunAndShoot("modules_b_star.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 200);
}

TEST_F(ModulesAloneB, StarTunnelWithShapes)
{
    MakeActive(MODULE_STAR, [](ModuleRecord* r) {
        r->value[0] = 0;    // tunnel
        r->value[1] = 12;   // Star Size
        r->value[7] = 6;    // Star Sides
        r->value[8] = 2;    // outlined shapes
    });
    long lit = RunAndShoot("modules_b_star_tunnel.bmp", 3);
    EXPECT_GT(lit, 500);
}

}  // namespace
