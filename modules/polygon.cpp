// Polygon: one filled polygon a frame whose vertices bounce about the
// surface, repeated in rotated copies and tiles, its colour walking the
// palette so the trail forms bands.
#include "modules/modules.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "graphics/surface.h"
#include "graphics/shapes.h"
#include "modules/polygon.h"
#include <string.h>

enum {
    POLY_VERTICES = 0, POLY_SYMMETRY = 1, POLY_SPEED = 2, POLY_OUTLINE = 3,
    POLY_XTILES = 4, POLY_YTILES = 5, POLY_TILETYPE = 6
};
enum { POLY_MAX_VERTICES = 20, POLY_MAX_FIXED_SPEED = 100, POLY_RESTART_MS = 100000 };

struct PolygonState {
    int vertexCount;
    int symmetry;
    int speed;
    bool outline;
    int xTiles;
    int yTiles;
    int tileType;
    int tileWidth;
    int tileHeight;
    int centreX;
    int centreY;
    float symmetryAngle;
    POINT vertices[POLY_MAX_VERTICES];
    POINT velocities[POLY_MAX_VERTICES];
    int colour;
    int colourStep;
    DWORD restartTime;
};

static PolygonState polygon;

// A live control's current value, truncated; 0 when the source is not live.
static int LiveValue(ModuleRecord* record, int slot, int* value)
{
    if (!IsLiveSource(record->source[slot]))
        return 0;
    *value = TruncToInt(EvaluateSlot(record, slot));
    return 1;
}

static void PolygonGeometry(ModuleRecord* record)
{
    // Tiles and copies below one would divide by zero or draw nothing.
    if (polygon.xTiles < 1)
        polygon.xTiles = 1;
    if (polygon.yTiles < 1)
        polygon.yTiles = 1;
    if (polygon.symmetry < 1)
        polygon.symmetry = 1;
    polygon.symmetryAngle = 6.2832f / (float)polygon.symmetry;
    polygon.tileWidth = record->width / polygon.xTiles;
    polygon.tileHeight = record->height / polygon.yTiles;
}

int PolygonStart(ModuleRecord* record)
{
    RandomizeControls(record);
    EvaluateControls(record);
    polygon.vertexCount = record->value[POLY_VERTICES];
    polygon.symmetry = record->value[POLY_SYMMETRY];
    polygon.speed = record->value[POLY_SPEED];
    polygon.outline = record->value[POLY_OUTLINE] != 0;
    polygon.xTiles = record->value[POLY_XTILES];
    polygon.yTiles = record->value[POLY_YTILES];
    polygon.tileType = record->value[POLY_TILETYPE];
    if (polygon.speed > POLY_MAX_FIXED_SPEED)
        polygon.speed = POLY_MAX_FIXED_SPEED;
    if (polygon.vertexCount < 2)
        polygon.vertexCount = 2;
    if (polygon.vertexCount > POLY_MAX_VERTICES)
        polygon.vertexCount = POLY_MAX_VERTICES;

    polygon.colourStep = 1;
    polygon.colour = 1;
    if (polygon.vertexCount == 2)
        polygon.outline = true;   // a two-vertex polygon shows only its outline

    PolygonGeometry(record);
    polygon.centreX = record->width >> 1;
    polygon.centreY = record->height >> 1;

    int spanX = polygon.tileWidth > 0 ? polygon.tileWidth : 1;
    int spanY = polygon.tileHeight > 0 ? polygon.tileHeight : 1;
    for (int i = polygon.vertexCount - 1; i >= 0; --i) {
        polygon.vertices[i].x = Random() % spanX;
        polygon.vertices[i].y = Random() % spanY;
        polygon.velocities[i].x = Random() % 2 == 0 ? 1 : -1;
        polygon.velocities[i].y = Random() % 2 == 0 ? 1 : -1;
    }
    polygon.restartTime = TickCount() + POLY_RESTART_MS;
    return 0;
}

// Copy k of the vertex list (turned about the surface centre unless there is
// only the one copy), scaled into tile (0, 0).
static void CopyPoints(int k, POINT* out)
{
    float theta = polygon.symmetryAngle * (float)k;
    for (int v = 0; v < polygon.vertexCount; ++v) {
        POINT p = polygon.vertices[v];
        if (polygon.symmetry != 1)
            RotateAbout(&p, theta, polygon.centreX, polygon.centreY);
        out[v].x = p.x / polygon.xTiles;
        out[v].y = p.y / polygon.yTiles;
    }
}

