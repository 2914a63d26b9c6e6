// Vortex: a ring of points that collapses toward the centre while it swirls,
// each point joined to its neighbour and to both previous positions by a
// filled quadrilateral, so the collapse leaves a spiral of coloured bands.
#include "modules/modules.h"
#include "modules/vortex.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "graphics/surface.h"
#include <math.h>
#include <string.h>

enum {
    VORTEX_MAX_POINTS = 199,
    VORTEX_COLOURS = 236
};

enum {
    SLOT_POINTS = 0, SLOT_SPASTICITY = 1, SLOT_AMPLITUDE = 2, SLOT_IMAGE_DURATION = 3,
    SLOT_TYPE = 4, SLOT_COLLAPSE = 5, SLOT_RADIUS_FLUX = 6, SLOT_FLUX_AMPLITUDE = 7,
    SLOT_X_TILING = 10, SLOT_Y_TILING = 11, SLOT_TILE_TYPE = 12
};

struct VortexPoint {
    int x;
    int y;
    int previousX;
    int previousY;
    int colour;
    float angle;
};

struct VortexState {
    VortexPoint points[VORTEX_MAX_POINTS];
    int pointCount;
    float swirlPeriod;
    float swirlAmplitude;
    float collapse;
    float fluxFrequency;
    float fluxAmplitude;
    float radius;
    int holdMs;
    int colourType;
    int xTiles;
    int yTiles;
    int tileType;
    int centreX;
    int centreY;
    int colourOffset;
    bool active;
    DWORD holdUntil;
};

static VortexState vortex;


static float RandomFraction(void)
{
    return (float)Random() / 32767.0f;
}

static int TileCount(float value)
{
    int tiles = (int)value;
    return tiles < 1 ? 1 : tiles;
}

// Colour of point d under a colour type; types 1..5 change odd points only.
static int PointColour(int type, int d, int count)
{
    if (!(d & 1))
        return d;
    switch (type) {
    case 1: return count - d;
    case 2: return d + 20;
    case 3: return d * d;
    case 4: return d >> 1;
    case 5: return 2 * d;
    default: return d;
    }
}

static void UpdateVortex(void)
{
    VortexState* s = &vortex;
    s->active = false;
    for (int d = s->pointCount - 1; d >= 0; --d) {
        VortexPoint* p = &s->points[d];
        p->previousX = p->x;
        p->previousY = p->y;
        double r = sin((double)((float)d * s->fluxFrequency)) * s->fluxAmplitude + s->radius;
        if (r < 0)
            r = 0;
        else
            s->active = true;
        p->x = (int)(r * sin((double)p->angle)) + s->centreX;
        p->y = (int)(r * cos((double)p->angle)) + s->centreY;
    }
    s->radius -= s->collapse;
    // One turn for the whole ring, from the new radius: the swirl reverses
    // as the ring shrinks.
    float turn = (float)(sin((double)(s->radius / s->swirlPeriod)) * s->swirlAmplitude);
    for (int d = 0; d < s->pointCount; ++d)
        s->points[d].angle += turn;
}

// The quadrilaterals of one tile, in tile coordinates, moved by (originX,
// originY), in the brushes of the frame.
static void DrawTileQuads(HDC dc, const HBRUSH* brushes, int originX, int originY)
{
    VortexState* s = &vortex;
    for (int k = 0; k < s->pointCount; ++k) {
        if (!brushes[k])
            continue;
        const VortexPoint* p = &s->points[k];
        const VortexPoint* q = &s->points[(k + 1) % s->pointCount];
        POINT corners[4] = {
            {p->x / s->xTiles + originX, p->y / s->yTiles + originY},
            {q->x / s->xTiles + originX, q->y / s->yTiles + originY},
            {q->previousX / s->xTiles + originX, q->previousY / s->yTiles + originY},
            {p->previousX / s->xTiles + originX, p->previousY / s->yTiles + originY},
        };
        SelectObject(dc, brushes[k]);
        Polygon(dc, corners, 4);
    }
}

// --- Tiles copied from one drawn tile ------------------------------------------
//
// Every tile paints the same quadrilaterals moved by whole pixels, tile after
// tile. On an 8-bit surface the first tile's quadrilaterals are drawn once,
// by GDI, into a scratch section (twice, on two backgrounds, which tells the
// pixels they cover), and each admitted tile in turn takes the covered
// pixels: the very bytes drawing every tile would leave, later tiles over
// earlier ones, and nothing where the clip region (the overlay's boxes) keeps
// the surface out.

