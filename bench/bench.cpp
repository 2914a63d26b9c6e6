// Timing of the drawing paths: the present of an emulated surface against a
// plain SetDIBitsToDevice, one palette step, and the frame entry of every
// display module on an emulated surface.
//
// The worst case puts every slot of a module at its maximum (the most a
// user or a loud sound can ask) and times whole frames: the frame entry as
// often as "Strength" says, as the render loop runs it.
//
// Usage: vivra_bench [--frames N] [--seconds S] [--no-present] [--no-modules] [--no-worst]
//                    [--worst-only] [--sphere-gdi] [--sphere-tiles] [--shape-lines] [--plain]
//                    [--bezier-spans] [--bands N] [module names...]
// --bands N converts a present in at most N bands at once (1: one thread),
// with no processor kept spare.
// --sphere-gdi stamps Sphere through clipped BitBlts, as before the direct copy;
// --sphere-tiles copies Sphere's tile-clipped stamps into every tile on its own;
// --shape-lines has the tiled shapes ask for the pen of every line of a run
// and set every stamp, repeated or not, drawing all its shapes, and
// fill every tile's copy of the mask on its own, and turns points by casts;
// --plain also draws every tile of Bezier, Polygon and Vortex on its own, as
// before their tiles were made once and copied; --bezier-spans writes every
// span of Bezier's strokes into its union mask, as before the mask skipped
// what it already held.
#include "graphics/palette.h"
#include "graphics/shapes.h"
#include "graphics/surface.h"
#include "modules/bezier.h"
#include "modules/modules.h"
#include "modules/polygon.h"
#include "modules/sphere.h"
#include "modules/vortex.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/framework.h"
#include "runtime/saver.h"
#include "runtime/soundlink.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static double Now(void)
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart * 1000.0 / (double)frequency.QuadPart;
}

static double CpuMs(const FILETIME& kernel, const FILETIME& user)
{
    ULARGE_INTEGER k, u;
    k.LowPart = kernel.dwLowDateTime;
    k.HighPart = kernel.dwHighDateTime;
    u.LowPart = user.dwLowDateTime;
    u.HighPart = user.dwHighDateTime;
    return (double)(k.QuadPart + u.QuadPart) / 10000.0;
}

// The CPU time this thread has used, in ms: on a busy machine the frames'
// wall-clock times include waits for a processor; this does not.
static double ThreadCpu(void)
{
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user))
        return 0;
    return CpuMs(kernel, user);
}

// The whole process's CPU time in ms: a present's helper threads count too.
static double ProcessCpu(void)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    return CpuMs(kernel, user);
}

static int CompareTimes(const void* a, const void* b)
{
    double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

// Sorts the times in place; the middle one is not thrown by a few stalls.
static double Median(double* times, int count)
{
    qsort(times, count, sizeof(double), CompareTimes);
    return times[count / 2];
}

static LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND)
        return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND MakeWindow(int width, int height)
{
    static ATOM atom = 0;
    if (!atom) {
        WNDCLASSA wc;
        ZeroMemory(&wc, sizeof(wc));
        wc.lpfnWndProc = BenchWindowProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "VivraBenchWindow";
        atom = RegisterClassA(&wc);
    }
    HWND window = CreateWindowExA(WS_EX_TOPMOST, "VivraBenchWindow", "bench", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                  height, NULL, NULL, GetModuleHandleA(NULL), NULL);
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    return window;
}

// The same conversion done the plain way: the 8-bit bits with a 256-colour
// table straight to the window.
static void NaivePresent(HDC target, HDC surfaceDc, const PALETTEENTRY* animated, int width, int height)
{
    static struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info;
    ZeroMemory(&info.header, sizeof(info.header));
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biClrUsed = 256;
    for (int byte = 0; byte < 256; ++byte) {
        COLORREF c = StaticColour(byte);
        if (byte >= STATIC_LOW && byte < STATIC_LOW + PALETTE_ENTRIES) {
            const PALETTEENTRY* e = &animated[byte - STATIC_LOW];
            c = RGB(e->peRed, e->peGreen, e->peBlue);
        }
        info.colours[byte].rgbRed = GetRValue(c);
        info.colours[byte].rgbGreen = GetGValue(c);
        info.colours[byte].rgbBlue = GetBValue(c);
        info.colours[byte].rgbReserved = 0;
    }
    DIBSECTION section;
    GetObjectA(GetCurrentObject(surfaceDc, OBJ_BITMAP), sizeof(section), &section);
    SetDIBitsToDevice(target, 0, 0, width, height, 0, 0, 0, height, section.dsBm.bmBits, (BITMAPINFO*)&info,
                      DIB_RGB_COLORS);
    GdiFlush();
    MsgWaitForMultipleObjects(0, NULL, FALSE, 0, 0);
}