// Every copy drawn directly into every admitted tile (not copied, not
// mirrored): copy by copy, and within a copy column by column.
static void DrawTiledCopies(HDC dc)
{
    POINT scaled[POLY_MAX_VERTICES];
    POINT moved[POLY_MAX_VERTICES];
    int count = polygon.vertexCount;
    for (int k = 0; k < polygon.symmetry; ++k) {
        CopyPoints(k, scaled);
        for (int i = 0; i < polygon.xTiles; ++i)
            for (int j = 0; j < polygon.yTiles; ++j) {
                if (!TileAdmitted(i, j, polygon.tileType))
                    continue;
                int offsetX = i * polygon.tileWidth;
                int offsetY = j * polygon.tileHeight;
                for (int v = 0; v < count; ++v) {
                    moved[v].x = scaled[v].x + offsetX;
                    moved[v].y = scaled[v].y + offsetY;
                }
                Polygon(dc, moved, count);
            }
    }
}

// --- Tiles painted straight into an emulated surface ----------------------------
//
// At full symmetry and tiling one frame entry is 20,000 Polygon calls. Every
// tile's copy is tile (0, 0)'s copy moved by whole pixels, and all copies of
// a frame share one fill and one outline colour, so a pixel ends up in the
// colours of the last copy drawn over it: the highest copy number, for equal
// numbers the last tile in drawing order; its outline colour where that
// copy's outline covers it (GDI paints a polygon's outline over its fill).
// So the copies are drawn once, by GDI, into a scratch bitmap in numbered
// colours (fill 2k + 1, outline 2k + 2, in drawing order, so each scratch
// pixel keeps its last copy); every admitted tile's ranks are merged into the
// surface area, the later tile winning ties; and the winners are painted in
// the bytes GDI paints the frame's brush and pen with, inside the surface's
// clip region (the overlay's shown boxes stay untouched).

int polygonDirectTiles = 1;
int polygonDirectMinimum = 32;
long polygonDirectFrames = 0;
long polygonRepeatedFrames = 0;

enum {
    DIRECT_MIN_TILES = 2,
    MAX_DIRECT_COPIES = 127,            // 2k + 2 must fit a byte
    SCRATCH_MARGIN = 2,                 // the 1-pixel outline around the vertices
    MAX_SCRATCH_PIXELS = 16 << 20,
    PROBE_SIZE = 4
};

struct DirectTiles {
    HDC dc;              // scratch: the copies in numbered colours
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    BYTE* bits;          // top-down
    int width, height, stride;
    HDC probeDc;         // the surface's colour table: the bytes GDI paints
    HBITMAP probeBitmap;
    HGDIOBJ oldProbeBitmap;
    BYTE* probeBits;     // top-down, PROBE_SIZE square
    WORD* ranks;         // scratch pixels as ranks (0: no copy)
    size_t rankCount;
    WORD* best;          // the highest rank over each pixel of the painted area
    size_t bestCount;
    BYTE* pattern;       // the repeating block in the frame's bytes
    int* runs;           // its covered and uncovered runs
    size_t patternCount;
};

static DirectTiles direct;

// Scratch colour n, distinct from every other even at 3 bits a channel.
static COLORREF NumberedColour(int n)
{
    return RGB((n & 7) * 32 + 16, ((n >> 3) & 7) * 32 + 16, ((n >> 6) & 3) * 64 + 32);
}

static void FreeDirectTiles(void)
{
    if (direct.dc) {
        if (direct.bitmap)
            SelectObject(direct.dc, direct.oldBitmap);
        DeleteDC(direct.dc);
    }
    if (direct.bitmap)
        DeleteObject(direct.bitmap);
    if (direct.probeDc) {
        if (direct.probeBitmap)
            SelectObject(direct.probeDc, direct.oldProbeBitmap);
        DeleteDC(direct.probeDc);
    }
    if (direct.probeBitmap)
        DeleteObject(direct.probeBitmap);
    if (direct.ranks)
        GlobalFree(direct.ranks);
    if (direct.best)
        GlobalFree(direct.best);
    if (direct.pattern)
        GlobalFree(direct.pattern);
    if (direct.runs)
        GlobalFree(direct.runs);
    ZeroMemory(&direct, sizeof(direct));
}

