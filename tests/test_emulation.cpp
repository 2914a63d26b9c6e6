// Palette emulation on a true-colour screen: the emulated surface behaves
// like a 256-colour device for GDI, its presents show the palette engine's
// colours in a real window, and the real saver's colours move on screen.
#include <gtest/gtest.h>
#include "graphics/palette.h"
#include "graphics/surface.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/saver.h"
#include "support/harness.h"
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

namespace {

const char* const SAVER_KEY = "Control Panel\\Screen Saver.Vivra";

void SetEmulationValue(int value)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, SAVER_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    if (value < 0) {
        RegDeleteValueA(key, "PaletteEmulation");
    } else {
        DWORD v = (DWORD)value;
        RegSetValueExA(key, "PaletteEmulation", 0, REG_DWORD, (const BYTE*)&v, sizeof(v));
    }
    RegCloseKey(key);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND)
        return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeWindow(int x, int y, int w, int h)
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSA wc;
        ZeroMemory(&wc, sizeof(wc));
        wc.lpfnWndProc = PlainWindowProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "EmulationTestWindow";
        atom = RegisterClassA(&wc);
    }
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "EmulationTestWindow", "", WS_POPUP | WS_VISIBLE, x, y, w, h,
                                  NULL, NULL, GetModuleHandleA(NULL), NULL);
    UpdateWindow(window);
    return window;
}

void Pump(DWORD milliseconds)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    } while (GetTickCount() - start < milliseconds);
}

// The bits of the DIB section selected into a memory device context.
BYTE* SurfaceBits(HDC dc, int* stride)
{
    DIBSECTION section;
    HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
    if (!bitmap || GetObjectA(bitmap, sizeof(section), &section) != sizeof(section))
        return nullptr;
    *stride = section.dsBm.bmWidthBytes;
    return (BYTE*)section.dsBm.bmBits;
}

COLORREF EntryColour(const PaletteState* state, int i)
{
    const PALETTEENTRY& e = state->entries->entry[i];
    return RGB(e.peRed, e.peGreen, e.peBlue);
}

void FillEntry(HDC dc, int left, int top, int right, int bottom, int entry)
{
    HBRUSH brush = CreateSolidBrush(PALETTEINDEX(entry));
    RECT r = {left, top, right, bottom};
    FillRect(dc, &r, brush);
    DeleteObject(brush);
    GdiFlush();
}

class Emulation : public ::testing::Test {
protected:
    HWND window = 0;
    HDC dc = 0;
    int width = 0, height = 0;
    void SetUp() override
    {
        SetEmulationValue(-1);
        window = MakeWindow(40, 30, 160, 120);
        ASSERT_NE(window, (HWND)0);
        Pump(50);
    }
    void TearDown() override
    {
        if (dc)
            ReleaseDrawSurface(window, dc);
        DestroyWindow(window);
        SetEmulationValue(-1);
        UseRealClock();
    }
    void Acquire()
    {
        dc = AcquireDrawSurface(window, &width, &height);
        ASSERT_NE(dc, (HDC)0);
    }
};

TEST_F(Emulation, TrueColourWindowGetsABlackEmulatedSurfaceUntilReleased)
{
    Acquire();
    EXPECT_EQ(paletteEmulation, 1);
    EXPECT_EQ(GetObjectType(dc), (DWORD)OBJ_MEMDC);
    EXPECT_EQ(width, 160);
    EXPECT_EQ(height, 120);
    EXPECT_NE(EmulatedSurfacePalette(dc), (HPALETTE)0);
    int stride = 0;
    BYTE* bits = SurfaceBits(dc, &stride);
    ASSERT_NE(bits, nullptr);
    int nonzero = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            nonzero += bits[y * stride + x] != 0;
    EXPECT_EQ(nonzero, 0);
    HDC released = dc;
    ReleaseDrawSurface(window, dc);
    dc = 0;
    EXPECT_EQ(paletteEmulation, 0);
    EXPECT_EQ(EmulatedSurfacePalette(released), (HPALETTE)0);
    // After the release a present has nothing to read.
    PALETTEENTRY colours[236];
    memset(colours, 200, sizeof(colours));
    HDC own = GetDC(window);
    LONG before = SurfacePresentCount();
    PresentSurface(own, colours);
    EXPECT_EQ(SurfacePresentCount(), before);
    ReleaseDC(window, own);
}

