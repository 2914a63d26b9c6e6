// The Bitmap module ("Slide Show"): pictures from files, or a half-size grab
// of the screen, turned into 8-bit pictures whose pixel values are palette
// indices, so they keep moving with the palette. One loader thread per
// picture prepares and paints it; the frame step decides when.
#include "modules/bitmap.h"
#include "modules/modules.h"
#include "graphics/palette.h"
#include "graphics/surface.h"
#include "imagefiles/imageload.h"
#include "runtime/common.h"
#include <string.h>

enum {
    SLOT_DISPLAY_TYPE = 0, SLOT_FORCE_GRADIENT = 1, SLOT_DURATION = 2, SLOT_SMOOTHING = 3,
    SLOT_RANDOM_ORDER = 4, SLOT_FROM_SCREEN = 5
};
enum {
    EXIT_PAINTED = 0, EXIT_NO_PICTURE = 100, EXIT_NO_GRAB = 200, EXIT_FAULT = 300,
    STOP_GRACE_MS = 2000, KILLED_CODE = 42,
    HANDOFF_POLLS = 400      // at most about half a second per frame step
};

// Where the loader is; the frame step hands the lock over only to a loader
// that is asking for it.
enum { STAGE_PREPARING, STAGE_WAITING, STAGE_WANTS_LOCK, STAGE_HOLDS_LOCK, STAGE_DONE };

struct BitmapState {
    CRITICAL_SECTION pictureLock;
    int lockReady;
    int grabWidth, grabHeight;
    int displayType, forceGradient, durationMs, smoothing, randomOrder, fromScreen;
    HANDLE loaderThread;
    volatile LONG loaderRun;
    volatile LONG paintNow;
    volatile LONG stage;
    DWORD nextPicture;
    HDC sourceDc;
    HBITMAP sourceBitmap;
    HGDIOBJ sourceOld;
    HDC pictureDc;
    HBITMAP picture;
    HGDIOBJ pictureOld;
    BITMAPINFO* pictureInfo;
    BitmapStatus status;
};

static BitmapState bitmap;

void GetBitmapStatus(BitmapStatus* status)
{
    *status = bitmap.status;
}

void ResetBitmapStatus(void)
{
    ZeroMemory(&bitmap.status, sizeof(bitmap.status));
    bitmap.nextPicture = 0;
}

// --- The lock as the loader takes it ----------------------------------------

static void LoaderEnter(void)
{
    bitmap.stage = STAGE_WANTS_LOCK;
    EnterCriticalSection(&bitmap.pictureLock);
    bitmap.stage = STAGE_HOLDS_LOCK;
}

static void LoaderLeave(void)
{
    bitmap.stage = STAGE_PREPARING;
    LeaveCriticalSection(&bitmap.pictureLock);
}

// Render thread, outside the lock: lets a loader that asks for the lock have
// it now, since the render thread takes it straight back.
static void HandOverLock(void)
{
    for (int poll = 0; poll < HANDOFF_POLLS && bitmap.stage == STAGE_WANTS_LOCK; ++poll)
        Sleep(poll < 20 ? 0 : 1);
}

static int LoaderEnded(void)
{
    return !bitmap.loaderThread || WaitForSingleObject(bitmap.loaderThread, 0) == WAIT_OBJECT_0;
}

// --- Pictures ----------------------------------------------------------------

static void DeleteMemoryDc(HDC* dc, HGDIOBJ* old)
{
    if (*dc) {
        if (*old)
            SelectObject(*dc, *old);
        DeleteDC(*dc);
    }
    *dc = 0;
    *old = 0;
}

static void DeleteSource(void)
{
    DeleteMemoryDc(&bitmap.sourceDc, &bitmap.sourceOld);
    if (bitmap.sourceBitmap)
        DeleteObject(bitmap.sourceBitmap);
    bitmap.sourceBitmap = 0;
}

static void DeletePicture(void)
{
    DeleteMemoryDc(&bitmap.pictureDc, &bitmap.pictureOld);
    if (bitmap.picture)
        DeleteObject(bitmap.picture);
    bitmap.picture = 0;
    if (bitmap.pictureInfo)
        LocalFree(bitmap.pictureInfo);
    bitmap.pictureInfo = 0;
}

static void ReleasePictures(void)
{
    DeleteSource();
    DeletePicture();
}

// A memory device context compatible with the window's, holding `object`.
static HDC SelectInto(HDC windowDc, HGDIOBJ object, HGDIOBJ* old)
{
    HDC dc = CreateCompatibleDC(windowDc);
    *old = dc ? SelectObject(dc, object) : 0;
    return dc;
}

