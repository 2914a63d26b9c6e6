// Ray: a ring of palette indices as long as the surface's perimeter, painted
// as nested one-pixel rectangle outlines from the border inward while it is
// rotated and modulated between frames, so its colours form rays that
// converge on the centre.
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "graphics/surface.h"
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>

enum {
    RAY_COLOURS = 236,
    RAY_HEADER_SIZE = 1064,
    RAY_RINGS_PER_FRAME = 3
};

enum {
    SLOT_FREQUENCY = 0, SLOT_AMPLITUDE = 1, SLOT_DENSITY = 2, SLOT_FOLDING = 3,
    SLOT_SHIFT = 4, SLOT_RAY_TYPE = 5, SLOT_DURATION = 6,
    SLOT_X_TILING = 10, SLOT_Y_TILING = 11, SLOT_TILE_TYPE = 12
};

struct RayState {
    BYTE* ring;
    BYTE* scratch;
    BYTE* header;
    // One fold's run of a folded ring; made with the other blocks so no ring
    // allocates.
    BYTE* foldRun;
    int foldRunSize;
    double frequency;
    int amplitude;
    int density;
    int fold;
    int shift;
    int rayType;
    int holdMs;
    int xTiles;
    int yTiles;
    int tileType;
    RECT rayRect;
    DWORD nextTime;
    // Size the blocks were made for: the ring is P entries of this surface.
    int width;
    int height;
    int ringSize;
};

static RayState ray;

static BITMAPINFOHEADER* Header(void)
{
    return (BITMAPINFOHEADER*)ray.header;
}

static void SetHeaderSize(int width, int height)
{
    Header()->biWidth = width;
    Header()->biHeight = height;
}

static void FreeBlocks(void)
{
    free(ray.header);
    free(ray.scratch);
    free(ray.ring);
    free(ray.foldRun);
    ray.header = 0;
    ray.scratch = 0;
    ray.ring = 0;
    ray.foldRun = 0;
    ray.foldRunSize = 0;
    ray.ringSize = 0;
}

int RayOpen(ModuleRecord* record)
{
    FreeBlocks();
    ray.width = record->width;
    ray.height = record->height;
    ray.nextTime = TickCount();
    if (record->width < 1 || record->height < 1)
        return 0;

    // Sizes in 64 bits: a surface too large for the arithmetic is a failed
    // allocation, not a wrapped-around small block.
    long long width = record->width, height = record->height;
    long long ringBytes = 2 * (width + height) + 10;
    long long scratchBytes = 4 * ((width > height ? width : height) + 1);
    // A fold's run is at most the longer side plus one entry, and 10 spare.
    long long foldBytes = (width > height ? width : height) + 11;
    if (ringBytes < 0x40000000LL && scratchBytes < 0x40000000LL) {
        ray.scratch = (BYTE*)calloc((size_t)scratchBytes, 1);
        ray.ring = (BYTE*)calloc((size_t)ringBytes, 1);
        ray.header = (BYTE*)calloc(RAY_HEADER_SIZE, 1);
        ray.foldRun = (BYTE*)calloc((size_t)foldBytes, 1);
    }
    if (!ray.scratch || !ray.ring || !ray.header || !ray.foldRun) {
        OutputDebugStringA("Could not allocate buffers");
        FreeBlocks();
        return 0;
    }
    ray.ringSize = (int)(ringBytes - 10);
    ray.foldRunSize = (int)foldBytes;

    BITMAPINFOHEADER* header = Header();
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = record->width;
    header->biHeight = 1;
    header->biPlanes = 1;
    header->biBitCount = 8;
    header->biCompression = BI_RGB;
    header->biSizeImage = 0;
    header->biClrUsed = RAY_COLOURS;
    header->biClrImportant = 0;
    WORD* colours = (WORD*)(ray.header + sizeof(BITMAPINFOHEADER));
    for (int i = 0; i < RAY_COLOURS; ++i)
        colours[i] = (WORD)i;
    return 0;
}

void ViewRay(RayView* view)
{
    view->frequency = ray.frequency;
    view->amplitude = ray.amplitude;
    view->density = ray.density;
}