enum { SCRATCH_LIMIT = 8 << 20 };

int vortexTileCopies = 1;
long vortexCopiedFrames = 0;

struct CoveredRun {
    int y, x0, x1;   // scratch row, columns [x0, x1)
};

struct VortexScratch {
    CoveredRun* runs;
    size_t runCapacity;
    HDC dc;
    HBITMAP bitmap[2];
    HGDIOBJ original;
    BYTE* bits[2];
    int width, height, stride;
};

static VortexScratch scratch;

static void FreeScratch(void)
{
    if (scratch.dc) {
        if (scratch.original)
            SelectObject(scratch.dc, scratch.original);
        SelectPalette(scratch.dc, (HPALETTE)GetStockObject(DEFAULT_PALETTE), FALSE);
        DeleteDC(scratch.dc);
    }
    for (int i = 0; i < 2; ++i)
        if (scratch.bitmap[i])
            DeleteObject(scratch.bitmap[i]);
    if (scratch.runs)
        HeapFree(GetProcessHeap(), 0, scratch.runs);
    memset(&scratch, 0, sizeof(scratch));
}

// Two top-down sections of at least width by height with the surface's
// colour table, kept from frame to frame.
static int PrepareScratch(HDC surfaceDc, int width, int height)
{
    if (scratch.dc && scratch.width >= width && scratch.height >= height)
        return 1;
    int w = width > scratch.width ? width : scratch.width;
    int h = height > scratch.height ? height : scratch.height;
    FreeScratch();
    RGBQUAD table[256];
    memset(table, 0, sizeof(table));
    if (!GetDIBColorTable(surfaceDc, 0, 256, table))
        return 0;
    scratch.dc = CreateCompatibleDC(surfaceDc);
    if (!scratch.dc)
        return 0;
    for (int i = 0; i < 2; ++i) {
        scratch.bitmap[i] = CreateTopDownDib8(surfaceDc, w, h, table, &scratch.bits[i]);
        if (!scratch.bitmap[i]) {
            FreeScratch();
            return 0;
        }
    }
    scratch.original = SelectObject(scratch.dc, scratch.bitmap[0]);
    scratch.width = w;
    scratch.height = h;
    scratch.stride = (w + 3) & ~3;
    return 1;
}