// --- The loader thread ------------------------------------------------------------

// The grey level (as a grey-table index) of every byte of an emulated
// surface, from the colours it is shown in right now.
static void ShownGreyTable(const ModuleRecord* record, BYTE* table)
{
    PaletteState* palette = record->palette;
    PaletteBlock* entries = palette ? palette->entries : 0;
    for (int byte = 0; byte < 256; ++byte) {
        COLORREF c = StaticColour(byte);
        int grey = (GetRValue(c) + GetGValue(c) + GetBValue(c)) / 3;
        if (entries && byte >= STATIC_LOW && byte < STATIC_LOW + PALETTE_ENTRIES) {
            const PALETTEENTRY* e = &entries->entry[byte - STATIC_LOW];
            grey = (e->peRed + e->peGreen + e->peBlue) / 3;
        }
        // Entry k of the grey table holds the level k + 1 (and 255 black).
        table[byte] = (BYTE)((grey + 255) % 256);
    }
}

// The screen grab: the surface at half size, matched to the grey table.
static DWORD GrabScreen(ModuleRecord* record)
{
    // Waits in short steps, so that a stop never has to terminate it.
    DWORD wait = (DWORD)bitmap.durationMs / 2 + 1000;
    for (DWORD slept = 0; slept < wait && bitmap.loaderRun; slept += 50)
        Sleep(wait - slept < 50 ? wait - slept : 50);
    if (!bitmap.loaderRun)
        return EXIT_NO_GRAB;
    LoaderEnter();
    HDC windowDc = record->dc;
    void* bits = 0;
    bitmap.picture = CreateDib8(windowDc, 1, bitmap.grabWidth, bitmap.grabHeight, &bitmap.pictureInfo, &bits);
    if (!bitmap.picture || !bits) {
        LoaderLeave();
        return EXIT_NO_GRAB;
    }
    bitmap.pictureDc = SelectInto(windowDc, bitmap.picture, &bitmap.pictureOld);
    if (!bitmap.pictureDc) {
        LoaderLeave();
        return EXIT_NO_GRAB;
    }
    SetStretchBltMode(bitmap.pictureDc, COLORONCOLOR);
    HPALETTE emulated = EmulatedSurfacePalette(windowDc);
    if (emulated) {
        // An emulated surface holds palette positions, not colours: grab the
        // positions, then turn each into the grey of the colour it shows.
        RGBQUAD positions[256];
        HBITMAP surface = (HBITMAP)GetCurrentObject(windowDc, OBJ_BITMAP);
        DIBSECTION section;
        if (surface && GetObjectA(surface, sizeof(section), &section) == sizeof(section)) {
            UINT count = GetDIBColorTable(windowDc, 0, 256, positions);
            SetDIBColorTable(bitmap.pictureDc, 0, count, positions);
        }
        StretchBlt(bitmap.pictureDc, 0, 0, bitmap.grabWidth, bitmap.grabHeight, windowDc, 0, 0, record->width,
                   record->height, SRCCOPY);
        GdiFlush();
        BYTE greys[256];
        ShownGreyTable(record, greys);
        BYTE* p = (BYTE*)bits;
        size_t stride = ((size_t)bitmap.grabWidth + 3) & ~(size_t)3;
        for (size_t i = 0, n = stride * (size_t)bitmap.grabHeight; i < n; ++i)
            p[i] = greys[p[i]];
        SetDIBColorTable(bitmap.pictureDc, 0, 256, bitmap.pictureInfo->bmiColors);
    } else {
        StretchBlt(bitmap.pictureDc, 0, 0, bitmap.grabWidth, bitmap.grabHeight, windowDc, 0, 0, record->width,
                   record->height, SRCCOPY);
        GdiFlush();
    }
    LoaderLeave();
    return EXIT_PAINTED;
}