int RayStart(ModuleRecord* record)
{
    RayState* s = &ray;
    RandomizeControls(record);
    EvaluateControls(record);

    s->frequency = Random() % 6 + SlotWithinLimits(record, SLOT_FREQUENCY);
    s->amplitude = Random() % 6 + SlotWithinLimits(record, SLOT_AMPLITUDE);
    s->density = Random() % 6 + SlotWithinLimits(record, SLOT_DENSITY);
    s->fold = 2 * SlotWithinLimits(record, SLOT_FOLDING);
    s->shift = SlotWithinLimits(record, SLOT_SHIFT);
    s->rayType = SlotWithinLimits(record, SLOT_RAY_TYPE);
    s->holdMs = SlotWithinLimits(record, SLOT_DURATION) * 1000;
    s->xTiles = SlotWithinLimits(record, SLOT_X_TILING);
    s->yTiles = SlotWithinLimits(record, SLOT_Y_TILING);
    s->tileType = SlotWithinLimits(record, SLOT_TILE_TYPE);

    s->rayRect.left = 0;
    s->rayRect.top = 0;
    s->rayRect.right = s->width - 1;
    s->rayRect.bottom = s->height - 1;
    SetStretchBltMode(record->dc, COLORONCOLOR);

    if (!s->ring)
        return 0;
    // A triangle wave between 0 and 236; the first modulation folds every
    // entry into 0..235 before anything is painted.
    long double e = s->density * 0.05L;
    long double d = 0;
    for (int i = 0; i < s->ringSize; ++i) {
        d += e;
        if ((int)d >= 237) {
            d = 235;
            e = -e;
        } else if (d < 0) {
            d = 0;
            e = -e;
        }
        s->ring[i] = (BYTE)(int)d;
    }
    return 0;
}

static int Modulo(int value, int divisor)
{
    int r = value % divisor;
    return r < 0 ? r + divisor : r;
}

static void ModulateRing(void)
{
    RayState* s = &ray;
    int a = s->amplitude;
    double f = s->frequency;
    int whole = (int)f;
    for (int i = 0; i < s->ringSize; ++i) {
        int v = s->ring[i];
        int entry;
        switch (s->rayType) {
        case 1:
            entry = a + (int)(a * sin(v / f)) + v + 1;
            break;
        case 2:
            entry = a + ((a * sineTable[Modulo(i * whole, 2048)]) >> 12) + v + 1;
            break;
        case 3: {
            double index = (double)i / f * 2048.0;
            int wrapped = fabs(index) < 2e9 ? Modulo((int)index, 2048) : 0;
            entry = a + (int)(a * sineTable[wrapped] * 0.00006103888f) + v + 1;
            break;
        }
        default:
            entry = a + (int)(a * sin(i / f)) + v + 1;
            break;
        }
        s->ring[i] = (BYTE)Modulo(entry, RAY_COLOURS);
    }
}

// The ring stretched once around the outline: bottom edge left to right,
// right edge bottom to top, top edge right to left, left edge top to bottom.
static void PaintStretchedRing(HDC dc, const RECT* r)
{
    RayState* s = &ray;
    int W = s->width, H = s->height;
    int w = r->right - r->left + 1;
    int h = r->bottom - r->top + 1;
    const BITMAPINFO* info = (const BITMAPINFO*)s->header;

    SetHeaderSize(W, 1);
    memcpy(s->scratch, s->ring, W);
    StretchDIBits(dc, r->left, r->bottom, w, 1, 0, 0, W, 1, s->scratch, info, DIB_PAL_COLORS, SRCCOPY);
    for (int i = 0; i < W; ++i)
        s->scratch[i] = s->ring[2 * W + H - 1 - i];
    StretchDIBits(dc, r->left, r->top, w, 1, 0, 0, W, 1, s->scratch, info, DIB_PAL_COLORS, SRCCOPY);

    SetHeaderSize(1, H);
    for (int i = 0; i < H; ++i)
        s->scratch[4 * i] = s->ring[2 * W + 2 * H - 1 - i];
    StretchDIBits(dc, r->left, r->top, 1, h, 0, 0, 1, H, s->scratch, info, DIB_PAL_COLORS, SRCCOPY);
    for (int i = 0; i < H; ++i)
        s->scratch[4 * i] = s->ring[W + i];
    StretchDIBits(dc, r->right, r->top, 1, h, 0, 0, 1, H, s->scratch, info, DIB_PAL_COLORS, SRCCOPY);
}

