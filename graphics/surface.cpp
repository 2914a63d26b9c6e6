// The drawing surface: the window (or an emulated palette device presented
// into it), the tiling and symmetry operations and the bitmap helpers.
#include "graphics/surface.h"
#include "graphics/palette.h"
#include "runtime/common.h"
#include "runtime/saver.h"
#include "runtime/soundlink.h"
#include "settings/registry.h"
#include <emmintrin.h>
#include <math.h>
#include <string.h>

volatile int paletteEmulation = 0;

static const COLORREF staticColours[20] = {
    RGB(0, 0, 0), RGB(128, 0, 0), RGB(0, 128, 0), RGB(128, 128, 0), RGB(0, 0, 128),
    RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192), RGB(192, 220, 192), RGB(166, 202, 240),
    RGB(255, 251, 240), RGB(160, 160, 164), RGB(128, 128, 128), RGB(255, 0, 0), RGB(0, 255, 0),
    RGB(255, 255, 0), RGB(0, 0, 255), RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)
};

COLORREF StaticColour(int byte)
{
    if (byte >= 0 && byte < STATIC_LOW)
        return staticColours[byte];
    if (byte >= STATIC_LOW + PALETTE_ENTRIES && byte < 256)
        return staticColours[byte - PALETTE_ENTRIES];
    return RGB(0, 0, 0);
}

COLORREF KeyColour(int entry)
{
    if (entry < 0)
        entry = 0;
    if (entry >= PALETTE_ENTRIES)
        entry = PALETTE_ENTRIES - 1;
    // Unique, and away from every static colour, so no nearest-colour match
    // of a static colour lands on an animated entry.
    return RGB(10 + entry, 97 + (entry % 7) * 3, 250 - entry);
}

HPALETTE CreateKeyPalette(void)
{
    PaletteBlock block;
    block.version = 0x300;
    block.count = PALETTE_ENTRIES;
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        COLORREF c = KeyColour(i);
        block.entry[i].peRed = GetRValue(c);
        block.entry[i].peGreen = GetGValue(c);
        block.entry[i].peBlue = GetBValue(c);
        block.entry[i].peFlags = 0;
    }
    return CreatePalette((LOGPALETTE*)&block);
}

// Every live emulated surface, so that the palette engine recognises one and
// leaves its key colours selected.
enum { MAX_EMULATED = 8 };
static struct {
    HDC dc;
    HPALETTE palette;
} emulatedSurfaces[MAX_EMULATED];

HPALETTE EmulatedSurfacePalette(HDC dc)
{
    if (!dc)
        return 0;
    for (int i = 0; i < MAX_EMULATED; ++i)
        if (emulatedSurfaces[i].dc == dc)
            return emulatedSurfaces[i].palette;
    return 0;
}

static void RegisterEmulated(HDC dc, HPALETTE palette)
{
    for (int i = 0; i < MAX_EMULATED; ++i)
        if (!emulatedSurfaces[i].dc) {
            emulatedSurfaces[i].dc = dc;
            emulatedSurfaces[i].palette = palette;
            return;
        }
}

static void UnregisterEmulated(HDC dc)
{
    for (int i = 0; i < MAX_EMULATED; ++i)
        if (emulatedSurfaces[i].dc == dc) {
            emulatedSurfaces[i].dc = 0;
            emulatedSurfaces[i].palette = 0;
        }
}

int CreateEmulatedSurface(EmulatedSurface* surface, int width, int height)
{
    ZeroMemory(surface, sizeof(*surface));
    if (width <= 0 || height <= 0)
        return 0;
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info;
    ZeroMemory(&info, sizeof(info));
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;   // top-down: row 0 first in memory
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biClrUsed = 256;
    for (int byte = 0; byte < 256; ++byte) {
        COLORREF c = (byte < STATIC_LOW || byte >= STATIC_LOW + PALETTE_ENTRIES) ? StaticColour(byte)
                                                                                 : KeyColour(byte - STATIC_LOW);
        info.colours[byte].rgbRed = GetRValue(c);
        info.colours[byte].rgbGreen = GetGValue(c);
        info.colours[byte].rgbBlue = GetBValue(c);
    }
    HDC screen = GetDC(NULL);
    surface->dc = CreateCompatibleDC(screen);
    ReleaseDC(NULL, screen);
    if (!surface->dc)
        return 0;
    void* bits = 0;
    surface->bitmap = CreateDIBSection(surface->dc, (BITMAPINFO*)&info, DIB_RGB_COLORS, &bits, NULL, 0);
    surface->palette = CreateKeyPalette();
    if (!surface->bitmap || !surface->palette || !bits) {
        DestroyEmulatedSurface(surface);
        return 0;
    }
    surface->bits = (BYTE*)bits;
    surface->width = width;
    surface->height = height;
    surface->stride = (width + 3) & ~3;
    surface->oldBitmap = SelectObject(surface->dc, surface->bitmap);
    surface->oldPalette = SelectPalette(surface->dc, surface->palette, FALSE);
    RealizePalette(surface->dc);
    RegisterEmulated(surface->dc, surface->palette);
    return 1;
}

void DestroyEmulatedSurface(EmulatedSurface* surface)
{
    if (surface->dc) {
        UnregisterEmulated(surface->dc);
        if (surface->oldPalette)
            SelectPalette(surface->dc, surface->oldPalette, FALSE);
        if (surface->oldBitmap)
            SelectObject(surface->dc, surface->oldBitmap);
        DeleteDC(surface->dc);
    }
    if (surface->bitmap)
        DeleteObject(surface->bitmap);
    if (surface->palette)
        DeleteObject(surface->palette);
    ZeroMemory(surface, sizeof(*surface));
}

// --- The saver's surface and its presentation --------------------------------

// The emulated surface of the running saver, and the strips of 32-bit
// picture it is converted into on their way to the window.
static EmulatedSurface drawSurface;
static struct {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    DWORD* bits;       // PRESENT_STRIP_SLOTS slots of stripRows rows each
    int stripRows;
    int strips;        // strips in the whole surface
} presentBuffer;
static HANDLE frameEvent = 0;
// Frames flushed by the render thread, and the one last presented.
static volatile LONG framesDrawn = 0;
static volatile LONG framesPresented = 0;
static volatile LONG presentCount = 0;
// Presents go out at most once per display refresh: one asked for sooner is
// held back and made when its refresh comes (PaletteThreadWait).
static double presentPeriod = 1000.0 / DEFAULT_REFRESH_RATE;
static double lastPresentAt = 0;
static volatile LONG presentHeld = 0;
static DWORD lastLookup[256];
static int lookupValid = 0;
// The fixed part of the byte-to-colour lookup: the static colours, as 0xRRGGBB.
static DWORD staticLookup[256];