// 0 when the tiles cannot be copied; the caller then draws every tile.
static int CopyTiles(ModuleRecord* record, const HBRUSH* brushes, int tileWidth, int tileHeight)
{
    VortexState* s = &vortex;
    HDC dc = record->dc;
    int admitted = 0;
    for (int i = 0; i < s->xTiles; ++i)
        for (int j = 0; j < s->yTiles; ++j)
            admitted += TileAdmitted(i, j, s->tileType) != 0;
    if (admitted < 2)
        return 0;
    static DirectSurface surface;
    if (!OpenDirectSurface(dc, &surface))
        return 0;

    // The first tile's quadrilaterals lie within their corners' bounds.
    RECT bounds = {0x7FFFFFFF, 0x7FFFFFFF, -0x7FFFFFFF, -0x7FFFFFFF};
    for (int k = 0; k < s->pointCount; ++k) {
        const VortexPoint* p = &s->points[k];
        int xs[2] = {p->x / s->xTiles, p->previousX / s->xTiles};
        int ys[2] = {p->y / s->yTiles, p->previousY / s->yTiles};
        for (int c = 0; c < 2; ++c) {
            if (xs[c] < bounds.left) bounds.left = xs[c];
            if (xs[c] > bounds.right) bounds.right = xs[c];
            if (ys[c] < bounds.top) bounds.top = ys[c];
            if (ys[c] > bounds.bottom) bounds.bottom = ys[c];
        }
    }
    if (bounds.left > bounds.right)
        return 1;
    InflateRect(&bounds, 2, 2);
    int w = bounds.right - bounds.left, h = bounds.bottom - bounds.top;
    if ((double)w * h > SCRATCH_LIMIT || !PrepareScratch(dc, w, h))
        return 0;

    // The surface's palette maps the brushes' entries to the same bytes.
    HPALETTE palette = (HPALETTE)GetCurrentObject(dc, OBJ_PAL);
    HPALETTE kept = SelectPalette(scratch.dc, palette, FALSE);
    SelectObject(scratch.dc, GetStockObject(NULL_PEN));
    static const BYTE backgrounds[2] = {0x00, 0xFF};
    GdiFlush();
    for (int pass = 0; pass < 2; ++pass) {
        for (int y = 0; y < h; ++y)
            memset(scratch.bits[pass] + (size_t)y * scratch.stride, backgrounds[pass], (size_t)w);
        SelectObject(scratch.dc, scratch.bitmap[pass]);
        DrawTileQuads(scratch.dc, brushes, -bounds.left, -bounds.top);
    }
    SelectObject(scratch.dc, GetStockObject(HOLLOW_BRUSH));
    SelectObject(scratch.dc, scratch.bitmap[0]);
    SelectPalette(scratch.dc, kept, FALSE);
    GdiFlush();

    // A pixel both passes painted alike is covered. The runs of covered
    // pixels are gathered, then copied tile after tile, as the tiles paint.
    size_t runCount = 0;
    for (int y = 0; y < h; ++y) {
        const BYTE* a = scratch.bits[0] + (size_t)y * scratch.stride;
        const BYTE* b = scratch.bits[1] + (size_t)y * scratch.stride;
        for (int x = 0; x < w; ++x)
            runCount += a[x] == b[x] && (x == 0 || a[x - 1] != b[x - 1]);
    }
    if (!runCount)
        return 1;
    if (runCount > scratch.runCapacity) {
        if (scratch.runs)
            HeapFree(GetProcessHeap(), 0, scratch.runs);
        scratch.runCapacity = 0;
        scratch.runs = (CoveredRun*)HeapAlloc(GetProcessHeap(), 0, runCount * sizeof(CoveredRun));
        if (!scratch.runs)
            return 0;
        scratch.runCapacity = runCount;
    }
    size_t n = 0;
    for (int y = 0; y < h; ++y) {
        const BYTE* a = scratch.bits[0] + (size_t)y * scratch.stride;
        const BYTE* b = scratch.bits[1] + (size_t)y * scratch.stride;
        for (int x = 0; x < w;) {
            if (a[x] != b[x]) {
                ++x;
                continue;
            }
            int start = x;
            while (x < w && a[x] == b[x])
                ++x;
            CoveredRun run = {y, start, x};
            scratch.runs[n++] = run;
        }
    }
    for (int i = 0; i < s->xTiles; ++i) {
        for (int j = 0; j < s->yTiles; ++j) {
            if (!TileAdmitted(i, j, s->tileType))
                continue;
            int ox = bounds.left + i * tileWidth, oy = bounds.top + j * tileHeight;
            for (size_t r = 0; r < n; ++r) {
                const CoveredRun* run = &scratch.runs[r];
                const BYTE* source = scratch.bits[0] + (size_t)run->y * scratch.stride + run->x0;
                CopyDirectSpan(&surface, run->y + oy, run->x0 + ox, run->x1 - 1 + ox, source);
            }
        }
    }
    ++vortexCopiedFrames;
    return 1;
}

static void DrawVortex(ModuleRecord* record)
{
    VortexState* s = &vortex;
    HDC dc = record->dc;
    int tileWidth = record->width / s->xTiles;
    int tileHeight = record->height / s->yTiles;
    SelectObject(dc, GetStockObject(NULL_PEN));

    // One brush per point for the whole frame: every tile paints point k in
    // the same colour, so creating it once per tile would only churn GDI.
    HBRUSH brushes[VORTEX_MAX_POINTS];
    for (int k = 0; k < s->pointCount; ++k)
        brushes[k] = CreateSolidBrush(PALETTEINDEX((s->points[k].colour + s->colourOffset) % VORTEX_COLOURS));

    if (!vortexTileCopies || !CopyTiles(record, brushes, tileWidth, tileHeight)) {
        for (int i = 0; i < s->xTiles; ++i) {
            for (int j = 0; j < s->yTiles; ++j) {
                if (TileAdmitted(i, j, s->tileType))
                    DrawTileQuads(dc, brushes, i * tileWidth, j * tileHeight);
            }
        }
    }

    SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
    for (int k = 0; k < s->pointCount; ++k)
        if (brushes[k])
            DeleteObject(brushes[k]);
    // Only the offset modulo the palette size is ever seen.
    s->colourOffset = (s->colourOffset + 1) % VORTEX_COLOURS;
}