// A picture file turned into the 8-bit picture.
static DWORD LoadFile(ModuleRecord* record, const char* mask)
{
    bitmap.sourceBitmap = LoadPicture(mask, bitmap.randomOrder);
    if (!bitmap.sourceBitmap)
        return EXIT_NO_PICTURE;
    DIBSECTION source;
    ZeroMemory(&source, sizeof(source));
    if (GetObjectA(bitmap.sourceBitmap, sizeof(source), &source) != sizeof(source) || !source.dsBm.bmBits) {
        DeleteSource();
        return EXIT_NO_PICTURE;
    }
    int w = source.dsBm.bmWidth, h = source.dsBm.bmHeight, depth = source.dsBm.bmBitsPixel;

    LoaderEnter();
    bitmap.sourceDc = SelectInto(record->dc, bitmap.sourceBitmap, &bitmap.sourceOld);
    LoaderLeave();
    if (!bitmap.sourceDc) {
        DeleteSource();
        return EXIT_NO_PICTURE;
    }
    int grey = bitmap.forceGradient == 1 || depth > 8;
    void* bits = 0;
    bitmap.picture = CreateDib8(bitmap.sourceDc, grey, w, h, &bitmap.pictureInfo, &bits);
    if (!bitmap.picture || !bits) {
        DeleteSource();
        DeletePicture();
        return EXIT_NO_PICTURE;
    }
    LoaderEnter();
    bitmap.pictureDc = SelectInto(record->dc, bitmap.picture, &bitmap.pictureOld);
    LoaderLeave();
    if (!bitmap.pictureDc) {
        DeleteSource();
        DeletePicture();
        return EXIT_NO_PICTURE;
    }
    if (depth > 8) {
        DIBSECTION target;
        ZeroMemory(&target, sizeof(target));
        GetObjectA(bitmap.picture, sizeof(target), &target);
        DibToGrey8(&source, &target);
    } else {
        BitBlt(bitmap.pictureDc, 0, 0, w, h, bitmap.sourceDc, 0, 0, SRCCOPY);
        GdiFlush();
    }
    DeleteSource();
    return EXIT_PAINTED;
}

// Paints the prepared picture by the display type; under the lock.
static void PaintPicture(ModuleRecord* record)
{
    HDC dc = record->dc;
    int W = record->width, H = record->height;
    const BITMAPINFOHEADER* header = &bitmap.pictureInfo->bmiHeader;
    int w = header->biWidth;
    int h = header->biHeight < 0 ? -header->biHeight : header->biHeight;
    DIBSECTION section;
    ZeroMemory(&section, sizeof(section));
    GetObjectA(bitmap.picture, sizeof(section), &section);
    const void* bits = section.dsBm.bmBits;
    const BITMAPINFO* info = bitmap.pictureInfo;
    if (!bits || w <= 0 || h <= 0)
        return;
    switch (bitmap.displayType) {
    case 0:
        StretchDIBits(dc, (W >> 1) - (w >> 1), (H >> 1) - (h >> 1), w, h, 0, 0, w, h, bits, info, DIB_PAL_COLORS,
                      SRCCOPY);
        break;
    case 1:
        StretchDIBits(dc, 0, 0, W, H, 0, 0, w, h, bits, info, DIB_PAL_COLORS, SRCCOPY);
        break;
    case 2: {
        StretchDIBits(dc, 0, 0, w, h, 0, 0, w, h, bits, info, DIB_PAL_COLORS, SRCCOPY);
        int k = 0;
        for (int a = w; a < W; a += w, ++k) {
            if (k % 2 == 0)
                StretchBlt(dc, a + w, 0, -(w + 1), h, dc, 0, 0, w, h, SRCCOPY);
            else
                StretchBlt(dc, a - 1, 0, w + 1, h, dc, 0, 0, w, h, SRCCOPY);
        }
        k = 0;
        for (int b = h; b < H; b += h, ++k) {
            if (k % 2 == 0)
                StretchBlt(dc, 0, b + h, W, -(h + 1), dc, 0, 0, W, h, SRCCOPY);
            else
                StretchBlt(dc, 0, b - 1, W, h + 1, dc, 0, 0, W, h, SRCCOPY);
        }
        break;
    }
    case 3:
        StretchDIBits(dc, 0, 0, w, h, 0, 0, w, h, bits, info, DIB_PAL_COLORS, SRCCOPY);
        for (int x = w - 1; x < W; x += w)
            BitBlt(dc, x, 0, w, h, dc, 0, 0, SRCCOPY);
        for (int y = h - 1; y < H; y += h)
            BitBlt(dc, 0, y, W, h, dc, 0, 0, SRCCOPY);
        break;
    default:
        break;
    }
    GdiFlush();
    InterlockedIncrement(&bitmap.status.picturesPainted);
}