static void FillStaticLookup(void)
{
    for (int byte = 0; byte < 256; ++byte) {
        COLORREF c = StaticColour(byte);
        staticLookup[byte] = ((DWORD)GetRValue(c) << 16) | ((DWORD)GetGValue(c) << 8) | GetBValue(c);
    }
}

// --- Conversion in strips ------------------------------------------------------

static DWORD* StripSlot(int slot)
{
    return presentBuffer.bits + (size_t)slot * presentBuffer.stripRows * drawSurface.width;
}

static int StripTop(int strip)
{
    return strip * presentBuffer.stripRows;
}

static int StripBottom(int strip)
{
    int bottom = StripTop(strip) + presentBuffer.stripRows;
    return bottom < drawSurface.height ? bottom : drawSurface.height;
}

// Four pixels at a time, put together in a register and stored at once: a
// quarter of the stores of one pixel at a time.
static void ConvertStrip(int strip, int slot, const DWORD* lookup)
{
    int width = drawSurface.width;
    DWORD* out = StripSlot(slot);
    for (int y = StripTop(strip); y < StripBottom(strip); ++y, out += width) {
        const BYTE* source = drawSurface.bits + (size_t)y * drawSurface.stride;
        int x = 0;
        for (; x + 4 <= width; x += 4) {
            DWORD four;
            memcpy(&four, source + x, 4);
            __m128i a = _mm_cvtsi32_si128((int)lookup[four & 255]);
            __m128i b = _mm_cvtsi32_si128((int)lookup[(four >> 8) & 255]);
            __m128i c = _mm_cvtsi32_si128((int)lookup[(four >> 16) & 255]);
            __m128i d = _mm_cvtsi32_si128((int)lookup[four >> 24]);
            _mm_storeu_si128((__m128i*)(out + x),
                             _mm_unpacklo_epi64(_mm_unpacklo_epi32(a, b), _mm_unpacklo_epi32(c, d)));
        }
        for (; x < width; ++x)
            out[x] = lookup[source[x]];
    }
}

// The blit is flushed at once: GDI may batch it, and the slot is reused.
static void BlitStrip(HDC target, int strip, int slot)
{
    int top = StripTop(strip);
    BitBlt(target, 0, top, drawSurface.width, StripBottom(strip) - top, presentBuffer.dc, 0,
           slot * presentBuffer.stripRows, SRCCOPY);
    GdiFlush();
}

// --- Helper threads for large surfaces -----------------------------------------
//
// Helper h of n converts strips h-1, h-1+n, ... into their slots while the
// presenting thread blits them in order. The two sides meet through counts,
// not events: a hand-over per strip through the kernel would cost more than
// a strip's conversion.

enum { BAND_GRACE_MS = 2000, BAND_KILLED_CODE = 42, SPINS_BEFORE_YIELD = 256 };

int presentBandLimit = MAX_PRESENT_BANDS;
int presentBandPixels = MIN_BAND_PIXELS;
int presentSpareProcessors = SPARE_PROCESSORS;

struct ConvertBand {
    HANDLE thread;
    HANDLE start;        // set by the presenting thread: a present has begun
    volatile LONG quit;
};

static ConvertBand convertBands[MAX_PRESENT_BANDS];
static int convertBandCount = 1;
// The lookup the helpers read; written only while every helper is idle.
static DWORD bandLookup[256];
// For each slot, 1 + the strip last converted into it; and the strips the
// presenting thread has blitted (and flushed) so far in this present.
static volatile LONG slotConverted[PRESENT_STRIP_SLOTS];
static volatile LONG stripsBlitted;

// Waits until *count reaches wanted. 0 when it cannot come: the thread that
// would move it has ended, or this helper is told to quit.
static int WaitForCount(volatile LONG* count, LONG wanted, HANDLE other, volatile LONG* quit)
{
    for (int spins = 0; *count < wanted; ++spins) {
        if (spins < SPINS_BEFORE_YIELD) {
            YieldProcessor();
            continue;
        }
        if (quit && *quit)
            return 0;
        if (other && WaitForSingleObject(other, 0) == WAIT_OBJECT_0)
            return 0;
        Sleep(0);
    }
    MemoryBarrier();
    return 1;
}

static DWORD WINAPI ConvertBandThread(LPVOID argument)
{
    ConvertBand* band = (ConvertBand*)argument;
    int first = (int)(band - convertBands);
    int bands = convertBandCount;
    for (;;) {
        if (WaitForSingleObject(band->start, INFINITE) != WAIT_OBJECT_0 || band->quit)
            return 0;
        for (int strip = first; strip < presentBuffer.strips; strip += bands) {
            // The slot is free once the strip before in it has gone out.
            if (!WaitForCount(&stripsBlitted, strip - PRESENT_STRIP_SLOTS + 1, NULL, &band->quit))
                return 0;
            ConvertStrip(strip, strip % PRESENT_STRIP_SLOTS, bandLookup);
            MemoryBarrier();
            slotConverted[strip % PRESENT_STRIP_SLOTS] = strip + 1;
        }
    }
}

static void StopConvertBands(void)
{
    for (int i = 1; i < convertBandCount; ++i) {
        ConvertBand* band = &convertBands[i];
        if (band->thread) {
            band->quit = 1;
            SetEvent(band->start);
            if (WaitForSingleObject(band->thread, BAND_GRACE_MS) != WAIT_OBJECT_0)
                TerminateThread(band->thread, BAND_KILLED_CODE);
            CloseHandle(band->thread);
        }
        if (band->start)
            CloseHandle(band->start);
    }
    ZeroMemory(convertBands, sizeof(convertBands));
    convertBandCount = 1;
}

int PresentBandCount(void)
{
    return convertBandCount;
}

// A band for each processor beyond the spare ones (within the limit), each
// of a useful size; a helper that cannot be had leaves the bands made so far.
static void StartConvertBands(int width, int height)
{
    SYSTEM_INFO system;
    ZeroMemory(&system, sizeof(system));
    GetSystemInfo(&system);
    int wanted = (int)system.dwNumberOfProcessors - presentSpareProcessors;
    if (wanted > presentBandLimit)
        wanted = presentBandLimit;
    if (wanted > MAX_PRESENT_BANDS)
        wanted = MAX_PRESENT_BANDS;
    long long pixels = (long long)width * height;
    while (wanted > 1 && pixels / wanted < presentBandPixels)
        --wanted;
    if (wanted < 1)
        wanted = 1;
    // Every helper is counted before any starts: each reads the count once.
    convertBandCount = wanted;
    int started = 1;
    for (int i = 1; i < wanted; ++i) {
        ConvertBand* band = &convertBands[i];
        band->quit = 0;
        band->start = CreateEventA(NULL, FALSE, FALSE, NULL);
        if (!band->start)
            break;
        band->thread = CreateThread(NULL, 0, ConvertBandThread, band, CREATE_SUSPENDED, NULL);
        if (!band->thread) {
            CloseHandle(band->start);
            band->start = 0;
            break;
        }
        started = i + 1;
    }
    convertBandCount = started;
    for (int i = 1; i < started; ++i)
        ResumeThread(convertBands[i].thread);
}