// A scratch bitmap of at least width x height and the probe; 0 when they
// cannot be made.
static int PrepareScratch(HDC surfaceDc, int width, int height)
{
    static RGBQUAD numbered[256];
    if (!direct.dc || !direct.probeDc) {
        if (!direct.dc)
            direct.dc = CreateCompatibleDC(surfaceDc);
        if (!direct.probeDc)
            direct.probeDc = CreateCompatibleDC(surfaceDc);
        if (!direct.dc || !direct.probeDc)
            return 0;
    }
    if (!direct.probeBitmap) {
        direct.probeBitmap = CreateTopDownDib8(direct.probeDc, PROBE_SIZE, PROBE_SIZE, numbered, &direct.probeBits);
        if (!direct.probeBitmap)
            return 0;
        direct.oldProbeBitmap = SelectObject(direct.probeDc, direct.probeBitmap);
    }
    if (direct.bitmap && direct.width >= width && direct.height >= height)
        return 1;
    // Room to spare, so that copies drifting a little wider do not remake it.
    int w = width + width / 4, h = height + height / 4;
    if (w < direct.width)
        w = direct.width;
    if (h < direct.height)
        h = direct.height;
    if ((long long)w * h > MAX_SCRATCH_PIXELS) {
        w = width;
        h = height;
    }
    for (int n = 0; n < 256; ++n) {
        COLORREF c = NumberedColour(n);
        numbered[n].rgbRed = GetRValue(c);
        numbered[n].rgbGreen = GetGValue(c);
        numbered[n].rgbBlue = GetBValue(c);
        numbered[n].rgbReserved = 0;
    }
    BYTE* bits = 0;
    HBITMAP bitmap = CreateTopDownDib8(direct.dc, w, h, numbered, &bits);
    if (!bitmap)
        return 0;
    HGDIOBJ previous = SelectObject(direct.dc, bitmap);
    if (direct.bitmap)
        DeleteObject(direct.bitmap);
    else
        direct.oldBitmap = previous;
    direct.bitmap = bitmap;
    direct.bits = bits;
    direct.width = w;
    direct.height = h;
    direct.stride = (w + 3) & ~3;
    return 1;
}

static WORD* GrowWords(WORD* buffer, size_t* count, size_t need)
{
    if (buffer && need <= *count)
        return buffer;
    if (buffer)
        GlobalFree(buffer);
    buffer = (WORD*)GlobalAlloc(GMEM_FIXED, need * sizeof(WORD));
    *count = buffer ? need : 0;
    return buffer;
}

// The bytes GDI paints the brush's fill and the pen's outline with on this
// surface: a small square drawn with both into a bitmap of the surface's
// colour table through the surface's palette.
static int ProbeColours(HDC dc, HBRUSH fill, HPEN outlinePen, BYTE* fillByte, BYTE* outlineByte)
{
    RGBQUAD table[256];
    UINT n = GetDIBColorTable(dc, 0, 256, table);
    if (n == 0 || SetDIBColorTable(direct.probeDc, 0, n, table) != n)
        return 0;
    HDC probe = direct.probeDc;
    // Without the surface's palette the probe would resolve palette indices
    // differently.
    HPALETTE oldPalette = SelectPalette(probe, (HPALETTE)GetCurrentObject(dc, OBJ_PAL), FALSE);
    if (!oldPalette)
        return 0;
    HGDIOBJ oldBrush = SelectObject(probe, fill);
    HGDIOBJ oldPen = SelectObject(probe, outlinePen ? (HGDIOBJ)outlinePen : GetStockObject(NULL_PEN));
    SetPolyFillMode(probe, GetPolyFillMode(dc));
    GdiFlush();
    memset(direct.probeBits, 0, PROBE_SIZE * PROBE_SIZE);
    POINT square[4] = {{0, 0}, {PROBE_SIZE - 1, 0}, {PROBE_SIZE - 1, PROBE_SIZE - 1}, {0, PROBE_SIZE - 1}};
    int drawn = Polygon(probe, square, 4);
    GdiFlush();
    *fillByte = direct.probeBits[PROBE_SIZE + 1];   // inside, off the outline
    *outlineByte = direct.probeBits[0];             // a corner of the outline
    SelectObject(probe, oldPen);
    SelectObject(probe, oldBrush);
    SelectPalette(probe, oldPalette, FALSE);
    return drawn != 0;
}

struct Area {
    int left, top, right, bottom;
};