void ViewVortex(VortexView* view)
{
    view->swirlPeriod = vortex.swirlPeriod;
    view->collapse = vortex.collapse;
    view->fluxAmplitude = vortex.fluxAmplitude;
}

int VortexStart(ModuleRecord* record)
{
    VortexState* s = &vortex;
    RandomizeControls(record);

    s->pointCount = SlotWithinLimits(record, SLOT_POINTS);
    s->swirlPeriod = (RandomFraction() + 3.0f) * (float)(301 - SlotWithinLimits(record, SLOT_SPASTICITY));
    s->swirlAmplitude = (float)SlotWithinLimits(record, SLOT_AMPLITUDE) * 0.0033333334f;
    s->holdMs = SlotWithinLimits(record, SLOT_IMAGE_DURATION) * 1000;
    s->colourType = SlotWithinLimits(record, SLOT_TYPE);
    s->collapse = RandomFraction() + (float)SlotWithinLimits(record, SLOT_COLLAPSE);
    s->fluxFrequency = (float)SlotWithinLimits(record, SLOT_RADIUS_FLUX) * 0.031836994f;
    s->fluxAmplitude = RandomFraction() + (float)SlotWithinLimits(record, SLOT_FLUX_AMPLITUDE);
    s->xTiles = SlotWithinLimits(record, SLOT_X_TILING);
    s->yTiles = SlotWithinLimits(record, SLOT_Y_TILING);
    s->tileType = SlotWithinLimits(record, SLOT_TILE_TYPE);

    s->centreX = record->width / 2;
    s->centreY = record->height / 2;
    float halfWidth = (float)(record->width >> 1);
    float halfHeight = (float)(record->height >> 1);
    s->radius = (float)sqrt((double)(halfWidth * halfWidth + halfHeight * halfHeight));

    float step = 6.283184f / (float)s->pointCount;
    float angle = 0;
    for (int d = s->pointCount - 1; d >= 0; --d) {
        VortexPoint* p = &s->points[d];
        p->x = p->previousX = s->centreX;
        p->y = p->previousY = s->centreY;
        p->angle = angle;
        p->colour = PointColour(s->colourType, d, s->pointCount);
        angle += step;
    }

    // The first update puts the ring on its full radius.
    UpdateVortex();
    s->colourOffset = 1;
    s->active = true;
    return 0;
}

int VortexFrame(ModuleRecord* record)
{
    VortexState* s = &vortex;
    if (IsLiveSource(record->source[SLOT_SPASTICITY]))
        s->swirlPeriod = (RandomFraction() + 3.0f) * (301.0f - EvaluateSlot(record, SLOT_SPASTICITY));
    if (IsLiveSource(record->source[SLOT_AMPLITUDE]))
        s->swirlAmplitude = EvaluateSlot(record, SLOT_AMPLITUDE) * 0.0033333334f;
    if (IsLiveSource(record->source[SLOT_COLLAPSE]))
        s->collapse = EvaluateSlot(record, SLOT_COLLAPSE);
    if (IsLiveSource(record->source[SLOT_RADIUS_FLUX]))
        s->fluxFrequency = EvaluateSlot(record, SLOT_RADIUS_FLUX) * 0.031836994f;
    if (IsLiveSource(record->source[SLOT_FLUX_AMPLITUDE]))
        s->fluxAmplitude = RandomFraction() + EvaluateSlot(record, SLOT_FLUX_AMPLITUDE);
    if (IsLiveSource(record->source[SLOT_X_TILING]))
        s->xTiles = TileCount(EvaluateSlot(record, SLOT_X_TILING));
    if (IsLiveSource(record->source[SLOT_Y_TILING]))
        s->yTiles = TileCount(EvaluateSlot(record, SLOT_Y_TILING));
    // A zero (or undefined) period would turn every point by NaN.
    if (s->swirlPeriod == 0.0f || s->swirlPeriod != s->swirlPeriod)
        s->swirlPeriod = 1.0f;

    if (s->active) {
        UpdateVortex();
        DrawVortex(record);
        s->holdUntil = TickCount() + (DWORD)s->holdMs;
    }
    if (!TickPassed(TickCount(), s->holdUntil))
        return ENTRY_WAIT;
    VortexStart(record);
    return 0;
}

int VortexClose(ModuleRecord*)
{
    FreeScratch();
    return 0;
}