// Converts and blits the whole surface. With helpers, this thread blits the
// strips they convert; a helper that has ended (a fault) has its strips
// converted here.
static void ConvertAndBlit(HDC target, const DWORD* lookup)
{
    int strips = presentBuffer.strips;
    int helpers = convertBandCount - 1;
    if (helpers <= 0) {
        // One slot, which stays in the cache from conversion to blit.
        for (int strip = 0; strip < strips; ++strip) {
            ConvertStrip(strip, 0, lookup);
            BlitStrip(target, strip, 0);
        }
        return;
    }
    memcpy(bandLookup, lookup, sizeof(bandLookup));
    for (int i = 0; i < PRESENT_STRIP_SLOTS; ++i)
        slotConverted[i] = 0;
    stripsBlitted = 0;
    MemoryBarrier();
    for (int i = 1; i <= helpers; ++i)
        SetEvent(convertBands[i].start);
    for (int strip = 0; strip < strips; ++strip) {
        int band = strip % convertBandCount;
        int slot = strip % PRESENT_STRIP_SLOTS;
        if (band == 0 || !WaitForCount(&slotConverted[slot], strip + 1, convertBands[band].thread, NULL))
            ConvertStrip(strip, slot, lookup);
        BlitStrip(target, strip, slot);
        InterlockedIncrement(&stripsBlitted);
    }
}

static void DestroyPresentBuffer(void)
{
    StopConvertBands();
    if (presentBuffer.dc) {
        if (presentBuffer.oldBitmap)
            SelectObject(presentBuffer.dc, presentBuffer.oldBitmap);
        DeleteDC(presentBuffer.dc);
    }
    if (presentBuffer.bitmap)
        DeleteObject(presentBuffer.bitmap);
    ZeroMemory(&presentBuffer, sizeof(presentBuffer));
}

static int CreatePresentBuffer(int width, int height)
{
    BITMAPINFO info;
    ZeroMemory(&info, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    int rows = PRESENT_STRIP_PIXELS / width;
    if (rows < 1)
        rows = 1;
    if (rows > height)
        rows = height;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -rows * PRESENT_STRIP_SLOTS;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    HDC screen = GetDC(NULL);
    presentBuffer.dc = CreateCompatibleDC(screen);
    ReleaseDC(NULL, screen);
    void* bits = 0;
    if (presentBuffer.dc)
        presentBuffer.bitmap = CreateDIBSection(presentBuffer.dc, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!presentBuffer.bitmap || !bits) {
        DestroyPresentBuffer();
        return 0;
    }
    presentBuffer.bits = (DWORD*)bits;
    presentBuffer.stripRows = rows;
    presentBuffer.strips = (height + rows - 1) / rows;
    presentBuffer.oldBitmap = SelectObject(presentBuffer.dc, presentBuffer.bitmap);
    StartConvertBands(width, height);
    return 1;
}

int DisplayRefreshRate(HWND window)
{
    MONITORINFOEXA monitor;
    ZeroMemory(&monitor, sizeof(monitor));
    monitor.cbSize = sizeof(monitor);
    const char* device = NULL;
    HMONITOR handle = MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
    if (handle && GetMonitorInfoA(handle, (MONITORINFO*)&monitor))
        device = monitor.szDevice;
    DEVMODEA mode;
    ZeroMemory(&mode, sizeof(mode));
    mode.dmSize = sizeof(mode);
    DWORD rate = 0;
    if (EnumDisplaySettingsA(device, ENUM_CURRENT_SETTINGS, &mode))
        rate = mode.dmDisplayFrequency;
    // 0 and 1 stand for the hardware's default rate; an absurd rate must not
    // turn the pacing off.
    if (rate <= 1)
        rate = DEFAULT_REFRESH_RATE;
    if (rate > MAX_REFRESH_RATE)
        rate = MAX_REFRESH_RATE;
    return (int)rate;
}

void SetPresentPeriod(double milliseconds)
{
    presentPeriod = milliseconds > 0 ? milliseconds : 0;
}

int PaletteEmulationWanted(HDC dc)
{
    DWORD mode = 0;
    ReadSaverValue("PaletteEmulation", REG_DWORD, &mode, sizeof(mode));
    return mode == 1 || (mode != 2 && dc && !(GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE));
}

HDC AcquireDrawSurface(HWND window, int* width, int* height)
{
    RECT client;
    SetRectEmpty(&client);
    GetClientRect(window, &client);
    *width = client.right;
    *height = client.bottom;
    HDC dc = GetDC(window);

    int emulate = PaletteEmulationWanted(dc);
    if (!emulate || drawSurface.dc || *width <= 0 || *height <= 0)
        return dc;
    if (!CreateEmulatedSurface(&drawSurface, *width, *height))
        return dc;
    frameEvent = CreateEventA(NULL, FALSE, FALSE, NULL);
    if (!CreatePresentBuffer(*width, *height) || !frameEvent) {
        // Without the means to present it, draw on the window itself.
        DestroyPresentBuffer();
        DestroyEmulatedSurface(&drawSurface);
        if (frameEvent)
            CloseHandle(frameEvent);
        frameEvent = 0;
        return dc;
    }
    ReleaseDC(window, dc);
    framesDrawn = 0;
    framesPresented = 0;
    lookupValid = 0;
    presentHeld = 0;
    SetPresentPeriod(1000.0 / DisplayRefreshRate(window));
    FillStaticLookup();
    paletteEmulation = 1;
    return drawSurface.dc;
}

void ReleaseDrawSurface(HWND window, HDC dc)
{
    if (!dc)
        return;
    if (dc != drawSurface.dc) {
        ReleaseDC(window, dc);
        return;
    }
    paletteEmulation = 0;
    DestroyPresentBuffer();
    DestroyEmulatedSurface(&drawSurface);
    if (frameEvent)
        CloseHandle(frameEvent);
    frameEvent = 0;
}

int SetupDrawSurface(HDC dc, HWND window)
{
    if (dc)
        SelectObject(dc, GetStockObject(ANSI_VAR_FONT));
    int full = CoversScreen(window);
    SoundShare* share = sound;
    if (share)
        share->fullScreen = full;
    return full;
}

void SignalFrameDrawn(void)
{
    if (!paletteEmulation)
        return;
    InterlockedIncrement(&framesDrawn);
    if (frameEvent)
        SetEvent(frameEvent);
}

// Milliseconds until a present may go out; 0 or less when it may now. A
// clock that went back (a test resetting its clock) lets it go out.
static double PresentDueIn(double now)
{
    if (!lookupValid)
        return 0;
    double since = now - lastPresentAt;
    if (since < 0 || since >= presentPeriod)
        return 0;
    return presentPeriod - since;
}

static void PresentNow(HDC target, const PALETTEENTRY* animated, double now)
{
    LONG frame = framesDrawn;
    presentHeld = 0;
    DWORD lookup[256];
    memcpy(lookup, staticLookup, sizeof(lookup));
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        const PALETTEENTRY* e = &animated[i];
        lookup[STATIC_LOW + i] = ((DWORD)e->peRed << 16) | ((DWORD)e->peGreen << 8) | e->peBlue;
    }
    // Same colours and no new frame: the window already shows this.
    if (lookupValid && frame == framesPresented && memcmp(lookup, lastLookup, sizeof(lookup)) == 0)
        return;

    ConvertAndBlit(target, lookup);
    // Where window drawing waits in a client-side surface until a thread
    // waits for messages (Wine), a zero wait hands the picture on now.
    MsgWaitForMultipleObjects(0, NULL, FALSE, 0, 0);
    memcpy(lastLookup, lookup, sizeof(lookup));
    lookupValid = 1;
    lastPresentAt = now;
    framesPresented = frame;
    InterlockedIncrement(&presentCount);
}