TEST_F(Emulation, TheSaverValueForcesEmulationOnOrOff)
{
    SetEmulationValue(2);
    Acquire();
    EXPECT_EQ(paletteEmulation, 0);
    EXPECT_NE(GetObjectType(dc), (DWORD)OBJ_MEMDC);
    ReleaseDrawSurface(window, dc);
    dc = 0;
    SetEmulationValue(1);
    Acquire();
    EXPECT_EQ(paletteEmulation, 1);
    EXPECT_EQ(GetObjectType(dc), (DWORD)OBJ_MEMDC);
    ReleaseDrawSurface(window, dc);
    dc = 0;
    SetEmulationValue(0);
    Acquire();
    EXPECT_EQ(paletteEmulation, 1) << "0 means: by the device, which has no palette here";
}

TEST_F(Emulation, GdiPaintsPaletteIndicesAsOnA256ColourScreen)
{
    Acquire();
    PaletteState* state = CreatePaletteState(dc);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(surfacePalette, EmulatedSurfacePalette(dc));
    int stride = 0;
    BYTE* bits = SurfaceBits(dc, &stride);
    ASSERT_NE(bits, nullptr);

    // Brushes: entry i lands as byte 10 + i and reads back as entry i.
    for (int i = 0; i < 236; ++i)
        FillEntry(dc, (i % 16) * 4, (i / 16) * 4, (i % 16) * 4 + 4, (i / 16) * 4 + 4, i);
    int wrong = 0, nearestWrong = 0;
    for (int i = 0; i < 236; ++i) {
        int x = (i % 16) * 4 + 1, y = (i / 16) * 4 + 2;
        wrong += bits[y * stride + x] != 10 + i;
        nearestWrong += (int)GetNearestPaletteIndex(surfacePalette, GetPixel(dc, x, y)) != i;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(nearestWrong, 0);

    // Inversion turns entry i into 235 - i.
    PatBlt(dc, 0, 0, 64, 60, DSTINVERT);
    GdiFlush();
    wrong = 0;
    for (int i = 0; i < 236; ++i)
        wrong += bits[((i / 16) * 4 + 1) * stride + (i % 16) * 4 + 1] != 10 + (235 - i);
    EXPECT_EQ(wrong, 0);

    // Plain black and white are the static bytes 0 and 255.
    HBRUSH black = CreateSolidBrush(RGB(0, 0, 0));
    RECT r = {70, 0, 80, 10};
    FillRect(dc, &r, black);
    DeleteObject(black);
    PatBlt(dc, 80, 0, 10, 10, WHITENESS);
    GdiFlush();
    EXPECT_EQ(bits[5 * stride + 75], 0);
    EXPECT_EQ(bits[5 * stride + 85], 255);

    // A pixel picture painted with DIB_PAL_COLORS: pixel value = entry.
    struct {
        BITMAPINFOHEADER h;
        WORD indices[256];
    } info;
    ZeroMemory(&info, sizeof(info));
    info.h.biSize = sizeof(BITMAPINFOHEADER);
    info.h.biWidth = 16;
    info.h.biHeight = -15;
    info.h.biPlanes = 1;
    info.h.biBitCount = 8;
    info.h.biClrUsed = 236;
    for (int i = 0; i < 236; ++i)
        info.indices[i] = (WORD)i;
    BYTE picture[16 * 15];
    for (int i = 0; i < 16 * 15; ++i)
        picture[i] = (BYTE)(i < 236 ? i : 0);
    StretchDIBits(dc, 100, 50, 16, 15, 0, 0, 16, 15, picture, (BITMAPINFO*)&info, DIB_PAL_COLORS, SRCCOPY);
    GdiFlush();
    wrong = 0;
    for (int i = 0; i < 236; ++i)
        wrong += bits[(50 + i / 16) * stride + 100 + i % 16] != 10 + i;
    EXPECT_EQ(wrong, 0);

    // Pens and text in palette indices.
    HPEN pen = CreatePen(PS_SOLID, 1, PALETTEINDEX(33));
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, 0, 100, NULL);
    LineTo(dc, 50, 100);
    SelectObject(dc, old);
    DeleteObject(pen);
    SelectObject(dc, GetStockObject(ANSI_VAR_FONT));
    SetTextColor(dc, PALETTEINDEX(40));
    SetBkColor(dc, PALETTEINDEX(3));
    SetBkMode(dc, OPAQUE);
    TextOutA(dc, 60, 70, "Vivarent", 8);
    GdiFlush();
    EXPECT_EQ(bits[100 * stride + 25], 10 + 33);
    int text = 0, background = 0, other = 0;
    SIZE extent;
    GetTextExtentPoint32A(dc, "Vivarent", 8, &extent);
    for (int y = 70; y < 70 + extent.cy; ++y)
        for (int x = 60; x < 60 + extent.cx; ++x) {
            BYTE b = bits[y * stride + x];
            text += b == 10 + 40;
            background += b == 10 + 3;
            other += b != 10 + 40 && b != 10 + 3;
        }
    EXPECT_GT(text, 20);
    EXPECT_GT(background, 100);
    EXPECT_EQ(other, 0);
    DestroyPaletteState(state);
}

