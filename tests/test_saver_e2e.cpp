// The real Vivra.scr under Wine and Xvfb: it starts full screen, renders,
// keeps running on its command keys, closes on any other key, and counts
// itself in and out of the shared record.
#include <gtest/gtest.h>
#include "runtime/soundlink.h"
#include "runtime/saver.h"
#include "runtime/threadguard.h"
#include "support/harness.h"

namespace {

TEST(SaverRun, RendersSurvivesCommandKeysAndClosesOnOtherKey)
{
    SoundShare* share = OpenSoundLink();
    ASSERT_NE(share, nullptr);
    SaverProcess saver;
    ASSERT_TRUE(StartSaver("/s", &saver, 15000));
    ASSERT_NE(saver.window, nullptr) << "no saver window appeared";

    // Full screen, topmost.
    RECT rect;
    GetWindowRect(saver.window, &rect);
    EXPECT_EQ(rect.right - rect.left, GetSystemMetrics(SM_CXVIRTUALSCREEN));
    EXPECT_EQ(rect.bottom - rect.top, GetSystemMetrics(SM_CYVIRTUALSCREEN));
    EXPECT_TRUE(GetWindowLongA(saver.window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    // The render and palette threads each take a device context of their
    // own: the class must not give the window one shared context.
    DWORD classStyle = GetClassLongA(saver.window, GCL_STYLE);
    EXPECT_TRUE(classStyle & CS_DBLCLKS) << "the class style cannot be read";
    EXPECT_FALSE(classStyle & CS_OWNDC);

    long first = WaitFrames(saver.window, 5, 15000);
    ASSERT_GE(first, 5) << "the frame loop did not start";
    EXPECT_EQ(share->saverCount, 1);
    EXPECT_EQ(share->clientCount, 1);
    EXPECT_EQ(share->saverMajor, 3);

    const WPARAM commands[] = {VK_F2, VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, '0', '5', '9'};
    for (WPARAM key : commands)
        PostMessageA(saver.window, WM_KEYDOWN, key, 0);
    EXPECT_FALSE(WaitSaverExit(&saver, 1500)) << "a command key closed the saver";
    EXPECT_EQ(share->horizontalSteps, 0);
    EXPECT_EQ(share->verticalSteps, 0);
    EXPECT_EQ(share->digitKey, 9);
    EXPECT_EQ(share->resetRequest, 0) << "the render loop did not serve F2";
    long later = WaitFrames(saver.window, first + 5, 10000);
    EXPECT_GT(later, first) << "the frame counter stopped";

    PostMessageA(saver.window, WM_KEYDOWN, 'Q', 0);
    EXPECT_TRUE(WaitSaverExit(&saver, 3000)) << "the saver did not close within 3 s";
    DWORD code = 1234;
    GetExitCodeProcess(saver.info.hProcess, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(share->saverCount, 0);
    EXPECT_EQ(share->clientCount, 0);
    EXPECT_EQ(share->fullScreen, 0);
    KillSaver(&saver);
    CloseSoundLink(share);
}

TEST(SaverRun, ForeignSharedRecordKeepsTheSaverFromStarting)
{
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, 786, SOUND_SHARE_NAME);
    int* view = (int*)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    view[0] = 786;
    view[1] = 4;   // an older layout
    SaverProcess saver;
    ASSERT_TRUE(StartSaver("/s", &saver, 4000));
    EXPECT_EQ(saver.window, nullptr) << "the saver opened a window over a foreign record";
    EXPECT_TRUE(WaitSaverExit(&saver, 5000));
    EXPECT_EQ(view[1], 4) << "the foreign record was changed";
    KillSaver(&saver);
    UnmapViewOfFile(view);
    CloseHandle(mapping);
}

TEST(SaverRun, PreviewLivesInItsParentAndEndsWithIt)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "VivraPreviewParent";
    RegisterClassA(&windowClass);
    HWND parent = CreateWindowA("VivraPreviewParent", "Preview host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                10, 10, 320, 260, NULL, NULL, windowClass.hInstance, NULL);
    ASSERT_NE(parent, nullptr);
    char arguments[64];
    wsprintfA(arguments, "/p %lu", (unsigned long)(ULONG_PTR)parent);
    SaverProcess saver;
    ASSERT_TRUE(StartSaver(arguments, &saver, 3000));
    HWND child = 0;
    DWORD start = GetTickCount();
    while (!child && GetTickCount() - start < 15000) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        child = FindWindowExA(parent, NULL, "WindowsScreenSaverClass", NULL);
        Sleep(20);
    }
    ASSERT_NE(child, nullptr) << "no preview window in the parent";
    RECT client, childRect;
    GetClientRect(parent, &client);
    GetClientRect(child, &childRect);
    EXPECT_EQ(childRect.right, client.right);
    EXPECT_EQ(childRect.bottom, client.bottom);
    // Input inside the preview does not end it.
    PostMessageA(child, WM_KEYDOWN, 'Q', 0);
    EXPECT_FALSE(WaitSaverExit(&saver, 1000));
    DestroyWindow(parent);
    EXPECT_TRUE(WaitSaverExit(&saver, 5000)) << "the preview outlived its parent";
    KillSaver(&saver);
}

// A fault inside a guarded worker ends that thread only and stops rendering.
static DWORD WINAPI FaultingWorker(LPVOID)
{
    GuardCurrentThread();
    // The address comes through a volatile so the compiler cannot see it.
    static volatile ULONG_PTR address = 0x10;
    *(volatile int*)address = 1;
    return 7;
}

TEST(ThreadGuard, FaultEndsOnlyTheThreadAndClearsRunning)
{
    renderRunning = 1;
    HANDLE thread = CreateThread(NULL, 0, FaultingWorker, NULL, 0, NULL);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(renderRunning, 0);
    CloseHandle(thread);
}

}  // namespace

namespace {

// /c, /C:0 and no switch open the configuration sheet, which the sheet's own
// tests drive; the password switch is left to Windows and ends at once.
TEST(SaverRun, PasswordSwitchEndsByItself)
{
    const char* switches[] = {"/a 0", "/A"};
    for (const char* arguments : switches) {
        SaverProcess saver;
        ASSERT_TRUE(StartSaver(arguments, &saver, 0));
        EXPECT_TRUE(WaitSaverExit(&saver, 15000)) << "'" << arguments << "' did not end";
        DWORD code = 1234;
        GetExitCodeProcess(saver.info.hProcess, &code);
        EXPECT_EQ(code, 0u) << arguments;
        KillSaver(&saver);
    }
}

}  // namespace
