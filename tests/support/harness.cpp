#include <gtest/gtest.h>
#include "support/harness.h"
#include "runtime/common.h"
#include "runtime/saver.h"
#include "runtime/framework.h"
#include "settings/registry.h"
#include <stdio.h>
#include <stdlib.h>
#include <vector>

volatile DWORD testNow = 0;

static DWORD ReadTestClock(void)
{
    return testNow;
}

void UseTestClock(DWORD start)
{
    testNow = start;
    SetTickSource(ReadTestClock);
}

void UseRealClock(void)
{
    SetTickSource(0);
}

// Wine hands Unix environment values through unchanged; map a Unix path
// onto drive Z:.
static std::string WindowsPath(const char* unixPath)
{
    std::string path = unixPath ? unixPath : "";
    if (!path.empty() && path[0] == '/')
        path = "Z:" + path;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string EnvironmentPath(const char* variable)
{
    return WindowsPath(getenv(variable));
}

std::string SaverPath(void)
{
    return EnvironmentPath("VIVRA_SCR");
}

std::string OutputPath(const char* fileName)
{
    std::string folder = EnvironmentPath("VIVRA_OUT");
    if (folder.empty())
        folder = ".";
    CreateDirectoryA(folder.c_str(), NULL);
    return folder + "\\" + fileName;
}

struct FindContext {
    DWORD processId;
    HWND found;
};

static BOOL CALLBACK FindSaverWindow(HWND window, LPARAM lParam)
{
    FindContext* context = (FindContext*)lParam;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    if (owner == context->processId && lstrcmpA(className, "WindowsScreenSaverClass") == 0 &&
        IsWindowVisible(window)) {
        context->found = window;
        return FALSE;
    }
    return TRUE;
}

int StartSaver(const char* arguments, SaverProcess* saver, DWORD timeoutMs)
{
    ZeroMemory(saver, sizeof(*saver));
    std::string command = "\"" + SaverPath() + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &saver->info))
        return 0;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        FindContext context = {saver->info.dwProcessId, 0};
        EnumWindows(FindSaverWindow, (LPARAM)&context);
        if (context.found) {
            saver->window = context.found;
            return 1;
        }
        if (WaitForSingleObject(saver->info.hProcess, 50) == WAIT_OBJECT_0)
            break;
    }
    return 1;
}