static void Cut(Area* a, int left, int top, int right, int bottom)
{
    if (a->left < left)
        a->left = left;
    if (a->top < top)
        a->top = top;
    if (a->right > right)
        a->right = right;
    if (a->bottom > bottom)
        a->bottom = bottom;
}

// One row of a tile's ranks, moved to its place in drawing order, merged in.
// The two row loops stay out of line: inlined into the long frame routine
// the compiler no longer vectorizes them.
__attribute__((noinline)) static void MergeRanks(WORD* __restrict to, const WORD* __restrict from, int n,
                                                 WORD order)
{
    for (int x = 0; x < n; ++x) {
        WORD r = (WORD)(from[x] + order);
        to[x] = r > to[x] ? r : to[x];
    }
}

// One row of covered pixels in the fill or outline byte; the rest kept.
__attribute__((noinline)) static void PaintWinners(BYTE* __restrict to, const WORD* __restrict from, int n,
                                                   WORD covered, BYTE fillByte, BYTE outlineByte)
{
    for (int x = 0; x < n; ++x) {
        WORD r = from[x];
        BYTE colour = (r & 1) ? outlineByte : fillByte;
        to[x] = r >= covered ? colour : to[x];
    }
}

// One row of the reference block as bytes to copy, and the runs: from each
// pixel, how many covered (positive) or uncovered (negative) pixels follow
// in the row, itself included.
static void PatternRow(BYTE* pattern, int* runs, const WORD* best, int n, WORD covered, BYTE fillByte,
                       BYTE outlineByte)
{
    for (int x = 0; x < n; ++x)
        pattern[x] = (best[x] & 1) ? outlineByte : fillByte;
    int run = 0, kind = -1;
    for (int x = n - 1; x >= 0; --x) {
        int shown = best[x] >= covered;
        run = shown == kind ? run + 1 : 1;
        kind = shown;
        runs[x] = shown ? run : -run;
    }
}

// Part of a pattern row copied into the surface, its covered runs only.
static void PaintRepeat(BYTE* to, const BYTE* pattern, const int* runs, int n)
{
    int x = 0;
    while (x < n) {
        int run = runs[x];
        if (run > 0) {
            int count = run < n - x ? run : n - x;
            memcpy(to + x, pattern + x, count);
            x += count;
        } else {
            x -= run;
        }
    }
}

// 1 when the colour pattern and runs of a width x height block have room.
static int PreparePattern(int width, int height)
{
    size_t need = (size_t)width * height;
    if (direct.pattern && need <= direct.patternCount)
        return 1;
    if (direct.pattern)
        GlobalFree(direct.pattern);
    if (direct.runs)
        GlobalFree(direct.runs);
    direct.pattern = (BYTE*)GlobalAlloc(GMEM_FIXED, need);
    direct.runs = (int*)GlobalAlloc(GMEM_FIXED, need * sizeof(int));
    direct.patternCount = direct.pattern && direct.runs ? need : 0;
    return direct.patternCount != 0;
}