static void FillSurface(HDC dc)
{
    DIBSECTION section;
    GetObjectA(GetCurrentObject(dc, OBJ_BITMAP), sizeof(section), &section);
    BYTE* bits = (BYTE*)section.dsBm.bmBits;
    int stride = section.dsBm.bmWidthBytes;
    for (int y = 0; y < section.dsBm.bmHeight; ++y)
        for (int x = 0; x < section.dsBm.bmWidth; ++x)
            bits[y * stride + x] = (BYTE)(STATIC_LOW + ((x / 3 + y / 2) % PALETTE_ENTRIES));
}

static void BenchPresent(int width, int height, int rounds)
{
    // A window beyond the screen is clipped, and its present would be cheap.
    if (GetSystemMetrics(SM_CXSCREEN) < width || GetSystemMetrics(SM_CYSCREEN) < height) {
        printf("%4dx%-4d  the screen is smaller: present not measured\n", width, height);
        return;
    }
    HWND window = MakeWindow(width, height);
    int w = 0, h = 0;
    HDC dc = AcquireDrawSurface(window, &w, &h);
    if (!paletteEmulation) {
        printf("%4dx%-4d  no emulation on this device (a palette screen?): present not measured\n", width, height);
        ReleaseDrawSurface(window, dc);
        DestroyWindow(window);
        return;
    }
    // Every present is timed here, not only one per display refresh.
    SetPresentPeriod(0);
    PaletteState* state = CreatePaletteState(dc);
    HDC own = GetDC(window);
    for (int ch = 0; ch < 3; ++ch) {
        state->source[3 * PARAM_DIRECTION + ch] = SOURCE_SET;
        state->value[3 * PARAM_DIRECTION + ch] = 3;
    }
    StartChannels(state);
    FillSurface(dc);

    // Presents: the palette moves between them so that each one converts.
    double present = 0, presentWorst = 0;
    double* times = (double*)calloc(rounds, sizeof(double));
    double cpu0 = ProcessCpu();
    for (int i = 0; i < rounds; ++i) {
        state->dc = dc;
        PaletteStep(state);
        double t0 = Now();
        PresentSurface(own, state->entries->entry);
        double t = Now() - t0;
        present += t;
        if (times)
            times[i] = t;
        if (t > presentWorst)
            presentWorst = t;
    }
    double presentCpu = (ProcessCpu() - cpu0) / rounds;
    double presentMedian = times ? Median(times, rounds) : 0;
    free(times);
    double naive = 0;
    for (int i = 0; i < rounds; ++i) {
        PaletteStep(state);
        double t0 = Now();
        NaivePresent(own, dc, state->entries->entry, w, h);
        naive += Now() - t0;
    }
    double step = 0;
    const int steps = 2000;
    state->dc = dc;
    double t0 = Now();
    for (int i = 0; i < steps; ++i)
        PaletteStep(state);
    step = (Now() - t0) / steps;
    state->dc = own;
    t0 = Now();
    for (int i = 0; i < rounds; ++i)
        PaletteStep(state);
    double stepPresent = (Now() - t0) / rounds;
    printf("%4dx%-4d  present %6.3f ms (median %6.3f, worst %6.3f, cpu %6.3f, %d band%s)  naive SetDIBitsToDevice %6.3f ms  (%.1fx)  "
           "PaletteStep %6.4f ms  PaletteStep+present %6.3f ms\n",
           width, height, present / rounds, presentMedian, presentWorst, presentCpu, PresentBandCount(), PresentBandCount() == 1 ? "" : "s",
           naive / rounds,
           present > 0 ? naive / present : 0.0, step, stepPresent);
    state->dc = dc;
    ReleaseDC(window, own);
    DestroyPaletteState(state);
    ReleaseDrawSurface(window, dc);
    DestroyWindow(window);
}

// --- Modules ----------------------------------------------------------------------