int WaitSaverExit(SaverProcess* saver, DWORD timeoutMs)
{
    return WaitForSingleObject(saver->info.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

void KillSaver(SaverProcess* saver)
{
    if (saver->info.hProcess) {
        if (WaitForSingleObject(saver->info.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(saver->info.hProcess, 1);
            WaitForSingleObject(saver->info.hProcess, 5000);
        }
        CloseHandle(saver->info.hProcess);
        CloseHandle(saver->info.hThread);
    }
    ZeroMemory(saver, sizeof(*saver));
}

long SaverFrameCounter(HWND window)
{
    static UINT message = RegisterWindowMessageA(FRAME_COUNTER_MESSAGE);
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, 0, 0, SMTO_ABORTIFHUNG, 2000, &result))
        return -1;
    return (long)result;
}

int SaveScreenBmp(const char* path)
{
    int width = GetSystemMetrics(SM_CXSCREEN);
    int height = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = 0;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
    GdiFlush();
    int stride = ((width * 3) + 3) & ~3;
    BITMAPFILEHEADER file;
    ZeroMemory(&file, sizeof(file));
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + stride * height;
    FILE* out = fopen(path, "wb");
    int ok = 0;
    if (out) {
        fwrite(&file, sizeof(file), 1, out);
        fwrite(&info.bmiHeader, sizeof(BITMAPINFOHEADER), 1, out);
        fwrite(bits, stride * height, 1, out);
        fclose(out);
        ok = 1;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return ok;
}

long WaitFrames(HWND window, long frames, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    long counter = -1;
    while (GetTickCount() - start < timeoutMs) {
        counter = SaverFrameCounter(window);
        if (counter >= frames)
            break;
        Sleep(50);
    }
    return counter;
}

long CountLitPixels(const std::string& path)
{
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return -1;
    BITMAPFILEHEADER fileHeader;
    BITMAPINFOHEADER info;
    long lit = -1;
    if (fread(&fileHeader, sizeof(fileHeader), 1, file) == 1 && fread(&info, sizeof(info), 1, file) == 1 &&
        info.biBitCount == 24) {
        int width = info.biWidth, height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
        int stride = (width * 3 + 3) & ~3;
        std::vector<unsigned char> row(stride);
        fseek(file, fileHeader.bfOffBits, SEEK_SET);
        lit = 0;
        for (int y = 0; y < height; ++y) {
            if (fread(row.data(), stride, 1, file) != 1)
                break;
            for (int x = 0; x < width; ++x)
                lit += row[3 * x] > 8 || row[3 * x + 1] > 8 || row[3 * x + 2] > 8;
        }
    }
    fclose(file);
    return lit;
}

long ScreenPixels(void)
{
    return (long)GetSystemMetrics(SM_CXSCREEN) * GetSystemMetrics(SM_CYSCREEN);
}

int MakeModuleActive(int module, void (*adjust)(ModuleRecord*))
{
    ResetModuleControls(module);
    if (adjust)
        adjust(&moduleTable[module]);
    if (!WriteDefaultDisplay(module, "[T]", 5))
        return 0;
    std::string name = std::string("[T] ") + moduleNames[module];
    return WriteSaverValue("Active", REG_SZ, name.c_str(), (DWORD)name.size() + 1);
}

long StartRenderingSaver(SaverProcess* saver)
{
    EXPECT_TRUE(StartSaver("/s", saver, 15000));
    EXPECT_NE(saver->window, nullptr) << "no saver window";
    if (!saver->window) {
        KillSaver(saver);
        return -1;
    }
    long first = WaitFrames(saver->window, 10, 15000);
    EXPECT_GE(first, 10) << "the frame loop did not start";
    return first;
}

void CloseSaverCleanly(SaverProcess* saver)
{
    EXPECT_FALSE(WaitSaverExit(saver, 0)) << "the saver ended by itself";
    PostMessageA(saver->window, WM_KEYDOWN, 'Q', 0);
    EXPECT_TRUE(WaitSaverExit(saver, 5000)) << "the saver did not close";
    DWORD code = 1234;
    GetExitCodeProcess(saver->info.hProcess, &code);
    EXPECT_EQ(code, 0u);
    KillSaver(saver);
}

enum { KILL_WATCH_KEYS = 2000 };
// Sorted first among the keys below, so the deletion starts with it.
#define KILL_WATCH_BACKLOG "\\0 Backlog"

static DWORD WINAPI WatchDeletion(LPVOID parameter)
{
    KillWatch* watch = (KillWatch*)parameter;
    std::string backlog = std::string(watch->path) + KILL_WATCH_BACKLOG;
    while (!watch->stop && WaitForSingleObject(watch->process, 0) != WAIT_OBJECT_0) {
        HKEY key;
        DWORD keys = 0;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, backlog.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegQueryInfoKeyA(key, NULL, NULL, NULL, &keys, NULL, NULL, NULL, NULL, NULL, NULL, NULL);
            RegCloseKey(key);
        }
        if (keys < KILL_WATCH_KEYS) {
            TerminateProcess(watch->process, 1);
            WaitForSingleObject(watch->process, 5000);
            watch->killed = KeyExists(watch->path);
            break;
        }
        Sleep(1);   // deleting the keys takes some 200 ms
    }
    return 0;
}

int StartKillWatch(KillWatch* watch, HANDLE process, const char* path)
{
    ZeroMemory(watch, sizeof(*watch));
    watch->process = process;
    lstrcpynA(watch->path, path, sizeof(watch->path));
    std::string backlog = std::string(path) + KILL_WATCH_BACKLOG;
    for (int i = 0; i < KILL_WATCH_KEYS; ++i) {
        char name[32];
        snprintf(name, sizeof(name), "\\%d", i);
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, (backlog + name).c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                            NULL) != ERROR_SUCCESS)
            return 0;
        RegCloseKey(key);
    }
    watch->thread = CreateThread(NULL, 0, WatchDeletion, watch, 0, NULL);
    return watch->thread != NULL;
}

int EndKillWatch(KillWatch* watch, DWORD timeoutMs)
{
    if (watch->thread) {
        if (WaitForSingleObject(watch->thread, timeoutMs) != WAIT_OBJECT_0) {
            watch->stop = 1;
            WaitForSingleObject(watch->thread, 5000);
        }
        CloseHandle(watch->thread);
        watch->thread = 0;
    }
    return watch->killed;
}

std::vector<DWORD> WindowPixels(HDC windowDc, int w, int h)
{
    std::vector<DWORD> pixels((size_t)w * h);
    HDC memory = CreateCompatibleDC(windowDc);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = 0;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, windowDc, 0, 0, SRCCOPY);
    GdiFlush();
    memcpy(pixels.data(), bits, pixels.size() * sizeof(DWORD));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return pixels;
}