// 1 when this frame's copies were painted straight into the surface; 0 when
// nothing was painted and the GDI path is to draw them.
static int DrawTilesDirect(HDC dc, HBRUSH fill, HPEN outlinePen)
{
    int copies = polygon.symmetry, count = polygon.vertexCount;
    if (!polygonDirectTiles || !dc || copies > MAX_DIRECT_COPIES || polygon.xTiles > 0xFFFF ||
        polygon.yTiles > 0xFFFF)
        return 0;
    // Ranks are 2 (k + 1) tiles + 2 t + outline, t the tile's place in
    // drawing order: they must fit a WORD.
    long long tiles = (long long)polygon.xTiles * polygon.yTiles;
    if (2 * (copies + 1) * tiles > 0xFFFF)
        return 0;
    int admitted = 0;
    Area offsets = {0x7FFFFFFF, 0x7FFFFFFF, -0x7FFFFFFF, -0x7FFFFFFF};
    for (int i = 0; i < polygon.xTiles; ++i)
        for (int j = 0; j < polygon.yTiles; ++j)
            if (TileAdmitted(i, j, polygon.tileType)) {
                ++admitted;
                int x = i * polygon.tileWidth, y = j * polygon.tileHeight;
                if (x < offsets.left) offsets.left = x;
                if (x > offsets.right) offsets.right = x;
                if (y < offsets.top) offsets.top = y;
                if (y > offsets.bottom) offsets.bottom = y;
            }
    // A few polygons are quicker through GDI than the scratch and merge.
    if (admitted < DIRECT_MIN_TILES || (long long)admitted * copies < polygonDirectMinimum)
        return 0;

    // Only an emulated surface, in plain device coordinates and copy mode.
    if (!EmulatedSurfacePalette(dc))
        return 0;
    // The surface's bits and its clip region, cut to the surface.
    static DirectSurface surface;
    if (!OpenDirectSurface(dc, &surface))
        return 0;
    int surfaceWidth = surface.width, surfaceHeight = surface.height;
    const RECT* clips = surface.clip;
    int clipCount = surface.clipCount;

    // The copies in tile (0, 0) and the scratch area around them.
    static POINT points[MAX_DIRECT_COPIES][POLY_MAX_VERTICES];
    Area box = {0x7FFFFFFF, 0x7FFFFFFF, -0x7FFFFFFF, -0x7FFFFFFF};
    for (int k = 0; k < copies; ++k) {
        CopyPoints(k, points[k]);
        for (int v = 0; v < count; ++v) {
            const POINT* p = &points[k][v];
            if (p->x < box.left) box.left = p->x;
            if (p->x > box.right) box.right = p->x;
            if (p->y < box.top) box.top = p->y;
            if (p->y > box.bottom) box.bottom = p->y;
        }
    }
    int originX = box.left - SCRATCH_MARGIN, originY = box.top - SCRATCH_MARGIN;
    long long wide = (long long)box.right - box.left + 1 + 2 * SCRATCH_MARGIN;
    long long high = (long long)box.bottom - box.top + 1 + 2 * SCRATCH_MARGIN;
    if (wide * high > MAX_SCRATCH_PIXELS)
        return 0;
    int scratchWidth = (int)wide, scratchHeight = (int)high;

    // The surface area any tile's copies reach, within the clip bounds.
    Area area = {originX + offsets.left, originY + offsets.top, originX + offsets.right + scratchWidth,
                 originY + offsets.bottom + scratchHeight};
    Area bounds = {surfaceWidth, surfaceHeight, 0, 0};
    for (int c = 0; c < clipCount; ++c) {
        if (clips[c].left < bounds.left) bounds.left = clips[c].left;
        if (clips[c].top < bounds.top) bounds.top = clips[c].top;
        if (clips[c].right > bounds.right) bounds.right = clips[c].right;
        if (clips[c].bottom > bounds.bottom) bounds.bottom = clips[c].bottom;
    }
    Cut(&area, 0, 0, surfaceWidth, surfaceHeight);
    Cut(&area, bounds.left, bounds.top, bounds.right, bounds.bottom);
    int areaWidth = area.right - area.left, areaHeight = area.bottom - area.top;
    if (areaWidth <= 0 || areaHeight <= 0) {
        ++polygonDirectFrames;   // nothing of it can show
        return 1;
    }

    if (!PrepareScratch(dc, scratchWidth, scratchHeight))
        return 0;
    direct.ranks = GrowWords(direct.ranks, &direct.rankCount, (size_t)scratchWidth * scratchHeight);
    direct.best = GrowWords(direct.best, &direct.bestCount, (size_t)areaWidth * areaHeight);
    if (!direct.ranks || !direct.best)
        return 0;
    BYTE fillByte = 0, outlineByte = 0;
    if (!ProbeColours(dc, fill, outlinePen, &fillByte, &outlineByte))
        return 0;

    // The copies in drawing order, each in its own numbers.
    GdiFlush();
    for (int y = 0; y < scratchHeight; ++y)
        memset(direct.bits + (size_t)y * direct.stride, 0, scratchWidth);
    SetPolyFillMode(direct.dc, GetPolyFillMode(dc));
    HGDIOBJ oldBrush = SelectObject(direct.dc, GetStockObject(NULL_BRUSH));
    HGDIOBJ oldPen = SelectObject(direct.dc, GetStockObject(NULL_PEN));
    int drawn = 1;
    for (int k = 0; k < copies && drawn; ++k) {
        POINT local[POLY_MAX_VERTICES];
        for (int v = 0; v < count; ++v) {
            local[v].x = points[k][v].x - originX;
            local[v].y = points[k][v].y - originY;
        }
        HBRUSH brush = CreateSolidBrush(NumberedColour(2 * k + 1));
        HPEN pen = outlinePen ? CreatePen(PS_SOLID, 1, NumberedColour(2 * k + 2)) : 0;
        if (!brush || (outlinePen && !pen)) {
            drawn = 0;
        } else {
            SelectObject(direct.dc, brush);
            SelectObject(direct.dc, pen ? (HGDIOBJ)pen : GetStockObject(NULL_PEN));
            Polygon(direct.dc, local, count);
            SelectObject(direct.dc, GetStockObject(NULL_BRUSH));
            SelectObject(direct.dc, GetStockObject(NULL_PEN));
        }
        if (brush)
            DeleteObject(brush);
        if (pen)
            DeleteObject(pen);
    }
    SelectObject(direct.dc, oldPen);
    SelectObject(direct.dc, oldBrush);
    if (!drawn)
        return 0;
    GdiFlush();

    // Scratch numbers to ranks.
    WORD rankOf[256];
    ZeroMemory(rankOf, sizeof(rankOf));
    for (int k = 0; k < copies; ++k) {
        rankOf[2 * k + 1] = (WORD)(2 * (k + 1) * tiles);
        rankOf[2 * k + 2] = (WORD)(2 * (k + 1) * tiles + 1);
    }
    for (int y = 0; y < scratchHeight; ++y) {
        const BYTE* from = direct.bits + (size_t)y * direct.stride;
        WORD* to = direct.ranks + (size_t)y * scratchWidth;
        for (int x = 0; x < scratchWidth; ++x)
            to[x] = rankOf[from[x]];
    }

    // Where every tile whose copies reach a pixel exists, the picture
    // repeats with the tiling (two tiles each way for the alternating types):
    // the ranks move by the same amount for every tile, so the same copy
    // wins. Only a reference block there and the bands around it are merged.
    int periodX = polygon.tileWidth, periodY = polygon.tileHeight;
    if (polygon.tileType == 1 || polygon.tileType == 2) {
        periodX *= 2;
        periodY *= 2;
    }
    Area inner = {originX + scratchWidth - polygon.tileWidth, originY + scratchHeight - polygon.tileHeight,
                  originX + polygon.xTiles * polygon.tileWidth, originY + polygon.yTiles * polygon.tileHeight};
    Cut(&inner, area.left, area.top, area.right, area.bottom);
    if (periodX <= 0 || periodY <= 0 || inner.right - inner.left < 2 * periodX ||
        inner.bottom - inner.top < 2 * periodY || !PreparePattern(periodX, periodY))
        inner.left = inner.right = inner.top = inner.bottom = area.left;
    int repeats = inner.right > inner.left;
    Area regions[5];
    int regionCount = 0;
    if (!repeats) {
        regions[regionCount++] = area;
    } else {
        Area top = {area.left, area.top, area.right, inner.top};
        Area bottom = {area.left, inner.bottom, area.right, area.bottom};
        Area left = {area.left, inner.top, inner.left, inner.bottom};
        Area right = {inner.right, inner.top, area.right, inner.bottom};
        Area block = {inner.left, inner.top, inner.left + periodX, inner.top + periodY};
        regions[regionCount++] = top;
        regions[regionCount++] = bottom;
        regions[regionCount++] = left;
        regions[regionCount++] = right;
        regions[regionCount++] = block;
    }

    // Every admitted tile in drawing order; a later tile wins a tie.
    for (int r = 0; r < regionCount; ++r) {
        const Area* region = &regions[r];
        for (int y = region->top; y < region->bottom; ++y)
            memset(direct.best + (size_t)(y - area.top) * areaWidth + (region->left - area.left), 0,
                   (size_t)(region->right - region->left) * sizeof(WORD));
    }
    for (int i = 0; i < polygon.xTiles; ++i)
        for (int j = 0; j < polygon.yTiles; ++j) {
            if (!TileAdmitted(i, j, polygon.tileType))
                continue;
            WORD order = (WORD)(2 * (i * polygon.yTiles + j));
            int left = originX + i * polygon.tileWidth, top = originY + j * polygon.tileHeight;
            for (int r = 0; r < regionCount; ++r) {
                Area stamp = {left, top, left + scratchWidth, top + scratchHeight};
                Cut(&stamp, regions[r].left, regions[r].top, regions[r].right, regions[r].bottom);
                int n = stamp.right - stamp.left;
                if (n <= 0)
                    continue;
                for (int y = stamp.top; y < stamp.bottom; ++y) {
                    const WORD* from = direct.ranks + (size_t)(y - top) * scratchWidth + (stamp.left - left);
                    WORD* to = direct.best + (size_t)(y - area.top) * areaWidth + (stamp.left - area.left);
                    MergeRanks(to, from, n, order);
                }
            }
        }

    // The winners in the frame's colours, inside the clip region.
    WORD covered = (WORD)(2 * tiles);
    if (repeats) {
        for (int y = 0; y < periodY; ++y) {
            const WORD* from = direct.best + (size_t)(inner.top + y - area.top) * areaWidth + (inner.left - area.left);
            PatternRow(direct.pattern + (size_t)y * periodX, direct.runs + (size_t)y * periodX, from, periodX,
                       covered, fillByte, outlineByte);
        }
    }
    for (int c = 0; c < clipCount; ++c) {
        for (int r = 0; r < regionCount; ++r) {
            if (repeats && r == 4)
                break;   // the reference block is painted with the rest of the repeats
            Area piece = {clips[c].left, clips[c].top, clips[c].right, clips[c].bottom};
            Cut(&piece, regions[r].left, regions[r].top, regions[r].right, regions[r].bottom);
            for (int y = piece.top; y < piece.bottom; ++y) {
                BYTE* to = DirectRow(&surface, y) + piece.left;
                const WORD* from = direct.best + (size_t)(y - area.top) * areaWidth + (piece.left - area.left);
                PaintWinners(to, from, piece.right - piece.left, covered, fillByte, outlineByte);
            }
        }
        if (!repeats)
            continue;
        Area piece = {clips[c].left, clips[c].top, clips[c].right, clips[c].bottom};
        Cut(&piece, inner.left, inner.top, inner.right, inner.bottom);
        if (piece.left >= piece.right)
            continue;
        for (int y = piece.top; y < piece.bottom; ++y) {
            size_t row = (size_t)((y - inner.top) % periodY) * periodX;
            BYTE* to = DirectRow(&surface, y);
            int x = piece.left;
            int phase = (x - inner.left) % periodX;
            while (x < piece.right) {
                int n = periodX - phase;
                if (n > piece.right - x)
                    n = piece.right - x;
                PaintRepeat(to + x, direct.pattern + row + phase, direct.runs + row + phase, n);
                x += n;
                phase = 0;
            }
        }
    }
    polygonRepeatedFrames += repeats;
    ++polygonDirectFrames;
    return 1;
}

