// Soak: the real saver running "[R] Saved Sound Settings" (Random alone,
// a new module every few seconds) for two minutes. It must keep
// rendering, and its GDI objects, handles and memory must not grow between
// the end of the first minute and the end of the run.
//
// Wine's GetGuiResources answers 0 (error 120) and its GetProcessHandleCount
// answers 0 for every process, so both would pass any leak. The meters here
// read what the platform really holds instead: the process's GDI handle table
// (the one its PEB points to), the system handle list, and the memory
// counters. Each meter is first shown to see objects created in this process.
#include <gtest/gtest.h>
#include "runtime/framework.h"
#include "settings/registry.h"
#include "support/harness.h"
#include "support/meters.h"
#include <winternl.h>
#include <psapi.h>
#include <algorithm>
#include <stdio.h>
#include <string.h>
#include <vector>

namespace {

struct Sample {
    DWORD seconds;
    long frames;
    long gdi;
    long handles;
    SIZE_T privateBytes;   // committed private memory (PagefileUsage)
    SIZE_T workingSet;
};

long Median(std::vector<long> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

TEST(Soak, MetersSeeWhatAProcessHolds)
{
    HANDLE self = GetCurrentProcess();
    long gdi = GdiObjects(self);
    ASSERT_GT(gdi, 0) << "the GDI handle table cannot be read";
    HBRUSH brushes[50];
    for (int i = 0; i < 50; ++i)
        brushes[i] = CreateSolidBrush(RGB(i, 0, 0));
    EXPECT_EQ(GdiObjects(self), gdi + 50);
    for (int i = 0; i < 50; ++i)
        DeleteObject(brushes[i]);
    EXPECT_EQ(GdiObjects(self), gdi);

    long handles = ProcessHandles(GetCurrentProcessId());
    ASSERT_GT(handles, 0) << "the system handle list cannot be read";
    HANDLE events[20];
    for (int i = 0; i < 20; ++i)
        events[i] = CreateEventA(NULL, FALSE, FALSE, NULL);
    EXPECT_EQ(ProcessHandles(GetCurrentProcessId()), handles + 20);
    for (int i = 0; i < 20; ++i)
        CloseHandle(events[i]);
    EXPECT_EQ(ProcessHandles(GetCurrentProcessId()), handles);

    SIZE_T before = 0, workingBefore = 0, after = 0, workingAfter = 0;
    ASSERT_TRUE(ReadMemory(self, &before, &workingBefore));
    const SIZE_T block = 32 << 20;
    char* memory = (char*)VirtualAlloc(NULL, block, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(memory, nullptr);
    memset(memory, 1, block);
    ASSERT_TRUE(ReadMemory(self, &after, &workingAfter));
    EXPECT_GE(after, before + block - (1 << 20));
    EXPECT_GE(workingAfter, workingBefore + block - (1 << 20));
    VirtualFree(memory, 0, MEM_RELEASE);
}

TEST(Soak, RandomOverEveryModuleForThreeMinutes)
{
    // Random alone, "Actv" with only Random chosen: one random module of the
    // twelve every 3 seconds, the screen cleared in between.
    InitModules();
    ResetModuleControls(MODULE_RANDOM);
    moduleTable[MODULE_RANDOM].value[0] = 0;
    moduleTable[MODULE_RANDOM].value[2] = 3;
    moduleTable[MODULE_RANDOM].value[4] = 1;
    ASSERT_TRUE(WriteDefaultDisplay(-1, RANDOM_DISPLAY, 5));
    ASSERT_TRUE(WriteSaverValue("Active", REG_SZ, RANDOM_DISPLAY, sizeof(RANDOM_DISPLAY)));

    SaverProcess saver;
    ASSERT_TRUE(StartSaver("/s", &saver, 15000));
    ASSERT_NE(saver.window, nullptr) << "no saver window";
    DWORD start = GetTickCount();

    const DWORD runSeconds = 120, stepSeconds = 5;
    std::vector<Sample> samples;
    int ended = 0;
    for (DWORD at = 0; at <= runSeconds; at += stepSeconds) {
        while (GetTickCount() - start < at * 1000)
            Sleep(100);
        if (WaitSaverExit(&saver, 0)) {
            ended = 1;
            break;
        }
        Sample s;
        s.seconds = at;
        s.frames = SaverFrameCounter(saver.window);
        s.gdi = GdiObjects(saver.info.hProcess);
        s.handles = ProcessHandles(saver.info.dwProcessId);
        s.privateBytes = s.workingSet = 0;
        ReadMemory(saver.info.hProcess, &s.privateBytes, &s.workingSet);
        samples.push_back(s);
        printf("soak %3lus frames %6ld gdi %5ld handles %4ld private %7lu KB working set %7lu KB\n",
               (unsigned long)s.seconds, s.frames, s.gdi, s.handles, (unsigned long)(s.privateBytes >> 10),
               (unsigned long)(s.workingSet >> 10));
        fflush(stdout);
    }
    std::string picture = OutputPath("soak_end.bmp");
    SaveScreenBmp(picture.c_str());
    ASSERT_FALSE(ended) << "the saver ended during the run";

    PostMessageA(saver.window, WM_KEYDOWN, 'Q', 0);
    EXPECT_TRUE(WaitSaverExit(&saver, 10000)) << "the saver did not close";
    DWORD code = 1234;
    GetExitCodeProcess(saver.info.hProcess, &code);
    EXPECT_EQ(code, 0u) << "the saver did not end cleanly";
    KillSaver(&saver);

    // Rendering all along: the frame counter moves between every two samples.
    for (size_t i = 1; i < samples.size(); ++i)
        EXPECT_GT(samples[i].frames, samples[i - 1].frames) << "stalled before " << samples[i].seconds << " s";
    for (const Sample& s : samples) {
        ASSERT_GT(s.gdi, 0) << "GDI table unreadable at " << s.seconds << " s";
        ASSERT_GT(s.handles, 0) << "handle list unreadable at " << s.seconds << " s";
        ASSERT_GT(s.privateBytes, 0u);
    }

    // End of the first minute against the end of the run, each as the median
    // of three samples, so that whichever module happens to run at a sample
    // does not decide.
    std::vector<long> gdiMinute, gdiEnd, handlesMinute, handlesEnd, privateMinute, privateEnd;
    for (const Sample& s : samples) {
        if (s.seconds >= 55 && s.seconds <= 65) {
            gdiMinute.push_back(s.gdi);
            handlesMinute.push_back(s.handles);
            privateMinute.push_back((long)(s.privateBytes >> 10));
        }
        if (s.seconds >= runSeconds - 2 * stepSeconds) {
            gdiEnd.push_back(s.gdi);
            handlesEnd.push_back(s.handles);
            privateEnd.push_back((long)(s.privateBytes >> 10));
        }
    }
    long gdiGrowth = Median(gdiEnd) - Median(gdiMinute);
    long handleGrowth = Median(handlesEnd) - Median(handlesMinute);
    long privateGrowthKb = Median(privateEnd) - Median(privateMinute);
    printf("soak growth after the first minute: gdi %ld, handles %ld, private %ld KB\n", gdiGrowth, handleGrowth,
           privateGrowthKb);
    EXPECT_LE(gdiGrowth, 40) << "GDI objects grew";
    EXPECT_LE(handleGrowth, 10) << "handles grew";
    EXPECT_LE(privateGrowthKb, 8 * 1024) << "memory grew";
}

}  // namespace
