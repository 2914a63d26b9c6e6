// The drawing surface every module paints on, with its tiling and symmetry
// operations and the small bitmap helpers.
#pragma once
#include <windows.h>

struct PaletteState;

// --- Surface set-up -------------------------------------------------------

// 1 while the surface is an emulated palette device: an 8-bit DIB section in
// a memory device context, presented into the window through the animated
// colours by the palette thread.
extern volatile int paletteEmulation;

// An emulated palette device: an 8-bit top-down DIB section laid out like a
// 256-colour screen (byte 10 + i is animated entry i, bytes 0..9 and
// 246..255 the static system colours), selected into a memory device
// context together with a key-colour palette, so that PALETTEINDEX(i),
// DIB_PAL_COLORS painting and GetNearestPaletteIndex all resolve to entry i.
struct EmulatedSurface {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    HPALETTE palette;
    HPALETTE oldPalette;
    BYTE* bits;
    int width;
    int height;
    int stride;
};
enum { STATIC_LOW = 10 };   // byte of animated entry 0

// The unique key colour that stands for animated entry i (0..235).
COLORREF KeyColour(int entry);
// The 20 static system colours at bytes 0..9 and 246..255.
COLORREF StaticColour(int byte);
// A logical palette of the 236 key colours (entry i = KeyColour(i)).
HPALETTE CreateKeyPalette(void);
int CreateEmulatedSurface(EmulatedSurface* surface, int width, int height);
void DestroyEmulatedSurface(EmulatedSurface* surface);
// The key-colour palette of the emulated surface that owns this device
// context, or null when the context is no emulated surface.
HPALETTE EmulatedSurfacePalette(HDC dc);

// The render thread's device context of the saver window (or of the emulated
// surface); width and height receive the client size. The surface is
// emulated on a device without a hardware palette, or always when the saver
// value "PaletteEmulation" is 1 (2: never; 0 or missing: by the device).
HDC AcquireDrawSurface(HWND window, int* width, int* height);
// 1 when a saver drawing on this device would emulate the palette.
int PaletteEmulationWanted(HDC dc);
void ReleaseDrawSurface(HWND window, HDC dc);

// Selects the font, computes the full-screen flag (also published in the
// shared record) and returns it.
int SetupDrawSurface(HDC dc, HWND window);

// The refresh rate of the monitor that shows the window, in hertz: 60 when
// the display reports 0 or 1 (the hardware's default).
enum { DEFAULT_REFRESH_RATE = 60, MAX_REFRESH_RATE = 1000 };
int DisplayRefreshRate(HWND window);
// The least time between two presents (one display refresh, set when the
// surface is acquired); 0 lets every present go out (timing benches).
void SetPresentPeriod(double milliseconds);

// Render thread: a frame has been drawn and flushed.
void SignalFrameDrawn(void);
// Palette thread: waits the given milliseconds; while emulating, presents
// newly drawn frames and held-back palette steps at the next display
// refresh instead of sleeping blind.
void PaletteThreadWait(PaletteState* state, DWORD milliseconds);
// Converts the emulated surface through the current animated colours (236
// entries) and the static ones into the target device context. Does nothing
// without emulation, into the surface itself, or when neither the colours
// nor the picture changed since the last present. At most one present goes
// out per display refresh: one asked for sooner is held back for the next
// refresh (PaletteThreadWait makes it), showing the colours of that time.
void PresentSurface(HDC target, const PALETTEENTRY* animated);
// How many presents have reached a window so far (diagnostics, tests).
LONG SurfacePresentCount(void);
// A present converts the surface a strip of about PRESENT_STRIP_PIXELS at a
// time into one of PRESENT_STRIP_SLOTS small 32-bit buffers and blits each
// strip straight away, while it is still in the processor's cache. Large
// surfaces are split into up to MAX_PRESENT_BANDS bands of strips: helper
// threads convert the other bands' strips while the presenting thread
// converts its own and blits them all; 1 band converts on the presenting
// thread alone. Each band has at least presentBandPixels pixels, since below
// that the hand-over costs more than it saves (a 1080p present stays on one
// thread), and presentSpareProcessors processors are left to the render
// thread and the display's own work: on two processors a helper only takes
// turns with them, and the present gets slower. All three are read when the
// surface is acquired.
enum {
    MAX_PRESENT_BANDS = 4,
    MIN_BAND_PIXELS = 2 * 1024 * 1024,
    SPARE_PROCESSORS = 1,
    PRESENT_STRIP_PIXELS = 96 * 1024,
    PRESENT_STRIP_SLOTS = 2 * MAX_PRESENT_BANDS
};
extern int presentBandLimit;
extern int presentBandPixels;
extern int presentSpareProcessors;
// The bands of the surface acquired now (1 when none is or it is small):
// the presenting thread and its helpers.
int PresentBandCount(void);