static DWORD LoaderSteps(ModuleRecord* record)
{
    SetLastError(0);
    SeedRandom(TickCount());
    // An empty mask shows the Windows folder's bitmaps; the record keeps
    // what the user set.
    char mask[PATH_SIZE];
    lstrcpynA(mask, record->path, PATH_SIZE);
    if (!mask[0]) {
        UINT length = GetWindowsDirectoryA(mask, PATH_SIZE);
        if (length == 0 || length + 7 > PATH_SIZE)
            return EXIT_NO_PICTURE;
        lstrcatA(mask, "\\*.BMP");
    }

    DWORD code = bitmap.fromScreen == 1 ? GrabScreen(record) : LoadFile(record, mask);
    if (code != EXIT_PAINTED)
        return code;

    // Every colour entry of the painting description becomes its own
    // palette position, so a pixel value is painted as that palette entry.
    WORD* positions = (WORD*)bitmap.pictureInfo->bmiColors;
    for (int v = 0; v < 256; ++v)
        positions[v] = (WORD)v;
    BITMAPINFOHEADER* header = &bitmap.pictureInfo->bmiHeader;
    bitmap.status.pictureWidth = header->biWidth;
    bitmap.status.pictureHeight = header->biHeight < 0 ? -header->biHeight : header->biHeight;

    DIBSECTION section;
    ZeroMemory(&section, sizeof(section));
    GetObjectA(bitmap.picture, sizeof(section), &section);
    for (int pass = 0; pass < bitmap.smoothing && bitmap.loaderRun; ++pass)
        ApplySymmetry((BYTE*)section.dsBm.bmBits, section.dsBm.bmWidth - 1, section.dsBm.bmHeight - 1, 10);

    bitmap.stage = STAGE_WAITING;
    while (!bitmap.paintNow && bitmap.loaderRun)
        Sleep(0);

    LoaderEnter();
    SetStretchBltMode(record->dc, COLORONCOLOR);
    if (bitmap.loaderRun)
        PaintPicture(record);
    LoaderLeave();
    DeletePicture();
    return EXIT_PAINTED;
}

// A fault anywhere in the loader (a damaged picture, a faulty import
// filter) ends the loader alone: the lock is given back and the thread ends
// with its own exit code.
static volatile DWORD loaderThreadId = 0;

static void EndFaultingLoader(void)
{
    if (bitmap.stage == STAGE_HOLDS_LOCK) {
        bitmap.stage = STAGE_DONE;
        LeaveCriticalSection(&bitmap.pictureLock);
    }
    bitmap.stage = STAGE_DONE;
    loaderThreadId = 0;
    OutputDebugStringA("Vivra: a fault ended the picture loader\n");
    bitmap.status.lastExitCode = EXIT_FAULT;
    InterlockedIncrement(&bitmap.status.loadersEnded);
    ExitThread(EXIT_FAULT);
}

#if defined(__i386__)
// GCC has no __try; an exception registration on the thread's stack catches
// what nothing inside the loader handles, as __except would.
struct ExceptionRegistration {
    ExceptionRegistration* next;
    void* handler;
};

extern "C" EXCEPTION_DISPOSITION __cdecl LoaderFault(EXCEPTION_RECORD* exception, void*, CONTEXT*, void*)
{
    if (exception->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    EndFaultingLoader();
    return ExceptionContinueSearch;
}

static DWORD GuardedLoaderSteps(ModuleRecord* record)
{
    ExceptionRegistration registration;
    registration.handler = (void*)LoaderFault;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(registration.next));
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(&registration) : "memory");
    DWORD code = LoaderSteps(record);
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(registration.next) : "memory");
    return code;
}
#else
// 64-bit builds (test runs only): table-based unwinding leaves no chain to
// join, so hard faults on the loader thread are caught first-hand.
static LONG CALLBACK LoaderFault(EXCEPTION_POINTERS* exception)
{
    DWORD code = exception->ExceptionRecord->ExceptionCode;
    if (GetCurrentThreadId() != loaderThreadId ||
        (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_ILLEGAL_INSTRUCTION &&
         code != EXCEPTION_INT_DIVIDE_BY_ZERO && code != EXCEPTION_STACK_OVERFLOW))
        return EXCEPTION_CONTINUE_SEARCH;
    EndFaultingLoader();
    return EXCEPTION_CONTINUE_SEARCH;
}

static DWORD GuardedLoaderSteps(ModuleRecord* record)
{
    static PVOID handler = 0;
    if (!handler)
        handler = AddVectoredExceptionHandler(1, LoaderFault);
    return LoaderSteps(record);
}
#endif

static DWORD WINAPI LoaderThread(LPVOID parameter)
{
    loaderThreadId = GetCurrentThreadId();
    DWORD code = GuardedLoaderSteps((ModuleRecord*)parameter);
    loaderThreadId = 0;
    bitmap.stage = STAGE_DONE;
    bitmap.status.lastExitCode = code;
    InterlockedIncrement(&bitmap.status.loadersEnded);
    return code;
}

// --- Entry points ----------------------------------------------------------------