struct Entries {
    ModuleEntry frame, open, start, close;
};
static Entries entries[MODULE_COUNT];

static void PrepareRecords(const EmulatedSurface* surface, PaletteState* palette)
{
    memset(moduleTable, 0, sizeof(moduleTable));
    for (int module = 0; module < MODULE_COUNT; ++module) {
        ModuleRecord* record = &moduleTable[module];
        record->name = moduleNames[module];
        record->width = surface->width;
        record->height = surface->height;
        record->dc = surface->dc;
        record->palette = palette;
        record->table = &moduleTable[0];
    }
    for (int row = 0; row < controlCount; ++row) {
        const ControlDefinition* c = &controlTable[row];
        DefineControl(c->module, c->labelId, c->slot, c->defaultValue, c->minimum, c->maximum);
        if (c->sound)
            moduleTable[c->module].soundCapable[c->slot] = 1;
    }
    for (int module = 0; module < MODULE_COUNT; ++module)
        RegisterModule(module, entries[module].frame, entries[module].open, entries[module].start,
                       entries[module].close);
}

// Every defined slot of the record at its maximum, fixed.
static void SlotsAtMaximum(ModuleRecord* record)
{
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!record->defined[slot])
            continue;
        record->source[slot] = SOURCE_SET;
        record->value[slot] = record->maximum[slot];
    }
}

static void BenchModule(int module, int width, int height, int frames, double seconds, int worstCase)
{
    EmulatedSurface surface;
    if (!CreateEmulatedSurface(&surface, width, height)) {
        printf("  %-8s %4dx%-4d  no surface\n", moduleNames[module], width, height);
        return;
    }
    SetTickSource(0);
    PaletteState* palette = CreatePaletteState(surface.dc);
    currentPalette = palette;
    if (palette)
        StartChannels(palette);
    PrepareRecords(&surface, palette);
    ModuleRecord* record = &moduleTable[module];
    if (worstCase)
        SlotsAtMaximum(record);
    ClampControls(record);
    SeedRandom(20240601);
    renderRunning = 1;

    double t0 = Now();
    record->open(record);
    record->start(record);
    double startMs = Now() - t0;
    double total = 0, worst = 0;
    int calls = 0, waits = 0;
    // Entry calls are timed one by one too: where a single worst-case frame
    // takes longer than the time allowed, the frame is estimated from the
    // calls that ran (entry mean times "Strength").
    double entryTotal = 0;
    int entries = 0, estimated = 0, runs = 1;
    double begin = Now();
    double cpuBegin = ThreadCpu();
    while (calls < frames && Now() - begin < seconds * 1000.0) {
        frameCounter = frameCounter + 1;
        double f0 = Now();
        // A worst-case frame runs the entry as often as "Strength" asks,
        // stopping after a 42 the way the render loop does (without its sleep).
        runs = worstCase && record->value[SLOT_STRENGTH] > 1 ? record->value[SLOT_STRENGTH] : 1;
        int result = 0, run = 0;
        for (run = 0; run < runs; ++run) {
            double e0 = Now();
            result = record->frame(record);
            GdiFlush();
            entryTotal += Now() - e0;
            ++entries;
            if (result == ENTRY_WAIT)
                break;
            if (run + 1 < runs && Now() - begin >= seconds * 1000.0) {
                estimated = 1;
                break;
            }
        }
        if (estimated)
            break;
        double t = Now() - f0;
        total += t;
        if (t > worst)
            worst = t;
        ++calls;
        if (result == ENTRY_WAIT)
            ++waits;
        if (palette && calls % 4 == 0) {
            PaletteStep(palette);
            EventTick(palette);
        }
    }
    double cpu = calls ? (ThreadCpu() - cpuBegin) / calls : 0.0;
    record->close(record);
    double mean = calls ? total / calls : 0.0;
    if (!calls && entries) {
        mean = entryTotal / entries * runs;
        worst = mean;
    }
    printf("  %-8s %4dx%-4d  open+start %8.2f ms  frames %4d  mean %9.3f ms  worst %9.3f ms  waits(42) %d",
           moduleNames[module], width, height, startMs, calls, mean, worst, waits);
    if (calls)
        printf("  cpu %9.3f ms", cpu);
    if (worstCase)
        printf("  %7.1f fps%s", mean > 0 ? 1000.0 / mean : 0.0,
               !calls && entries ? "  (estimated from " : "");
    if (worstCase && !calls && entries)
        printf("%d of %d entry calls)", entries, runs);
    printf("\n");
    fflush(stdout);
    currentPalette = 0;
    DestroyPaletteState(palette);
    DestroyEmulatedSurface(&surface);
}