static int PresentPossible(HDC target, const PALETTEENTRY* animated)
{
    return paletteEmulation && target && target != drawSurface.dc && animated && drawSurface.bits &&
           presentBuffer.bits;
}

void PresentSurface(HDC target, const PALETTEENTRY* animated)
{
    if (!PresentPossible(target, animated))
        return;
    double now = PreciseTickCount();
    if (PresentDueIn(now) > 0) {
        // Palette steps faster than the display refreshes: the next present
        // shows this step's colours, and none is lost.
        presentHeld = 1;
        return;
    }
    PresentNow(target, animated, now);
}

LONG SurfacePresentCount(void)
{
    return presentCount;
}

void PaletteThreadWait(PaletteState* state, DWORD milliseconds)
{
    HANDLE event = frameEvent;
    if (!paletteEmulation || !event || !state || !state->entries) {
        Sleep(milliseconds);
        return;
    }
    double start = PreciseTickCount();
    // Real time spent in waits that ran out, so that the wait also ends
    // under a clock that stands still (a test's).
    double waited = 0;
    for (;;) {
        if (!renderRunning || !paletteEmulation)
            return;
        double now = PreciseTickCount();
        int wanted = presentHeld || framesDrawn != framesPresented;
        double due = wanted ? PresentDueIn(now) : 0;
        if (wanted && due <= 0) {
            if (PresentPossible(state->dc, state->entries->entry)) {
                PresentNow(state->dc, state->entries->entry, now);
            } else {
                presentHeld = 0;
                framesPresented = framesDrawn;
            }
            wanted = 0;
        }
        double elapsed = now - start;
        if (elapsed < waited)
            elapsed = waited;
        if (elapsed >= (double)milliseconds)
            return;
        double timeout = (double)milliseconds - elapsed;
        int forPresent = 0;
        if (wanted && due < timeout) {
            timeout = due;
            forPresent = 1;
        }
        DWORD ms = (DWORD)ceil(timeout);
        if (ms < 1)
            ms = 1;
        DWORD result = WaitForSingleObject(event, ms);
        if (result == WAIT_TIMEOUT) {
            waited += ms;
            if (!forPresent)
                return;
            continue;
        }
        if (result != WAIT_OBJECT_0) {
            Sleep(ms);
            return;
        }
    }
}

// --- Tiling ------------------------------------------------------------------

int TileAdmitted(int column, int row, int tileType)
{
    int odd = ((column + row) & 1) != 0;
    if (tileType == 1)
        return odd;
    if (tileType == 2)
        return !odd;
    return 1;
}

void TiledCopy(HDC dc, int nx, int ny, int tileWidth, int tileHeight, int tileType)
{
    int skipFirst = tileType == 1;
    int sourceX = tileType == 1 ? tileWidth : 0;
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            if (!TileAdmitted(i, j, tileType))
                continue;
            if (skipFirst) {
                skipFirst = 0;
                continue;
            }
            int x = i * tileWidth, w = tileWidth;
            if (i & 1) {
                x = i * tileWidth + tileWidth - 1;
                w = -tileWidth;
            }
            int y = j * tileHeight, h = tileHeight;
            if (j & 1) {
                y = (j + 1) * tileHeight - 1;
                h = -tileHeight;
            }
            StretchBlt(dc, x, y, w, h, dc, sourceX, 0, tileWidth, tileHeight, SRCCOPY);
        }
    }
}

// One row of the ring, w pixels from (sx, sy) to (x, y); mirrored left to right
// when flip is set.
static void CopyRow(HDC dc, int x, int y, int w, int sx, int sy, int flip)
{
    if (flip)
        StretchBlt(dc, x + w - 1, y, -w, 1, dc, sx, sy, w, 1, SRCCOPY);
    else
        BitBlt(dc, x, y, w, 1, dc, sx, sy, SRCCOPY);
}

// One column of the ring, h pixels; mirrored top to bottom when flip is set.
static void CopyColumn(HDC dc, int x, int y, int h, int sx, int sy, int flip)
{
    if (flip)
        StretchBlt(dc, x, y + h - 1, 1, -h, dc, sx, sy, 1, h, SRCCOPY);
    else
        BitBlt(dc, x, y, 1, h, dc, sx, sy, SRCCOPY);
}

void RingTiledCopy(HDC dc, int nx, int ny, int tileWidth, int tileHeight, int tileType,
                   int ringWidth, int ringHeight, const RECT* ring, const RECT* unshifted)
{
    if (!ring || !unshifted)
        return;
    const RECT* r = ring;
    const RECT* u = unshifted;
    int w = ringWidth, h = ringHeight;
    int skip = r->left != 0;
    for (int j = 0; j < ny; ++j) {
        int y0 = u->top + j * tileHeight;
        int yb = u->bottom + (y0 - u->top);
        for (int i = 0; i < nx; ++i) {
            if (!TileAdmitted(i, j, tileType))
                continue;
            if (skip) {
                skip = 0;
                continue;
            }
            int x0 = u->left + i * tileWidth;
            int xr = u->right + (x0 - u->left);
            int mirrorX = i & 1, mirrorY = j & 1;
            // Rows: a tile mirrored top to bottom takes the ring's bottom row
            // at its top; columns likewise left to right.
            int topSource = mirrorY ? r->bottom : r->top;
            int bottomSource = mirrorY ? r->top : r->bottom;
            int leftSource = mirrorX ? r->right : r->left;
            int rightSource = mirrorX ? r->left : r->right;
            CopyRow(dc, x0, y0, w, r->left, topSource, mirrorX);
            CopyRow(dc, x0, yb, w, r->left, bottomSource, mirrorX);
            CopyColumn(dc, x0, y0, h, leftSource, r->top, mirrorY);
            CopyColumn(dc, xr, y0, h, rightSource, r->top, mirrorY);
        }
    }
}