static void MoveVertices(int width, int height)
{
    for (int v = 0; v < polygon.vertexCount; ++v) {
        POINT* p = &polygon.vertices[v];
        POINT* d = &polygon.velocities[v];
        // The bounce happens only beyond the surface: x = width stays.
        int nx = p->x + d->x * polygon.speed;
        if (nx < 0 || nx > width)
            d->x = -d->x;
        else
            p->x = nx;
        int ny = p->y + d->y * polygon.speed;
        if (ny < 0 || ny > height)
            d->y = -d->y;
        else
            p->y = ny;
    }
}

int PolygonFrame(ModuleRecord* record)
{
    LiveValue(record, POLY_SYMMETRY, &polygon.symmetry);
    LiveValue(record, POLY_SPEED, &polygon.speed);
    LiveValue(record, POLY_XTILES, &polygon.xTiles);
    LiveValue(record, POLY_YTILES, &polygon.yTiles);
    PolygonGeometry(record);

    polygon.colour += polygon.colourStep;
    if (polygon.colour == 235 || polygon.colour == 0)
        polygon.colourStep = -polygon.colourStep;

    HDC dc = record->dc;
    HPEN outlinePen = 0;
    if (polygon.outline) {
        outlinePen = CreatePen(PS_SOLID, 1, PALETTEINDEX(236 - polygon.colour));
        SelectObject(dc, outlinePen);
    } else {
        SelectObject(dc, GetStockObject(NULL_PEN));
    }
    HBRUSH fill = CreateSolidBrush(PALETTEINDEX(polygon.colour));
    SelectObject(dc, fill);

    if (!DrawTilesDirect(dc, fill, outlinePen))
        DrawTiledCopies(dc);

    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    DeleteObject(fill);
    if (outlinePen) {
        SelectObject(dc, GetStockObject(NULL_PEN));
        DeleteObject(outlinePen);
    }

    MoveVertices(record->width, record->height);
    if (TickPassed(TickCount(), polygon.restartTime))
        PolygonStart(record);
    return 0;
}

int PolygonClose(ModuleRecord*)
{
    FreeDirectTiles();
    return 0;
}