// The tiled shapes and Star as they were before runs of lines, stamps set
// once per spot, shapes drawn once per stamp, joined copies and kept turns.
static void TiledShapesTheOldWay(void)
{
    shapeLineRuns = 0;
    shapeStampOnce = 0;
    shapeLeafCopies = 0;
    shapeJoinedCopies = 0;
    shapeStampBlocks = 0;
    quickTruncation = 0;
    starTurnReuse = 0;
}

int main(int argc, char** argv)
{
    int frames = 300;
    double seconds = 10;
    int doPresent = 1, doModules = 1, doWorst = 1;
    int chosen[MODULE_COUNT] = {0};
    int anyChosen = 0;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--frames") && i + 1 < argc) {
            frames = atoi(argv[++i]);
        } else if (!strcmp(argv[i], "--seconds") && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (!strcmp(argv[i], "--bands") && i + 1 < argc) {
            presentBandLimit = atoi(argv[++i]);
            presentSpareProcessors = 0;
        } else if (!strcmp(argv[i], "--no-present")) {
            doPresent = 0;
        } else if (!strcmp(argv[i], "--no-modules")) {
            doModules = 0;
        } else if (!strcmp(argv[i], "--sphere-gdi")) {
            sphereDirectStamps = 0;
        } else if (!strcmp(argv[i], "--sphere-tiles")) {
            sphereCellComposite = 0;
        } else if (!strcmp(argv[i], "--shape-lines")) {
            TiledShapesTheOldWay();
        } else if (!strcmp(argv[i], "--plain")) {
            sphereDirectStamps = 0;
            sphereCellComposite = 0;
            bezierTileMasks = 0;
            polygonDirectTiles = 0;
            vortexTileCopies = 0;
            shapeTileMasks = 0;
            TiledShapesTheOldWay();
        } else if (!strcmp(argv[i], "--bezier-spans")) {
            bezierCoverage = 0;
        } else if (!strcmp(argv[i], "--no-worst")) {
            doWorst = 0;
        } else if (!strcmp(argv[i], "--worst-only")) {
            doPresent = 0;
            doModules = 0;
        } else {
            int found = 0;
            for (int m = 0; m < MODULE_COUNT; ++m)
                if (!lstrcmpiA(argv[i], moduleNames[m]))
                    chosen[m] = found = anyChosen = 1;
            if (!found)
                fprintf(stderr, "unknown module or option: %s\n", argv[i]);
        }
    }
    sound = OpenSoundLink();

    if (doPresent) {
        printf("Present of the emulated surface (mean of 100)\n");
        BenchPresent(640, 480, 400);
        BenchPresent(1920, 1080, 400);
        BenchPresent(3840, 2160, 400);
    }

    if (doModules || doWorst) {
        // The framework registers the entry points; the controls are then
        // put back to their table defaults.
        InitModules();
        for (int m = 0; m < MODULE_COUNT; ++m) {
            entries[m].frame = moduleTable[m].frame;
            entries[m].open = moduleTable[m].open;
            entries[m].start = moduleTable[m].start;
            entries[m].close = moduleTable[m].close;
        }
        const int sizes[2][2] = {{1920, 1080}, {640, 480}};
        for (int pass = 0; pass < 2; ++pass) {
            int worstCase = pass == 1;
            if (worstCase ? !doWorst : !doModules)
                continue;
            if (worstCase)
                printf("Worst case: every slot at its maximum, whole frames (up to %d frames or %.0f s)\n", frames,
                       seconds);
            else
                printf("Module frame entries (defaults, up to %d calls or %.0f s)\n", frames, seconds);
            for (int m = 0; m < MODULE_RANDOM; ++m) {
                if (anyChosen && !chosen[m])
                    continue;
                if (!entries[m].frame)
                    continue;
                for (int s = 0; s < 2; ++s)
                    BenchModule(m, sizes[s][0], sizes[s][1], frames, seconds, worstCase);
            }
        }
    }
    if (sound) {
        SoundShare* share = sound;
        sound = 0;
        CloseSoundLink(share);
    }
    return 0;
}