// The ring folded back and forth along each edge; opposite edges are equal.
static void PaintFoldedRing(HDC dc, const RECT* r)
{
    RayState* s = &ray;
    int w = r->right - r->left + 1;
    int h = r->bottom - r->top + 1;
    int fold = s->fold < 0 ? -s->fold : s->fold;
    int hp = (r->right - r->left) / fold + 1;
    int vp = (r->bottom - r->top) / fold + 1;
    int m = hp > vp ? hp : vp;
    if (m + 10 > s->foldRunSize)
        return;
    // Entries past the copied ones are read as zero.
    BYTE* t = s->foldRun;
    memset(t, 0, (size_t)m + 10);

    int j = 0;
    for (; j <= m && j < r->right - r->left; ++j)
        t[j] = s->ring[j];
    for (int more = 0; j <= m && more < r->bottom - r->top; ++j, ++more)
        t[j] = s->ring[w + j];

    const BITMAPINFO* info = (const BITMAPINFO*)s->header;
    SetHeaderSize(s->width, 1);
    for (int c = 0; c < w; ++c)
        s->scratch[c] = (c / hp) % 2 == 0 ? t[c % hp] : t[hp - c % hp];
    SetDIBitsToDevice(dc, r->left, r->bottom, w, 1, 0, 0, 0, 1, s->scratch, info, DIB_PAL_COLORS);
    BitBlt(dc, r->left, r->top, w, 1, dc, r->left, r->bottom, SRCCOPY);

    SetHeaderSize(1, s->height);
    for (int c = 0; c < h; ++c)
        s->scratch[4 * c] = (c / vp) % 2 == 0 ? t[c % vp] : t[vp - c % vp];
    SetDIBitsToDevice(dc, r->left, r->top, 1, h, 0, 0, 0, h, s->scratch, info, DIB_PAL_COLORS);
    BitBlt(dc, r->right, r->top, 1, h, dc, r->left, r->top, SRCCOPY);
}

int RayFrame(ModuleRecord* record)
{
    RayState* s = &ray;
    // Without its blocks the module has nothing to paint.
    if (!s->ring || !s->scratch || !s->header)
        return ENTRY_WAIT;
    if (TickCount() < s->nextTime)
        return ENTRY_WAIT;

    if (IsLiveSource(record->source[SLOT_FREQUENCY]))
        s->frequency = EvaluateSlot(record, SLOT_FREQUENCY);
    if (IsLiveSource(record->source[SLOT_AMPLITUDE]))
        s->amplitude = (int)EvaluateSlot(record, SLOT_AMPLITUDE);
    if (IsLiveSource(record->source[SLOT_FOLDING]))
        s->fold = (int)EvaluateSlot(record, SLOT_FOLDING);
    if (IsLiveSource(record->source[SLOT_SHIFT]))
        s->shift = (int)EvaluateSlot(record, SLOT_SHIFT);
    if (IsLiveSource(record->source[SLOT_X_TILING]))
        s->xTiles = (int)EvaluateSlot(record, SLOT_X_TILING);
    if (IsLiveSource(record->source[SLOT_Y_TILING]))
        s->yTiles = (int)EvaluateSlot(record, SLOT_Y_TILING);
    // Odd live ranges must not divide by zero.
    if (s->xTiles < 1)
        s->xTiles = 1;
    if (s->yTiles < 1)
        s->yTiles = 1;
    if (!(s->frequency >= 1e-6 || s->frequency <= -1e-6))
        s->frequency = 1;

    int tileWidth = s->width / s->xTiles;
    int tileHeight = s->height / s->yTiles;
    RECT r = {s->rayRect.left / s->xTiles, s->rayRect.top / s->yTiles,
              s->rayRect.right / s->xTiles, s->rayRect.bottom / s->yTiles};
    RECT r0 = r;

    // A positive shift moves entries toward index 0.
    int rotation = Modulo(s->shift, s->ringSize);
    std::rotate(s->ring, s->ring + rotation, s->ring + s->ringSize);
    ModulateRing();

    if (!TileAdmitted(0, 0, s->tileType)) {
        if (s->xTiles >= 2)
            OffsetRect(&r, tileWidth, 0);
        else if (s->yTiles >= 2)
            OffsetRect(&r, 0, tileHeight);
        else
            r.left = r.right + 1;
    }

    s->rayRect.left += 3 * s->xTiles;
    s->rayRect.top += 3 * s->yTiles;
    s->rayRect.right -= 3 * s->xTiles;
    s->rayRect.bottom -= 3 * s->yTiles;

    for (int ring = 0; ring < RAY_RINGS_PER_FRAME; ++ring) {
        if (r.right < r.left || r.bottom < r.top) {
            s->nextTime = TickCount() + (DWORD)s->holdMs;
            RayStart(record);
            return 0;
        }
        if (s->fold == 0)
            PaintStretchedRing(record->dc, &r);
        else
            PaintFoldedRing(record->dc, &r);
        if (s->xTiles + s->yTiles > 2)
            RingTiledCopy(record->dc, s->xTiles, s->yTiles, tileWidth, tileHeight, s->tileType,
                          r.right - r.left + 1, r.bottom - r.top + 1, &r, &r0);
        InflateRect(&r, -1, -1);
        InflateRect(&r0, -1, -1);
    }
    return 0;
}

int RayClose(ModuleRecord*)
{
    FreeBlocks();
    return 0;
}