// Waits until a window pixel shows a colour; returns the last one read.
COLORREF WaitForPixel(HDC windowDc, int x, int y, COLORREF wanted, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    COLORREF got;
    do {
        got = GetPixel(windowDc, x, y);
        if (got == wanted)
            break;
        Sleep(5);
    } while (GetTickCount() - start < timeoutMs);
    return got;
}

TEST_F(Emulation, PresentsShowTheEnginesColoursAndMoveThemWithoutRedrawing)
{
    Acquire();
    UseTestClock(50000);
    PaletteState* state = CreatePaletteState(dc);
    ASSERT_NE(state, nullptr);
    HDC own = GetDC(window);
    state->dc = own;   // as the palette thread does
    for (int ch = 0; ch < 3; ++ch) {
        state->source[3 * PARAM_DIRECTION + ch] = SOURCE_SET;
        state->value[3 * PARAM_DIRECTION + ch] = 3;
        state->effect[ch] = EFFECT_SMOOTH;
    }
    StartChannels(state);
    FillEntry(dc, 40, 40, 100, 90, 120);
    SignalFrameDrawn();
    // At most one present goes out per display refresh; each step here
    // comes a refresh after the last.
    DWORD refresh = 1000 / DisplayRefreshRate(window) + 1;
    testNow += refresh;
    PaletteStep(state);

    HDC screen = GetDC(NULL);
    COLORREF first = EntryColour(state, 120);
    EXPECT_EQ(WaitForPixel(own, 70, 60, first, 500), first);
    EXPECT_EQ(WaitForPixel(screen, 40 + 70, 30 + 60, first, 1000), first) << "not on the screen";
    EXPECT_EQ(GetPixel(own, 5, 5), RGB(0, 0, 0)) << "static black stays black";

    // Further palette steps recolour the same pixel; nothing is redrawn.
    int changed = 0;
    for (int s = 0; s < 30; ++s) {
        testNow += refresh;
        PaletteStep(state);
        COLORREF now = EntryColour(state, 120);
        ASSERT_EQ(WaitForPixel(own, 70, 60, now, 500), now) << "step " << s;
        changed += now != first;
    }
    EXPECT_GT(changed, 10);
    COLORREF last = EntryColour(state, 120);
    EXPECT_EQ(WaitForPixel(screen, 40 + 70, 30 + 60, last, 1000), last);
    ReleaseDC(NULL, screen);
    state->dc = dc;
    ReleaseDC(window, own);
    DestroyPaletteState(state);
}

struct WaitCall {
    PaletteState* state;
    DWORD milliseconds;
};

DWORD WINAPI WaitThread(LPVOID argument)
{
    WaitCall* call = (WaitCall*)argument;
    PaletteThreadWait(call->state, call->milliseconds);
    return 0;
}