void RotatePoint(POINT* point, float angle)
{
    if (!point || !isfinite(angle))
        return;
    RotatePointBy(point, cosl(angle), sinl(angle));
}

int quickTruncation = 1;

LONG TruncLongDouble(long double v)
{
    // The nearest double lies on the same side of every whole number as v
    // unless it is whole itself; then the exact rest says which side.
    double nearest = (double)v;
    if (!quickTruncation || !(nearest > -2147483648.0 && nearest < 2147483648.0))
        return (LONG)v;
    LONG n = (LONG)nearest;
    if ((double)n != nearest)
        return n;
    long double rest = v - (long double)nearest;
    if (n > 0 && rest < 0)
        return n - 1;
    if (n < 0 && rest > 0)
        return n + 1;
    return n;
}

void RotatePointBy(POINT* point, long double c, long double s)
{
    long double x = c * point->x + s * point->y;
    long double y = c * point->y - s * point->x;
    point->x = TruncLongDouble(x);
    point->y = TruncLongDouble(y);
}

// --- Symmetry of pixel buffers ---------------------------------------------------

struct PixelBuffer {
    BYTE* p;
    int stride;
    int w;   // largest column index
    int h;   // largest row index
};

static inline BYTE* At(const PixelBuffer* b, int x, int y)
{
    return b->p + (size_t)y * b->stride + x;
}

static void Exchange(BYTE* a, BYTE* b)
{
    BYTE t = *a;
    *a = *b;
    *b = t;
}

static void Smooth(const PixelBuffer* b)
{
    if (b->w - 2 <= 1)
        return;
    for (int x = 1; x <= b->w - 3; ++x)
        for (int y = 1; y <= b->h - 3; ++y) {
            int sum = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    sum += *At(b, x + dx, y + dy);
            *At(b, x, y) = (BYTE)(sum / 9);
        }
}

// The swaps exchange every other pixel, in a checkerboard alternating by row,
// with its mirror through the centre (point) or the vertical axis.
static void MirrorSwap(const PixelBuffer* b, int throughCentre)
{
    int f = 0;
    for (int y = 0; y <= b->h - 1; ++y) {
        f = !f;
        int my = throughCentre ? b->h - y : y;
        for (int x = 0; x <= b->w / 2; ++x) {
            f = !f;
            if (f)
                Exchange(At(b, x, y), At(b, b->w - x, my));
        }
    }
}

static void PointSwap(const PixelBuffer* b)
{
    MirrorSwap(b, 1);
}

static void HorizontalSwap(const PixelBuffer* b)
{
    MirrorSwap(b, 0);
}

static void VerticalSwap(const PixelBuffer* b)
{
    if (b->h < 2)
        return;
    int f = 0;
    for (int y = 0; y <= b->h / 2 - 1; ++y) {
        f = !f;
        for (int x = 0; x <= b->w - 2; ++x) {
            f = !f;
            if (f)
                Exchange(At(b, x, y), At(b, x, b->h - y));
        }
    }
}

// Fills replace only the pixels in the upper half of the index range.
enum { FILL_POINT, FILL_HORIZONTAL, FILL_VERTICAL };
static void Fill(const PixelBuffer* b, const PixelBuffer* q, int kind)
{
    for (int y = 0; y <= b->h - 1; ++y)
        for (int x = 0; x <= b->w - 1; ++x) {
            BYTE* p = At(b, x, y);
            if (*p <= 127)
                continue;
            int mx = kind == FILL_VERTICAL ? x : b->w - x;
            int my = kind == FILL_HORIZONTAL ? y : b->h - y;
            *p = *At(q, mx, my);
        }
}

void ApplySymmetry(BYTE* buffer, int maxX, int maxY, int mode)
{
    if (!buffer || maxX < 0 || maxY < 0)
        return;
    PixelBuffer b = {buffer, (maxX + 1 + 3) & ~3, maxX, maxY};
    if (mode == 0)
        mode = Random() % 20;
    if (mode > 10) {
        Smooth(&b);
        mode -= 10;
    }
    HGLOBAL copyMemory = 0;
    PixelBuffer q = b;
    if (mode >= 4 && mode != 10) {
        size_t size = (size_t)b.stride * (size_t)(maxY + 1);
        copyMemory = GlobalAlloc(GHND, size);
        q.p = copyMemory ? (BYTE*)GlobalLock(copyMemory) : 0;
        if (!q.p) {
            if (copyMemory)
                GlobalFree(copyMemory);
            return;
        }
        memcpy(q.p, buffer, size);
    }
    switch (mode) {
    case 1: PointSwap(&b); break;
    case 2: HorizontalSwap(&b); break;
    case 3: VerticalSwap(&b); break;
    case 4: Fill(&b, &q, FILL_POINT); break;
    case 5: Fill(&b, &q, FILL_HORIZONTAL); break;
    case 6: Fill(&b, &q, FILL_VERTICAL); break;
    case 7: Fill(&b, &q, FILL_POINT); PointSwap(&b); break;
    case 8: Fill(&b, &q, FILL_HORIZONTAL); PointSwap(&b); break;
    case 9: Fill(&b, &q, FILL_VERTICAL); PointSwap(&b); break;
    case 10: Smooth(&b); break;
    default: break;
    }
    if (copyMemory) {
        GlobalUnlock(copyMemory);
        GlobalFree(copyMemory);
    }
}

// --- Writing straight into an 8-bit surface ---------------------------------------