// --- Tiling and symmetry ----------------------------------------------------

int TileAdmitted(int column, int row, int tileType);
void TiledCopy(HDC dc, int nx, int ny, int tileWidth, int tileHeight, int tileType);
void RingTiledCopy(HDC dc, int nx, int ny, int tileWidth, int tileHeight, int tileType,
                   int ringWidth, int ringHeight, const RECT* ring, const RECT* unshifted);
void RotatePoint(POINT* point, float angle);
// The same turn with its cosine and sine already worked out (cosl, sinl of
// the angle), for a module that turns many points by the same few angles.
void RotatePointBy(POINT* point, long double c, long double s);
// (LONG)v, worked out without the two x87 control word changes the cast
// costs (slower than the rest of a turn) when quickTruncation is 1, the
// default; 0 casts.
LONG TruncLongDouble(long double v);
extern int quickTruncation;
void ApplySymmetry(BYTE* buffer, int maxX, int maxY, int mode);

// --- Bitmap helpers ---------------------------------------------------------

HBITMAP CreateDib8(HDC dc, int grey, int width, int height, BITMAPINFO** info, void** bits);
// A top-down 8-bit section with the 256 colours of `table`; 0 when it
// cannot be had.
HBITMAP CreateTopDownDib8(HDC dc, int width, int height, const RGBQUAD* table, BYTE** bits);
int DibColorCount(const BITMAPINFOHEADER* header);
// 1 when row 0 of the bits of the DIB section selected into `dc` is its top
// row, 0 when it is the bottom row, -1 when that cannot be told.
int DibRowsTopDown(HDC dc);

// --- Writing straight into an 8-bit surface ------------------------------------
//
// Where a module paints many copies of one drawing, it may write the bytes
// itself, as GDI would write them: only on an 8-bit DIB section in plain
// device coordinates and copy mode, and only inside the clip region (the
// overlay's shown boxes are cut out of it).

enum { DIRECT_CLIP_RECTS = 256 };

struct DirectSurface {
    BYTE* bits;
    int stride;
    int topDown;
    int width, height;
    RECT clip[DIRECT_CLIP_RECTS];   // within the surface
    int clipCount;
};

// 0 when the device context is not such a surface or its clip region has
// too many rectangles.
int OpenDirectSurface(HDC dc, DirectSurface* surface);
// Row y of the surface, top row 0; y must lie within the surface.
BYTE* DirectRow(const DirectSurface* surface, int y);
// Pixels x0..x1 (inclusive) of row y set to a byte, within the clip.
void FillDirectSpan(const DirectSurface* surface, int y, int x0, int x1, BYTE colour);
// A mask's run: pixels x0..x1 (inclusive) of row y, tile-local.
struct DirectRun {
    int y, x0, x1;
};
// Runs of one colour (by row, and along each row, none touching) filled into
// every admitted tile of an xTiles x yTiles grid of tw x th tiles, within the
// clip: each surface row once, with the union of what the tiles put there.
// Rows top .. top + maskHeight - 1 hold the runs. 0 when the buffers cannot
// be had (nothing filled).
int FillTiledRuns(const DirectSurface* surface, BYTE colour, const DirectRun* runs, size_t count, int top,
                  int maskHeight, int xTiles, int yTiles, int tw, int th, int tileType);
// The buffers FillTiledRuns keeps, freed.
void FreeTiledRunBuffers(void);
// Pixels x0..x1 (inclusive) of row y copied from source[0..], within the clip.
void CopyDirectSpan(const DirectSurface* surface, int y, int x0, int x1, const BYTE* source);
int DibColorTableSize(const BITMAPINFOHEADER* header);
void DibToGrey8(const DIBSECTION* source, DIBSECTION* destination);
int BitCount(DWORD mask);
int LowestBit(DWORD mask);

// A heap buffer of at least `bytes`, kept by the caller for the next calls:
// the one given when it is large enough, else a new one (the old freed).
// Null, with *capacity 0, when none can be had.
void* GrowScratch(void* buffer, size_t* capacity, size_t bytes);