TEST_F(Emulation, ThePaletteWaitPresentsEachNewFrameAndOnlyThose)
{
    Acquire();
    PaletteState* state = CreatePaletteState(dc);
    ASSERT_NE(state, nullptr);
    HDC own = GetDC(window);
    state->dc = own;
    StartChannels(state);
    for (int ch = 0; ch < 3; ++ch) {
        state->source[3 * PARAM_DIRECTION + ch] = SOURCE_SET;
        state->value[3 * PARAM_DIRECTION + ch] = 0;
        state->nextEventTime[ch] = TickCount() + 600000;
    }
    PaletteStep(state);
    LONG presents = SurfacePresentCount();
    // Unchanged colours and no new frame: nothing to present.
    PaletteStep(state);
    EXPECT_EQ(SurfacePresentCount(), presents);

    renderRunning = 1;
    WaitCall call = {state, 1500};
    DWORD start = GetTickCount();
    HANDLE thread = CreateThread(NULL, 0, WaitThread, &call, 0, NULL);
    ASSERT_NE(thread, (HANDLE)0);
    const int entries[3] = {30, 60, 90};
    for (int f = 0; f < 3; ++f) {
        Sleep(150);
        FillEntry(dc, 20, 20, 60, 60, entries[f]);
        SignalFrameDrawn();
        COLORREF wanted = EntryColour(state, entries[f]);
        DWORD drawn = GetTickCount();
        EXPECT_EQ(WaitForPixel(own, 30, 30, wanted, 400), wanted) << "frame " << f;
        EXPECT_LT(GetTickCount() - drawn, 200u) << "frame " << f << " came late";
    }
    EXPECT_EQ(WaitForSingleObject(thread, 0), (DWORD)WAIT_TIMEOUT) << "the wait ended early";
    WaitForSingleObject(thread, 5000);
    DWORD elapsed = GetTickCount() - start;
    CloseHandle(thread);
    EXPECT_GE(elapsed, 1450u);
    EXPECT_LT(elapsed, 2500u);
    EXPECT_EQ(SurfacePresentCount() - presents, 3) << "one present per drawn frame";

    // Without new frames the wait just sleeps.
    presents = SurfacePresentCount();
    start = GetTickCount();
    PaletteThreadWait(state, 200);
    EXPECT_GE(GetTickCount() - start, 190u);
    EXPECT_EQ(SurfacePresentCount(), presents);
    state->dc = dc;
    ReleaseDC(window, own);
    DestroyPaletteState(state);
}

// --- The real saver ---------------------------------------------------------------

struct Screen {
    int width = 0, height = 0;
    std::vector<DWORD> pixels;
};

// Reads a rectangle of the screen (or all of it).
Screen Capture(int left = 0, int top = 0, int w = 0, int h = 0)
{
    Screen s;
    s.width = w ? w : GetSystemMetrics(SM_CXSCREEN);
    s.height = h ? h : GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    ZeroMemory(&info, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = s.width;
    info.bmiHeader.biHeight = -s.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = 0;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, s.width, s.height, screen, left, top, SRCCOPY);
    GdiFlush();
    s.pixels.assign((DWORD*)bits, (DWORD*)bits + (size_t)s.width * s.height);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return s;
}

double Fraction(const Screen& s, bool (*test)(DWORD))
{
    size_t n = 0;
    for (DWORD p : s.pixels)
        n += test(p);
    return s.pixels.empty() ? 0 : (double)n / s.pixels.size();
}

double ChangedFraction(const Screen& a, const Screen& b)
{
    size_t n = 0;
    for (size_t i = 0; i < a.pixels.size() && i < b.pixels.size(); ++i)
        n += (a.pixels[i] & 0xFFFFFF) != (b.pixels[i] & 0xFFFFFF);
    return a.pixels.empty() ? 0 : (double)n / a.pixels.size();
}

const char DISPLAY_NAME[] = "Emulated Colours";

void WriteInt(HKEY key, const char* name, int value)
{
    RegSetValueExA(key, name, 0, REG_BINARY, (const BYTE*)&value, 4);
}