int OpenDirectSurface(HDC dc, DirectSurface* s)
{
    DIBSECTION section;
    HGDIOBJ bitmap = dc ? GetCurrentObject(dc, OBJ_BITMAP) : 0;
    if (!bitmap || GetObjectA(bitmap, sizeof(section), &section) != (int)sizeof(section))
        return 0;
    if (section.dsBm.bmBitsPixel != 8 || !section.dsBm.bmBits || section.dsBm.bmHeight < 1)
        return 0;
    POINT viewport, window;
    if (GetMapMode(dc) != MM_TEXT || GetGraphicsMode(dc) != GM_COMPATIBLE || GetROP2(dc) != R2_COPYPEN ||
        GetLayout(dc) != 0 || !GetViewportOrgEx(dc, &viewport) || !GetWindowOrgEx(dc, &window) || viewport.x ||
        viewport.y || window.x || window.y)
        return 0;
    s->topDown = DibRowsTopDown(dc);
    if (s->topDown < 0)
        return 0;
    s->bits = (BYTE*)section.dsBm.bmBits;
    s->stride = section.dsBm.bmWidthBytes;
    s->width = section.dsBm.bmWidth;
    s->height = section.dsBm.bmHeight;
    s->clipCount = 0;
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    if (!region)
        return 0;
    int clipped = GetClipRgn(dc, region);
    int ok = clipped >= 0;
    if (clipped == 0) {
        SetRect(&s->clip[0], 0, 0, s->width, s->height);
        s->clipCount = 1;
    } else if (clipped > 0) {
        static BYTE data[sizeof(RGNDATAHEADER) + DIRECT_CLIP_RECTS * sizeof(RECT)];
        DWORD size = GetRegionData(region, 0, NULL);
        ok = size && size <= sizeof(data) && GetRegionData(region, sizeof(data), (RGNDATA*)data);
        const RGNDATA* list = (const RGNDATA*)data;
        const RECT* r = (const RECT*)list->Buffer;
        for (DWORD i = 0; ok && i < list->rdh.nCount && s->clipCount < DIRECT_CLIP_RECTS; ++i) {
            RECT c = r[i];
            if (c.left < 0) c.left = 0;
            if (c.top < 0) c.top = 0;
            if (c.right > s->width) c.right = s->width;
            if (c.bottom > s->height) c.bottom = s->height;
            if (c.left < c.right && c.top < c.bottom)
                s->clip[s->clipCount++] = c;
        }
    }
    DeleteObject(region);
    // Whatever GDI still holds back must land before these bytes change.
    GdiFlush();
    return ok;
}

BYTE* DirectRow(const DirectSurface* s, int y)
{
    return s->bits + (size_t)(s->topDown ? y : s->height - 1 - y) * s->stride;
}

// Wine's 32-bit memset goes byte by byte, and the tiled masks fill hundreds
// of thousands of spans a second: they are filled a word at a time.
static void FillBytes(BYTE* p, BYTE colour, int n)
{
    for (; n > 0 && ((UINT_PTR)p & 3); --n)
        *p++ = colour;
    DWORD word = colour * 0x01010101u;
    for (; n >= 4; n -= 4, p += 4)
        memcpy(p, &word, 4);
    if (n & 2) {
        memcpy(p, &word, 2);
        p += 2;
    }
    if (n & 1)
        *p = colour;
}

// Pixels x0..x1 of row y within the clip: set to `colour`, or copied from
// source[0..] when a source is given.
static void WriteDirectSpan(const DirectSurface* s, int y, int x0, int x1, BYTE colour, const BYTE* source)
{
    if (y < 0 || y >= s->height)
        return;
    BYTE* row = DirectRow(s, y);
    for (int i = 0; i < s->clipCount; ++i) {
        const RECT* c = &s->clip[i];
        if (y < c->top || y >= c->bottom)
            continue;
        int a = x0 < c->left ? c->left : x0;
        int b = x1 >= c->right ? c->right - 1 : x1;
        if (a > b)
            continue;
        if (source)
            memcpy(row + a, source + (a - x0), (size_t)(b - a + 1));
        else
            FillBytes(row + a, colour, b - a + 1);
    }
}

void FillDirectSpan(const DirectSurface* s, int y, int x0, int x1, BYTE colour)
{
    WriteDirectSpan(s, y, x0, x1, colour, 0);
}

void CopyDirectSpan(const DirectSurface* s, int y, int x0, int x1, const BYTE* source)
{
    WriteDirectSpan(s, y, x0, x1, 0, source);
}

void* GrowScratch(void* buffer, size_t* capacity, size_t bytes)
{
    if (buffer && *capacity >= bytes)
        return buffer;
    if (buffer)
        HeapFree(GetProcessHeap(), 0, buffer);
    *capacity = 0;
    buffer = HeapAlloc(GetProcessHeap(), 0, bytes);
    if (buffer)
        *capacity = bytes;
    return buffer;
}

// --- Runs filled into every tile, row by row ------------------------------------
//
// Tiles overlap where a mask is larger than a tile, so filling every run into
// every tile writes most pixels many times. All are one colour: a row of the
// surface is filled once with the union of what every tile puts there. For
// each mask row and each set of admitted columns, the union of the row's runs
// over those columns is made once; a surface row then merges the unions of
// the mask rows that the tile rows bring to it.

struct Span {
    int x0, x1;
};

struct RowFillBuffers {
    int* rowStart;          // mask row m: runs rowStart[m] .. rowStart[m + 1] - 1
    size_t rowStartCapacity;
    int* columns;           // admitted columns of each distinct set, xTiles a set
    size_t columnsCapacity;
    int* columnCount;       // per set
    size_t columnCountCapacity;
    int* setOfRow;          // per tile row: its set
    size_t setOfRowCapacity;
    int* unionStart;        // per set and mask row (maskHeight + 1 a set): spans in the pool
    size_t unionStartCapacity;
    Span* pool;
    size_t poolCapacity;
    Span* scratch[3];
    size_t scratchCapacity[3];
};

static RowFillBuffers rowFill;

void FreeTiledRunBuffers(void)
{
    void* buffers[] = {rowFill.rowStart, rowFill.columns, rowFill.columnCount, rowFill.setOfRow,
                       rowFill.unionStart, rowFill.pool, rowFill.scratch[0], rowFill.scratch[1],
                       rowFill.scratch[2]};
    for (void* b : buffers)
        if (b)
            HeapFree(GetProcessHeap(), 0, b);
    memset(&rowFill, 0, sizeof(rowFill));
}

// The union of two sorted lists of disjoint spans, sorted, with overlapping
// and touching spans joined; returns its length.
static int UniteSpans(const Span* a, int na, const Span* b, int nb, Span* out)
{
    int i = 0, j = 0, n = 0;
    while (i < na || j < nb) {
        Span next = (j >= nb || (i < na && a[i].x0 <= b[j].x0)) ? a[i++] : b[j++];
        if (n && next.x0 <= out[n - 1].x1 + 1) {
            if (next.x1 > out[n - 1].x1)
                out[n - 1].x1 = next.x1;
        } else {
            out[n++] = next;
        }
    }
    return n;
}