// Ends the loader, if one runs, and frees what it prepared. The render
// thread holds the lock between its frame steps; `holdsLock` says whether
// it does now, and it holds it again afterwards when it did.
static void StopLoader(int holdsLock)
{
    if (holdsLock)
        LeaveCriticalSection(&bitmap.pictureLock);
    bitmap.loaderRun = 0;
    bitmap.paintNow = 1;
    if (bitmap.loaderThread) {
        if (WaitForSingleObject(bitmap.loaderThread, STOP_GRACE_MS) != WAIT_OBJECT_0) {
            TerminateThread(bitmap.loaderThread, KILLED_CODE);
            // A loader ended inside the lock would keep it for ever.
            if (bitmap.stage == STAGE_HOLDS_LOCK) {
                DeleteCriticalSection(&bitmap.pictureLock);
                InitializeCriticalSection(&bitmap.pictureLock);
            }
        }
        CloseHandle(bitmap.loaderThread);
        bitmap.loaderThread = 0;
    }
    ReleasePictures();
    if (holdsLock)
        EnterCriticalSection(&bitmap.pictureLock);
}

int BitmapOpen(ModuleRecord* record)
{
    // A second open replaces the first: its loader and lock go first.
    if (bitmap.lockReady)
        BitmapClose(record);
    InitializeCriticalSection(&bitmap.pictureLock);
    EnterCriticalSection(&bitmap.pictureLock);
    bitmap.lockReady = 1;
    bitmap.grabWidth = (record->width + 1) >> 1;
    bitmap.grabHeight = (record->height + 1) >> 1;
    return 0;
}

int BitmapStart(ModuleRecord* record)
{
    RandomizeControls(record);
    EvaluateControls(record);
    bitmap.displayType = record->value[SLOT_DISPLAY_TYPE];
    bitmap.forceGradient = record->value[SLOT_FORCE_GRADIENT];
    bitmap.durationMs = record->value[SLOT_DURATION] * 1000;
    bitmap.smoothing = record->value[SLOT_SMOOTHING];
    bitmap.randomOrder = record->value[SLOT_RANDOM_ORDER];
    bitmap.fromScreen = record->value[SLOT_FROM_SCREEN];
    if (bitmap.durationMs < 0)
        bitmap.durationMs = 0;
    // A loader still running from an earlier start (a reset) is ended
    // first: two loaders would share one picture and lose each other's.
    // From the frame step the loader has ended and the lock is not held.
    if (bitmap.loaderThread && !LoaderEnded())
        StopLoader(bitmap.lockReady);
    if (bitmap.loaderThread) {
        CloseHandle(bitmap.loaderThread);
        bitmap.loaderThread = 0;
    }
    // Without the lock there is nothing to keep the loader's painting apart
    // from the other modules: no loader then.
    if (!bitmap.lockReady)
        return 0;
    bitmap.loaderRun = 1;
    bitmap.paintNow = 0;
    bitmap.stage = STAGE_PREPARING;
    DWORD id;
    bitmap.loaderThread = CreateThread(NULL, 0, LoaderThread, record, 0, &id);
    if (bitmap.loaderThread) {
        SetThreadPriority(bitmap.loaderThread, THREAD_PRIORITY_BELOW_NORMAL);
        InterlockedIncrement(&bitmap.status.loadersStarted);
    }
    return 0;
}

int BitmapFrame(ModuleRecord* record)
{
    if (!bitmap.lockReady)
        return 0;
    LeaveCriticalSection(&bitmap.pictureLock);
    HandOverLock();
    if (TickPassed(TickCount(), bitmap.nextPicture)) {
        bitmap.paintNow = 1;
        // A prepared picture is painted now: wait for its loader to ask for
        // the lock, then let it have it.
        for (int poll = 0; poll < HANDOFF_POLLS && bitmap.stage == STAGE_WAITING && !LoaderEnded(); ++poll)
            Sleep(poll < 20 ? 0 : 1);
        HandOverLock();
        Sleep(0);
        if (LoaderEnded()) {
            ReleasePictures();
            BitmapStart(record);
            bitmap.nextPicture = TickCount() + (DWORD)bitmap.durationMs;
        }
        bitmap.paintNow = 0;
    }
    EnterCriticalSection(&bitmap.pictureLock);
    return 0;
}

int BitmapClose(ModuleRecord*)
{
    if (!bitmap.lockReady)
        return 0;
    LeaveCriticalSection(&bitmap.pictureLock);
    StopLoader(0);
    DeleteCriticalSection(&bitmap.pictureLock);
    bitmap.lockReady = 0;
    return 0;
}