// A display that runs Plasma alone, made active for the run; the previous
// "Active" and a missing display list come back afterwards.
class SaverDisplay {
public:
    SaverDisplay()
    {
        HKEY key;
        std::string saved = std::string(SAVER_KEY) + "\\Saved";
        if (RegOpenKeyExA(HKEY_CURRENT_USER, saved.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
            hadSaved = true;
            RegCloseKey(key);
        }
        RegCreateKeyExA(HKEY_CURRENT_USER, SAVER_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
        DWORD size = sizeof(previous);
        hadActive = RegQueryValueExA(key, "Active", NULL, NULL, (BYTE*)previous, &size) == ERROR_SUCCESS;
        RegSetValueExA(key, "Active", 0, REG_SZ, (const BYTE*)DISPLAY_NAME, sizeof(DISPLAY_NAME));
        RegCloseKey(key);
        // Plasma in 2 x 2 tiles, redrawn every second, held long; smooth
        // colour strips that scroll three entries a palette step.
        std::string display = std::string(SAVER_KEY) + "\\Saved\\" + DISPLAY_NAME;
        std::string module = display + "\\Modules\\Plasma";
        RegCreateKeyExA(HKEY_CURRENT_USER, module.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
        WriteInt(key, "Control1", 1);
        WriteInt(key, "Control3", 1000);
        WriteInt(key, "Control10", 2);
        WriteInt(key, "Control11", 2);
        RegCloseKey(key);
        std::string palette = display + "\\Palette";
        RegCreateKeyExA(HKEY_CURRENT_USER, palette.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
        const char* const colours[3] = {"Red", "Green", "Blue"};
        for (const char* colour : colours) {
            WriteInt(key, (std::string(colour) + "Effect").c_str(), 2);
            WriteInt(key, (std::string(colour) + "Direction").c_str(), 3);
        }
        RegCloseKey(key);
    }
    ~SaverDisplay()
    {
        std::string display = std::string(SAVER_KEY) + "\\Saved" + (hadSaved ? "\\" : "") +
                              (hadSaved ? DISPLAY_NAME : "");
        RegDeleteTreeA(HKEY_CURRENT_USER, display.c_str());
        if (!hadSaved)
            RegDeleteKeyA(HKEY_CURRENT_USER, display.c_str());
        HKEY key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, SAVER_KEY, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
            if (hadActive)
                RegSetValueExA(key, "Active", 0, REG_SZ, (const BYTE*)previous, (DWORD)strlen(previous) + 1);
            else
                RegDeleteValueA(key, "Active");
            RegCloseKey(key);
        }
    }

private:
    char previous[260] = "";
    bool hadActive = false;
    bool hadSaved = false;
};

bool NotBlack(DWORD p)
{
    return (p & 0xFFFFFF) != 0;
}

TEST(EmulatedSaver, ColoursMoveOnATrueColourScreen)
{
    SaverDisplay display;
    SaverProcess saver;
    ASSERT_TRUE(StartSaver("/s", &saver, 15000));
    ASSERT_NE(saver.window, (HWND)0) << "no saver window appeared";
    // Wait until the cloud covers most of the screen.
    DWORD start = GetTickCount();
    Screen a;
    do {
        Sleep(500);
        a = Capture();
    } while (Fraction(a, NotBlack) < 0.7 && GetTickCount() - start < 30000);
    a = Capture();
    SaveScreenBmp(OutputPath("emulation_a.bmp").c_str());
    Sleep(1000);
    Screen b = Capture();
    SaveScreenBmp(OutputPath("emulation_b.bmp").c_str());
    PostMessageA(saver.window, WM_KEYDOWN, 'Q', 0);
    EXPECT_TRUE(WaitSaverExit(&saver, 5000));
    KillSaver(&saver);

    EXPECT_GT(Fraction(a, NotBlack), 0.7) << "the picture did not reach the screen";
    EXPECT_GT(ChangedFraction(a, b), 0.3) << "the colours did not move";
}

// A child window (as in the preview) emulates and presents like the full
// screen.
TEST_F(Emulation, ChildWindowsEmulateAndPresentToo)
{
    HWND child = CreateWindowExA(0, "EmulationTestWindow", "", WS_CHILD | WS_VISIBLE, 20, 10, 100, 80, window,
                                 NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_NE(child, (HWND)0);
    Pump(50);
    int w = 0, h = 0;
    HDC surface = AcquireDrawSurface(child, &w, &h);
    ASSERT_NE(surface, (HDC)0);
    EXPECT_EQ(paletteEmulation, 1);
    EXPECT_EQ(w, 100);
    EXPECT_EQ(h, 80);
    PaletteState* state = CreatePaletteState(surface);
    ASSERT_NE(state, nullptr);
    HDC own = GetDC(child);
    state->dc = own;
    StartChannels(state);
    FillEntry(surface, 0, 0, 100, 80, 17);
    SignalFrameDrawn();
    PaletteStep(state);
    COLORREF wanted = EntryColour(state, 17);
    EXPECT_EQ(WaitForPixel(own, 50, 40, wanted, 500), wanted);
    HDC screen = GetDC(NULL);
    EXPECT_EQ(WaitForPixel(screen, 40 + 20 + 50, 30 + 10 + 40, wanted, 1000), wanted);
    ReleaseDC(NULL, screen);
    state->dc = surface;
    ReleaseDC(child, own);
    DestroyPaletteState(state);
    ReleaseDrawSurface(child, surface);
    DestroyWindow(child);
}

// The preview run of the real saver in a window of this process: it runs its
// frame loop on the emulated surface and ends with its parent.
TEST(EmulatedSaver, PreviewRunsAndEndsWithItsParent)
{
    SaverDisplay display;
    HWND parent = MakeWindow(100, 100, 200, 150);
    ASSERT_NE(parent, (HWND)0);
    char arguments[64];
    snprintf(arguments, sizeof(arguments), "/p %lu", (unsigned long)(ULONG_PTR)parent);
    SaverProcess saver;
    ASSERT_TRUE(StartSaver(arguments, &saver, 500));
    HWND child = 0;
    long frames = -1;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 15000 && frames < 50) {
        Pump(100);
        child = FindWindowExA(parent, NULL, "WindowsScreenSaverClass", NULL);
        if (child)
            frames = SaverFrameCounter(child);
    }
    EXPECT_NE(child, (HWND)0);
    EXPECT_GE(frames, 50) << "the preview's frame loop did not run";
    Pump(1000);
    EXPECT_GT(SaverFrameCounter(child), frames);
    DestroyWindow(parent);
    EXPECT_TRUE(WaitSaverExit(&saver, 5000)) << "the preview outlived its parent";
    KillSaver(&saver);
}

// A large present is converted by several threads at once, a strip at a
// time; every row must come out as the presenting thread alone converts it.
TEST(EmulationBands, LargePresentsInBandsShowWhatOneThreadShows)
{
    SetEmulationValue(-1);
    const int w = 1000, h = 700;
    HWND window = MakeWindow(0, 0, w, h);
    ASSERT_NE(window, (HWND)0);
    Pump(50);
    PALETTEENTRY colours[PALETTE_ENTRIES];
    for (int i = 0; i < PALETTE_ENTRIES; ++i)
        colours[i] = {(BYTE)(i * 7), (BYTE)(255 - i), (BYTE)(i * 3 + 1), 0};
    std::vector<DWORD> pictures[2];
    int bands[2] = {0, 0};
    for (int pass = 0; pass < 2; ++pass) {
        presentBandLimit = pass == 0 ? 1 : MAX_PRESENT_BANDS;
        presentBandPixels = w * h / MAX_PRESENT_BANDS;   // bands even on the small test screen
        presentSpareProcessors = 0;
        int sw = 0, sh = 0;
        HDC dc = AcquireDrawSurface(window, &sw, &sh);
        ASSERT_EQ(paletteEmulation, 1);
        bands[pass] = PresentBandCount();
        int stride = 0;
        BYTE* bits = SurfaceBits(dc, &stride);
        ASSERT_NE(bits, nullptr);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                bits[y * stride + x] = (BYTE)((x * 5 + y * 11) % 256);
        HDC own = GetDC(window);
        // White first, so that a band left out cannot pass for the last picture.
        RECT all = {0, 0, w, h};
        FillRect(own, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
        SetPresentPeriod(0);
        SignalFrameDrawn();
        PresentSurface(own, colours);
        Pump(50);
        pictures[pass] = WindowPixels(own, w, h);
        ReleaseDC(window, own);
        ReleaseDrawSurface(window, dc);
    }
    presentBandLimit = MAX_PRESENT_BANDS;
    presentBandPixels = MIN_BAND_PIXELS;
    presentSpareProcessors = SPARE_PROCESSORS;
    DestroyWindow(window);

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    EXPECT_EQ(bands[0], 1);
    if (system.dwNumberOfProcessors > 1) {
        EXPECT_GT(bands[1], 1) << "a large surface on several processors is converted in bands";
    }
    // Pixel (10, 0) holds byte 50, animated entry 40.
    const PALETTEENTRY& e = colours[50 - STATIC_LOW];
    EXPECT_EQ(pictures[0][10] & 0xFFFFFF, ((DWORD)e.peRed << 16) | ((DWORD)e.peGreen << 8) | e.peBlue);
    // The last row ends a strip shorter than the others.
    const PALETTEENTRY& last = colours[((w - 1) * 5 + (h - 1) * 11) % 256 - STATIC_LOW];
    EXPECT_EQ(pictures[0].back() & 0xFFFFFF,
              ((DWORD)last.peRed << 16) | ((DWORD)last.peGreen << 8) | last.peBlue);
    size_t different = 0;
    for (size_t i = 0; i < pictures[0].size(); ++i)
        different += (pictures[0][i] & 0xFFFFFF) != (pictures[1][i] & 0xFFFFFF);
    EXPECT_EQ(different, 0u);
}

}  // namespace
