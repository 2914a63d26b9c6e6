// The real saver under Wine and Xvfb running Bezier, Plasma, Pattern and
// Stain, each alone: it keeps rendering and paints the screen.
#include <gtest/gtest.h>
#include "runtime/framework.h"
#include "settings/registry.h"
#include "support/harness.h"
#include <stdio.h>
#include <string>
#include <vector>

namespace {

class ModulesAloneA : public ::testing::Test {
protected:
    static void SetUpTestSuite() { InitModules(); }

    // Writes "[T] <module>" with the module's defaults changed by `adjust`
    // and makes it the active display.
    void MakeActive(int module, void (*adjust)(ModuleRecord*))
    {
        ASSERT_TRUE(MakeModuleActive(module, adjust));
    }

    // Runs the saver for `seconds`, checks that it renders all along and
    // returns the lit pixels of a screenshot taken at the end.
    long RunAndShoot(const char* picture, int seconds)
    {
        SaverProcess saver;
        long first = StartRenderingSaver(&saver);
        if (first < 0)
            return -1;
        Sleep(seconds * 1000);
        long later = SaverFrameCounter(saver.window);
        EXPECT_GT(later, first) << "the frame counter stopped";
        std::string path = OutputPath(picture);
        EXPECT_TRUE(SaveScreenBmp(path.c_str()));
        long lit = CountLitPixels(path);
        CloseSaverCleanly(&saver);
        return lit;
    }
};

TEST_F(ModulesAloneA, BezierDrawsCurves)
{
    MakeActive(MODULE_BEZIER, [](ModuleRecord* r) { r->value[0] = 6; });
    long lit = RunAndShoot("modules_a_bezier.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 50);
}

TEST_F(ModulesAloneA, PlasmaShowsItsGrowingCloud)
{
    // The first redraw magnifies the finished top-left square to the screen.
    MakeActive(MODULE_PLASMA, nullptr);
    long lit = RunAndShoot("modules_a_plasma.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 3);
}

TEST_F(ModulesAloneA, PatternPaintsRings)
{
    MakeActive(MODULE_PATTERN, [](ModuleRecord* r) { r->value[3] = 2; });
    long lit = RunAndShoot("modules_a_pattern.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 10);
}

TEST_F(ModulesAloneA, StainPaintsRings)
{
    MakeActive(MODULE_STAIN, [](ModuleRecord* r) { r->value[3] = 2; });
    long lit = RunAndShoot("modules_a_stain.bmp", 4);
    EXPECT_GT(lit, ScreenPixels() / 10);
}

}  // namespace
