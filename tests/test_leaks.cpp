// Every module gives back what it takes: the process's GDI objects and
// handles are the same before its open entry and after its close entry, with
// a start and 300 frames in between (pictures restarting on the way), at two
// surface sizes.
#include <gtest/gtest.h>
#include "modules/bitmap.h"
#include "modules/modules.h"
#include "runtime/common.h"
#include "support/harness.h"
#include "support/module_fixture.h"
#include "support/picture_files.h"
#include <stdio.h>

namespace {

// One row per module; a module joins the sweep with one line here.
const ModuleCalls sweptModules[] = {
    {MODULE_BEZIER, BezierOpen, BezierStart, BezierFrame, BezierClose},
    {MODULE_CYCLIC, CyclicOpen, CyclicStart, CyclicFrame, CyclicClose},
    {MODULE_PATTERN, PatternOpen, PatternStart, PatternFrame, PatternClose},
    {MODULE_PLASMA, 0, PlasmaStart, PlasmaFrame, PlasmaClose},
    {MODULE_POLYGON, 0, PolygonStart, PolygonFrame, PolygonClose},
    {MODULE_SPHERE, SphereOpen, SphereStart, SphereFrame, SphereClose},
    {MODULE_STAIN, StainOpen, StainStart, StainFrame, StainClose},
    {MODULE_STAR, StarOpen, StarStart, StarFrame, StarClose},
    {MODULE_VORTEX, 0, VortexStart, VortexFrame, VortexClose},
    {MODULE_RAY, RayOpen, RayStart, RayFrame, RayClose},
    {MODULE_EFFECT, EffectOpen, EffectStart, EffectFrame, 0},
    {MODULE_BITMAP, BitmapOpen, BitmapStart, BitmapFrame, BitmapClose},
};

struct SweepSize {
    int width, height;
};
const SweepSize sweepSizes[] = {{320, 200}, {641, 479}};

// The slide show gets pictures of its own to load and paint: three small
// bitmaps picked at random, a new one every second.
void ShowPictures(ModuleRecord* record, int width)
{
    ResetBitmapStatus();
    std::string folder = FreshPictureFolder(("leaks_bitmap_" + std::to_string(width)).c_str());
    for (int i = 0; i < 3; ++i) {
        TestPicture p = PatternPicture(24 + 8 * i, 16 + 4 * i, 16 << i);
        std::string name = folder + "\\p" + std::to_string(i) + ".bmp";
        ASSERT_TRUE(WriteBmp(name.c_str(), p, i == 2 ? 24 : 8, BMP_PLAIN, 0)) << name;
    }
    lstrcpynA(record->path, (folder + "\\*.bmp").c_str(), PATH_SIZE);
    const int values[] = {1, 0, 1, 1, 1, 0};   // stretched, a new picture every second, random order
    for (int slot = 0; slot < 6; ++slot)
        record->value[slot] = values[slot];
}

class Leaks : public ModuleFixture, public ::testing::WithParamInterface<::testing::tuple<int, int>> {
protected:
    Leaks() : ModuleFixture(sweptModules[::testing::get<0>(GetParam())]) {}
};

TEST_P(Leaks, OpenStartFramesCloseGiveBackEveryObjectAndHandle)
{
    const ModuleCalls& calls = sweptModules[::testing::get<0>(GetParam())];
    const SweepSize& size = sweepSizes[::testing::get<1>(GetParam())];
    OpenSurface(size.width, size.height, 5000);
    if (calls.module == MODULE_BITMAP) {
        ASSERT_NO_FATAL_FAILURE(ShowPictures(record, size.width));
    }
    LeakCounts counts;
    // 300 frames, 200 ms apart on the test clock: a minute, so that modules
    // with short image durations restart their pictures.
    LeakSweep(77 + calls.module, 300, 200, &counts);
    printf("%-8s %4dx%-4d gdi %ld/%ld/%ld/%ld/%ld handles %ld/%ld/%ld/%ld/%ld\n", moduleNames[calls.module],
           size.width, size.height, counts.gdi[0], counts.gdi[1], counts.gdi[2], counts.gdi[3], counts.gdi[4],
           counts.handles[0], counts.handles[1], counts.handles[2], counts.handles[3], counts.handles[4]);
    if (calls.module == MODULE_BITMAP) {
        BitmapStatus status;
        GetBitmapStatus(&status);
        printf("bitmap loaders %ld started, %ld ended, %ld pictures painted\n", status.loadersStarted,
               status.loadersEnded, status.picturesPainted);
    }
}

std::string SweepName(const ::testing::TestParamInfo<::testing::tuple<int, int>>& info)
{
    const ModuleCalls& calls = sweptModules[::testing::get<0>(info.param)];
    const SweepSize& size = sweepSizes[::testing::get<1>(info.param)];
    return std::string(moduleNames[calls.module]) + "_" + std::to_string(size.width) + "x" +
           std::to_string(size.height);
}

INSTANTIATE_TEST_SUITE_P(EveryModule, Leaks,
                         ::testing::Combine(::testing::Range(0, (int)(sizeof(sweptModules) / sizeof(sweptModules[0]))),
                                            ::testing::Range(0, (int)(sizeof(sweepSizes) / sizeof(sweepSizes[0])))),
                         SweepName);

}  // namespace