int FillTiledRuns(const DirectSurface* surface, BYTE colour, const DirectRun* runList, size_t runs, int top,
                  int maskHeight, int xTiles, int yTiles, int tw, int th, int tileType)
{
    RowFillBuffers* b = &rowFill;
    int width = surface->width, height = surface->height;
    if (width < 1 || height < 1)
        return 1;
    size_t limit = (size_t)(width + 3) / 2 + 1;   // disjoint, non-touching spans of a row
    b->rowStart = (int*)GrowScratch(b->rowStart, &b->rowStartCapacity, sizeof(int) * (size_t)(maskHeight + 1));
    b->columns = (int*)GrowScratch(b->columns, &b->columnsCapacity, sizeof(int) * (size_t)xTiles * yTiles);
    b->columnCount = (int*)GrowScratch(b->columnCount, &b->columnCountCapacity, sizeof(int) * (size_t)yTiles);
    b->setOfRow = (int*)GrowScratch(b->setOfRow, &b->setOfRowCapacity, sizeof(int) * (size_t)yTiles);
    for (int k = 0; k < 3; ++k)
        b->scratch[k] = (Span*)GrowScratch(b->scratch[k], &b->scratchCapacity[k],
                                          sizeof(Span) * (k == 2 ? (size_t)xTiles : limit));
    if (!b->rowStart || !b->columns || !b->columnCount || !b->setOfRow || !b->scratch[0] || !b->scratch[1] ||
        !b->scratch[2])
        return 0;

    // The runs of each mask row.
    size_t r = 0;
    for (int m = 0; m <= maskHeight; ++m) {
        while (r < runs && runList[r].y - top < m)
            ++r;
        b->rowStart[m] = (int)r;
    }
    // The distinct sets of admitted columns, and each tile row's.
    int sets = 0;
    for (int row = 0; row < yTiles; ++row) {
        int* mine = b->columns + (size_t)sets * xTiles;
        int count = 0;
        for (int column = 0; column < xTiles; ++column)
            if (TileAdmitted(column, row, tileType))
                mine[count++] = column;
        int same = -1;
        for (int k = 0; k < sets && same < 0; ++k)
            if (b->columnCount[k] == count && !memcmp(b->columns + (size_t)k * xTiles, mine, sizeof(int) * count))
                same = k;
        if (same < 0) {
            b->columnCount[sets] = count;
            same = sets++;
        }
        b->setOfRow[row] = same;
    }
    // Each mask row's union over each set's columns, within the surface.
    size_t room = 0;
    for (int k = 0; k < sets; ++k) {
        size_t most = runs * (size_t)b->columnCount[k], rows = (size_t)maskHeight * limit;
        room += most < rows ? most : rows;
    }
    b->unionStart = (int*)GrowScratch(b->unionStart, &b->unionStartCapacity,
                                     sizeof(int) * (size_t)sets * (maskHeight + 1));
    b->pool = (Span*)GrowScratch(b->pool, &b->poolCapacity, sizeof(Span) * (room ? room : 1));
    if (!b->unionStart || !b->pool)
        return 0;
    size_t used = 0;
    for (int k = 0; k < sets; ++k) {
        const int* columns = b->columns + (size_t)k * xTiles;
        int count = b->columnCount[k];
        int* start = b->unionStart + (size_t)k * (maskHeight + 1);
        for (int m = 0; m < maskHeight; ++m) {
            start[m] = (int)used;
            Span* acc = b->scratch[0];
            Span* other = b->scratch[1];
            int n = 0;
            for (int q = b->rowStart[m]; q < b->rowStart[m + 1]; ++q) {
                const DirectRun* run = &runList[q];
                Span* copies = b->scratch[2];
                int c = 0;
                for (int i = 0; i < count; ++i) {
                    int x0 = run->x0 + columns[i] * tw, x1 = run->x1 + columns[i] * tw;
                    if (x1 < 0 || x0 >= width)
                        continue;
                    Span span = {x0 < 0 ? 0 : x0, x1 >= width ? width - 1 : x1};
                    copies[c++] = span;
                }
                n = UniteSpans(acc, n, copies, c, other);
                Span* t = acc;
                acc = other;
                other = t;
            }
            memcpy(b->pool + used, acc, sizeof(Span) * n);
            used += n;
        }
        start[maskHeight] = (int)used;
    }
    // Every surface row: the unions that the tile rows bring to it.
    for (int y = 0; y < height; ++y) {
        Span* acc = b->scratch[0];
        Span* other = b->scratch[1];
        int n = 0;
        for (int row = 0; row < yTiles; ++row) {
            int m = y - row * th - top;
            if (m < 0 || m >= maskHeight)
                continue;
            const int* start = b->unionStart + (size_t)b->setOfRow[row] * (maskHeight + 1);
            int c = start[m + 1] - start[m];
            if (!c)
                continue;
            n = UniteSpans(acc, n, b->pool + start[m], c, other);
            Span* t = acc;
            acc = other;
            other = t;
        }
        for (int k = 0; k < n; ++k)
            FillDirectSpan(surface, y, acc[k].x0, acc[k].x1, colour);
    }
    return 1;
}

// --- Bitmap helpers ------------------------------------------------------------

HBITMAP CreateTopDownDib8(HDC dc, int width, int height, const RGBQUAD* table, BYTE** bits)
{
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info;
    ZeroMemory(&info, sizeof(info));
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biClrUsed = 256;
    memcpy(info.colours, table, sizeof(info.colours));
    void* p = 0;
    HBITMAP bitmap = CreateDIBSection(dc, (BITMAPINFO*)&info, DIB_RGB_COLORS, &p, NULL, 0);
    if (bitmap && !p) {
        DeleteObject(bitmap);
        bitmap = 0;
    }
    *bits = (BYTE*)p;
    return bitmap;
}


// Not every system reports a top-down section's negative height back, so one
// pixel is inverted twice to see where it lands. The answer is kept for the
// last few sections, known by handle and bits together (a handle may be
// reused for a new section).
int DibRowsTopDown(HDC dc)
{
    enum { KNOWN = 4 };
    static struct { HGDIOBJ bitmap; void* bits; int order; } known[KNOWN];
    static int nextKnown = 0;
    HGDIOBJ bitmap = dc ? GetCurrentObject(dc, OBJ_BITMAP) : 0;
    DIBSECTION section;
    if (!bitmap || GetObjectA(bitmap, sizeof(section), &section) != (int)sizeof(section) ||
        !section.dsBm.bmBits || section.dsBm.bmHeight < 1)
        return -1;
    for (int k = 0; k < KNOWN; ++k)
        if (known[k].bitmap == bitmap && known[k].bits == section.dsBm.bmBits)
            return known[k].order;
    BYTE* top = (BYTE*)section.dsBm.bmBits;
    BYTE* bottom = top + (size_t)(section.dsBm.bmHeight - 1) * section.dsBm.bmWidthBytes;
    GdiFlush();
    BYTE topBefore = *top, bottomBefore = *bottom;
    HRGN kept = CreateRectRgn(0, 0, 0, 0);
    int clipped = kept ? GetClipRgn(dc, kept) : -1;
    SelectClipRgn(dc, NULL);
    PatBlt(dc, 0, 0, 1, 1, DSTINVERT);
    GdiFlush();
    int order = -1;
    if (*top != topBefore && (section.dsBm.bmHeight == 1 || *bottom == bottomBefore))
        order = 1;
    else if (*bottom != bottomBefore && *top == topBefore)
        order = 0;
    PatBlt(dc, 0, 0, 1, 1, DSTINVERT);
    GdiFlush();
    SelectClipRgn(dc, clipped == 1 ? kept : NULL);
    if (kept)
        DeleteObject(kept);
    if (order >= 0) {
        known[nextKnown].bitmap = bitmap;
        known[nextKnown].bits = section.dsBm.bmBits;
        known[nextKnown].order = order;
        nextKnown = (nextKnown + 1) % KNOWN;
    }
    return order;
}

HBITMAP CreateDib8(HDC dc, int grey, int width, int height, BITMAPINFO** info, void** bits)
{
    void* ignored = 0;
    if (!bits)
        bits = &ignored;
    *bits = 0;
    BITMAPINFO* block = (BITMAPINFO*)LocalAlloc(LPTR, sizeof(BITMAPINFOHEADER) + 256 * sizeof(RGBQUAD));
    if (info)
        *info = block;
    if (!block)
        return 0;
    BITMAPINFOHEADER* header = &block->bmiHeader;
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = width;
    header->biHeight = height;
    header->biPlanes = 1;
    header->biBitCount = 8;
    header->biCompression = BI_RGB;
    header->biClrUsed = 256;
    if (grey) {
        for (int k = 0; k < 256; ++k) {
            BYTE v = (BYTE)((k + 1) % 256);
            block->bmiColors[k].rgbBlue = v;
            block->bmiColors[k].rgbGreen = v;
            block->bmiColors[k].rgbRed = v;
            block->bmiColors[k].rgbReserved = 0;
        }
    } else if (dc) {
        GetDIBColorTable(dc, 0, 256, block->bmiColors);
    }
    HBITMAP bitmap = CreateDIBSection(dc, block, DIB_RGB_COLORS, bits, NULL, 0);
    if (!info)
        LocalFree(block);
    return bitmap;
}

int DibColorCount(const BITMAPINFOHEADER* header)
{
    if (!header)
        return 0;
    int bits;
    if (header->biSize == sizeof(BITMAPCOREHEADER)) {
        bits = ((const BITMAPCOREHEADER*)header)->bcBitCount;
    } else if (header->biClrUsed != 0) {
        // A colour table never holds more than 256 entries; a larger count
        // from a damaged file must not size anything.
        return header->biClrUsed > 256 ? 256 : (int)header->biClrUsed;
    } else {
        bits = header->biBitCount;
    }
    return bits < 9 ? 1 << bits : 0;
}

int DibColorTableSize(const BITMAPINFOHEADER* header)
{
    if (!header)
        return 0;
    int count = DibColorCount(header);
    if (header->biSize == sizeof(BITMAPCOREHEADER))
        return 3 * count;
    if (header->biCompression == BI_BITFIELDS)
        return 4 * count + 12;
    return 4 * count;
}

int BitCount(DWORD mask)
{
    int count = 0;
    for (; mask; mask &= mask - 1)
        ++count;
    return count;
}

int LowestBit(DWORD mask)
{
    if (!mask)
        return 255;
    int bit = 0;
    while (!(mask & 1)) {
        mask >>= 1;
        ++bit;
    }
    return bit;
}

// One channel of a pixel scaled to 0..255 through its mask.
static int Channel(DWORD pixel, DWORD mask, int low, int count)
{
    if (!mask)
        return 0;
    DWORD v = (pixel & mask) >> low;
    return count <= 8 ? (int)(v << (8 - count)) : (int)(v >> (count - 8));
}

void DibToGrey8(const DIBSECTION* source, DIBSECTION* destination)
{
    if (!source || !destination || !source->dsBm.bmBits || !destination->dsBm.bmBits)
        return;
    int depth = source->dsBm.bmBitsPixel;
    if (depth != 16 && depth != 24 && depth != 32)
        return;
    if (destination->dsBm.bmBitsPixel != 8)
        return;
    int width = source->dsBm.bmWidth;
    int height = source->dsBm.bmHeight;
    // Both have the same size; never walk past the smaller one.
    if (destination->dsBm.bmWidth < width)
        width = destination->dsBm.bmWidth;
    if (destination->dsBm.bmHeight < height)
        height = destination->dsBm.bmHeight;
    if (width <= 0 || height <= 0)
        return;
    int sourceStride = ((source->dsBm.bmWidth * depth + 31) / 32) * 4;
    int destinationStride = ((destination->dsBm.bmWidth * 8 + 31) / 32) * 4;

    DWORD masks[3];   // red, green, blue
    if (source->dsBmih.biCompression != BI_RGB) {
        masks[0] = source->dsBitfields[0];
        masks[1] = source->dsBitfields[1];
        masks[2] = source->dsBitfields[2];
    } else if (depth == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else {
        masks[0] = 0xFF0000;
        masks[1] = 0x00FF00;
        masks[2] = 0x0000FF;
    }
    int low[3], count[3];
    for (int c = 0; c < 3; ++c) {
        low[c] = LowestBit(masks[c]);
        count[c] = BitCount(masks[c]);
    }

    const BYTE* sourceBits = (const BYTE*)source->dsBm.bmBits;
    BYTE* destinationBits = (BYTE*)destination->dsBm.bmBits;
    for (int row = height - 1; row >= 0; --row) {
        const BYTE* in = sourceBits + (size_t)row * sourceStride;
        BYTE* out = destinationBits + (size_t)row * destinationStride;
        for (int x = 0; x < width; ++x) {
            int grey;
            if (depth == 24) {
                const BYTE* p = in + x * 3;
                grey = (p[0] + p[1] + p[2]) / 3;
            } else {
                DWORD pixel;
                if (depth == 16) {
                    WORD w;
                    memcpy(&w, in + x * 2, 2);
                    pixel = w;
                } else {
                    memcpy(&pixel, in + x * 4, 4);
                }
                int red = Channel(pixel, masks[0], low[0], count[0]);
                int green = Channel(pixel, masks[1], low[1], count[1]);
                int blue = Channel(pixel, masks[2], low[2], count[2]);
                grey = (red + green + blue) / 3;
            }
            out[x] = (BYTE)(grey > 255 ? 255 : grey);
        }
    }
}
