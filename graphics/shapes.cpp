// Shape lines: the pen style record, its pens and brushes, one stamped shape
// and a line walked with LineDDA that stamps shapes along it.
#include "graphics/shapes.h"
#include "runtime/common.h"
#include "graphics/surface.h"
#include <emmintrin.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

int shapeTileMasks = 1;
long shapeTileMaskLines = 0;
int shapeStampShortcuts = 1;
long shapeStampRepeats = 0;
long shapeLeafStamps = 0;

int TruncToInt(double value)
{
    // Out-of-range conversions are undefined; odd control values or a point
    // right at the camera must still give a drawable coordinate.
    if (!(value == value))
        return 0;
    if (value > 1.0e9)
        return 1000000000;
    if (value < -1.0e9)
        return -1000000000;
    return (int)value;
}

void RotateAbout(POINT* p, float angle, int cx, int cy)
{
    p->x -= cx;
    p->y -= cy;
    RotatePoint(p, angle);
    p->x += cx;
    p->y += cy;
}

void shapePenInit(HDC dc, int sides, int type, int interval, int size, float angleStep, ShapePen* pen)
{
    BYTE s = (BYTE)sides;
    if (size > 0 && size < 4)
        s = 1;
    // The vertex list holds at most ten points.
    if (s > SHAPE_MAX_SIDES)
        s = SHAPE_MAX_SIDES;
    BYTE t = (BYTE)type;
    // Tiny shapes and two-sided ones are only visible when filled.
    if ((size > 0 && size < 3) || s == 2)
        t = (BYTE)(t / 3 * 3 + 1);

    pen->dc = dc;
    pen->sides = s;
    pen->type = t;
    pen->shapeSize = (float)size;
    pen->interval = interval;
    pen->angleStep = angleStep;
    pen->shrink = 1.0f / (1.5f + 4.0f * (float)Random() / 32767.0f);
    pen->spin = (float)Random() / 32767.0f + 0.5f;
    pen->angle = 0.0f;
    pen->counter = 0;
    pen->spare = 0;
}

static void FlushTileBatch(void);
static void FlushTileBatchOf(HDC dc);

// The device context's pen and brush while a caller holds them.
static struct {
    int active;
    HDC dc;
    HGDIOBJ pen, brush;
} heldSelection;

void shapeHoldSelection(const ShapePen* pen)
{
    heldSelection.active = 0;
    if (!pen->dc || !shapeStampShortcuts)
        return;
    heldSelection.dc = pen->dc;
    heldSelection.pen = GetCurrentObject(pen->dc, OBJ_PEN);
    heldSelection.brush = GetCurrentObject(pen->dc, OBJ_BRUSH);
    heldSelection.active = 1;
}

void shapeDropSelection(void)
{
    heldSelection.active = 0;
}

void shapePenSelect(ShapePen* pen, COLORREF colour)
{
    heldSelection.active = 0;
    FlushTileBatch();
    if (!pen->dc)
        return;
    if (pen->sides > 1) {
        HPEN linePen;
        HBRUSH fill;
        switch (pen->type) {
        case 1: case 4: case 7:
            linePen = CreatePen(PS_SOLID, 0, colour);
            fill = CreateSolidBrush(colour);
            break;
        case 2: case 5: case 8:
            linePen = CreatePen(PS_SOLID, 0, colour);
            fill = (HBRUSH)GetStockObject(NULL_BRUSH);
            break;
        case 0: case 3: case 6:
            linePen = CreatePen(PS_SOLID, 0, 0);
            fill = CreateSolidBrush(colour);
            break;
        default:
            // Nothing is stamped; stock objects keep the release from
            // deleting whatever the caller had selected.
            linePen = (HPEN)GetStockObject(NULL_PEN);
            fill = (HBRUSH)GetStockObject(NULL_BRUSH);
            break;
        }
        SelectObject(pen->dc, linePen);
        SelectObject(pen->dc, fill);
        return;
    }
    int width = TruncToInt(pen->shapeSize);
    if (width < 0)
        width = 0;
    SelectObject(pen->dc, CreatePen(PS_SOLID, width, colour));
}

void shapePenRelease(ShapePen* pen)
{
    heldSelection.active = 0;
    FlushTileBatch();
    if (!pen->dc)
        return;
    // Deleting a stock object is a no-op, so whatever the style selected goes.
    DeleteObject(SelectObject(pen->dc, GetStockObject(BLACK_PEN)));
    DeleteObject(SelectObject(pen->dc, GetStockObject(BLACK_BRUSH)));
}

// The corners of a stamp's shape about (x, y).
static int StampVertices(int x, int y, const ShapePen* pen, POINT* vertices)
{
    int count = pen->sides;
    if (count > SHAPE_MAX_SIDES)
        count = SHAPE_MAX_SIDES;
    float step = count ? (float)(6.283185307179586 / count) : 0.0f;
    float a = 0.0f;
    for (int i = 0; i < count; ++i) {
        float theta = a + pen->angle;
        vertices[i].x = x + TruncToInt(sin(theta) * pen->shapeSize);
        vertices[i].y = y + TruncToInt(cos(theta) * pen->shapeSize);
        a += step;
    }
    return count;
}

// The pen of the shapes a nested stamp puts at its corners.
static void ChildPen(const ShapePen* pen, ShapePen* child)
{
    *child = *pen;
    child->shapeSize = pen->shapeSize * pen->shrink + 1.0f;
    child->angleStep = pen->angleStep * pen->spin;
    child->type = (BYTE)(pen->type - 3);
}

void shapeStamp(int x, int y, ShapePen* pen)
{
    // Types beyond the last style would recurse without end.
    if (pen->type > SHAPE_MAX_TYPE)
        return;
    if (pen->sides < 2 && pen->type < 3) {
        MoveToEx(pen->dc, x, y, NULL);
        LineTo(pen->dc, x, y);
        return;
    }
    POINT vertices[SHAPE_MAX_SIDES];
    int count = StampVertices(x, y, pen, vertices);
    if (pen->type < 3) {
        Polygon(pen->dc, vertices, count);
        return;
    }
    ShapePen child;
    ChildPen(pen, &child);
    for (int i = 0; i < count; ++i)
        shapeStamp(vertices[i].x, vertices[i].y, &child);
}

static VOID CALLBACK StampPoint(int x, int y, LPARAM data)
{
    ShapePen* pen = (ShapePen*)data;
    if (pen->counter == 0) {
        shapeStamp(x, y, pen);
        pen->angle += pen->angleStep;
    }
    int was = pen->counter;
    pen->counter += 1;
    if (was == pen->interval)
        pen->counter = 0;
}

void shapeLine(int xa, int ya, int xb, int yb, ShapePen* pen)
{
    // Tiled lines of this pen still held in the mask land first.
    FlushTileBatchOf(pen->dc);
    if (pen->sides < 2) {
        MoveToEx(pen->dc, xa, ya, NULL);
        LineTo(pen->dc, xb, yb);
        return;
    }
    ShapePen saved = *pen;
    pen->counter = 0;
    int dy = ya > yb ? ya - yb : yb - ya;
    int dx = xa > xb ? xa - xb : xb - xa;
    int n = dy > dx ? dy : dx;
    // Interval 0 divides by an infinite quotient: the shapes do not turn.
    pen->angleStep = pen->angleStep / ((float)n / (float)pen->interval);
    LineDDA(xb, yb, xa, ya, StampPoint, (LPARAM)pen);
    *pen = saved;
}

// --- Tiles through a mask ------------------------------------------------------
//
// Between a pen select and release a one-colour pen paints the union of its
// stamps, whatever their order, and every tile's stamps are tile (0, 0)'s
// moved by whole pixels. So GDI draws the tile-local lines once into a 0/1
// mask and at the release its runs are filled into each admitted tile,
// clipped as GDI would.

// The mask window spans what any admitted tile shows: up to twice the
// surface each way (20 x 20 tiles on 3840 x 2160 need 31.5 MB).
enum { MASK_MAX_SIDE = 16384, MASK_MAX_AREA = 32 << 20 };

typedef DirectRun MaskRun;   // tile-local, x1 inclusive

// The runs a batch's mask holds, tile-local.
struct TileMask {
    MaskRun* runs;
    int runCapacity;
};
static TileMask tileMask;

struct MaskTarget {
    DirectSurface surface;
    BYTE colour;
};
static MaskTarget maskTarget;

// The colour table byte GDI paints a colour reference with, when some entry
// matches it exactly (an inexact colour may be dithered: no single byte).
static int ExactColourByte(HDC dc, COLORREF colour, BYTE* byte)
{
    RGBQUAD table[256];
    int count = (int)GetDIBColorTable(dc, 0, 256, table);
    COLORREF wanted = colour & 0xFFFFFF;
    DWORD kind = colour >> 24;
    if (kind == 1) {
        PALETTEENTRY entry;
        HPALETTE palette = (HPALETTE)GetCurrentObject(dc, OBJ_PAL);
        if (!palette || GetPaletteEntries(palette, LOWORD(colour), 1, &entry) != 1)
            return 0;
        wanted = RGB(entry.peRed, entry.peGreen, entry.peBlue);
    } else if (kind > 2) {
        return 0;
    }
    for (int i = 0; i < count; ++i)
        if (RGB(table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue) == wanted) {
            *byte = (BYTE)i;
            return 1;
        }
    return 0;
}

// Reads the surface's bits, row order, clip rectangles and colour byte; 0
// when the surface or its drawing state is not one the mask can stand for.
static int PrepareMaskTarget(HDC dc, COLORREF colour, MaskTarget* t)
{
    return OpenDirectSurface(dc, &t->surface) && ExactColourByte(dc, colour, &t->colour);
}

static int AddRun(int y, int x0, int x1, int* count)
{
    TileMask* m = &tileMask;
    if (*count == m->runCapacity) {
        int capacity = m->runCapacity ? m->runCapacity * 2 : 1024;
        MaskRun* runs = (MaskRun*)realloc(m->runs, sizeof(MaskRun) * (size_t)capacity);
        if (!runs)
            return 0;
        m->runs = runs;
        m->runCapacity = capacity;
    }
    MaskRun* r = &m->runs[(*count)++];
    r->y = y;
    r->x0 = x0;
    r->x1 = x1;
    return 1;
}

static void FillRun(const MaskTarget* t, int y, int x0, int x1)
{
    FillDirectSpan(&t->surface, y, x0, x1, t->colour);
}

// A mask DIB section of at least width x height pixels, top row first, in
// its own memory device context; every pixel of a new one is 0.
struct MaskBitmap {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    BYTE* bits;
    int width, height, stride;
};
static MaskBitmap tileMaskBitmap, stampBitmap;

static int ReadyMaskBitmap(MaskBitmap* m, int width, int height)
{
    if (!m->dc) {
        m->dc = CreateCompatibleDC(NULL);
        if (!m->dc)
            return 0;
    }
    if (!m->bitmap || width > m->width || height > m->height) {
        int w = width > m->width ? width + 64 : m->width;
        int h = height > m->height ? height + 64 : m->height;
        struct {
            BITMAPINFOHEADER header;
            RGBQUAD colours[256];
        } info;
        memset(&info, 0, sizeof(info));
        info.header.biSize = sizeof(info.header);
        info.header.biWidth = w;
        info.header.biHeight = -h;
        info.header.biPlanes = 1;
        info.header.biBitCount = 8;
        info.header.biCompression = BI_RGB;
        info.header.biClrUsed = 256;
        // Entry 1 is white, every other entry black: white ink gives byte 1.
        info.colours[1].rgbRed = info.colours[1].rgbGreen = info.colours[1].rgbBlue = 255;
        void* bits = 0;
        HBITMAP bitmap = CreateDIBSection(m->dc, (BITMAPINFO*)&info, DIB_RGB_COLORS, &bits, NULL, 0);
        if (!bitmap || !bits) {
            if (bitmap)
                DeleteObject(bitmap);
            return 0;
        }
        HGDIOBJ old = SelectObject(m->dc, bitmap);
        if (m->bitmap)
            DeleteObject(m->bitmap);
        else
            m->oldBitmap = old;
        m->bitmap = bitmap;
        m->bits = (BYTE*)bits;
        m->width = w;
        m->height = h;
        m->stride = (w + 3) & ~3;
    }
    HRGN area = CreateRectRgn(0, 0, width, height);
    SelectClipRgn(m->dc, area);
    if (area)
        DeleteObject(area);
    return 1;
}

// One stamp's pixels about its centre, kept for stamps that repeat
// (every line of a frame starts with a stamp at the pen's angle).
struct StampShape {
    float angle, size, shrink;
    int sides, type, penWidth, solidFill, fillMode;
    int used;
    int reach;       // the centre lies at (reach, reach)
    BYTE* pixels;    // (2 * reach + 1) rows of as many 0/1 bytes
    int* extents;    // first and last set column of each row, or -1
    size_t capacity;
    unsigned generation;   // counts the shapes this slot has held
};
enum { STAMP_CACHE = 64, STAMP_MAX_REACH = 160 };
static StampShape stampCache[STAMP_CACHE];
static int nextStamp;

void shapeForgetStamps(void)
{
    FlushTileBatch();
    for (int k = 0; k < STAMP_CACHE; ++k)
        stampCache[k].used = 0;
}

// Kept stamps set in the mask since the batch began, by slot, generation and
// place: the mask only gains pixels until the batch is flushed, so the same
// stamp at the same place again changes nothing.
enum { STAMP_SEEN = 1 << 13, STAMP_PROBES = 8 };
struct StampSeen {
    unsigned batch;      // the batch it belongs to; an older one is free
    unsigned shape;      // slot and generation
    int x, y;
};
static StampSeen stampSeen[STAMP_SEEN];
static unsigned stampBatch = 1;

// Lines drawn into the mask since the pen was selected; the mask is copied
// into the tiles when the pen is released (or the lines change tiling).
struct TileBatch {
    int active;
    HDC dc;
    HGDIOBJ penObject, brushObject;
    int nx, ny, tw, th, tileType, plain;
    int penWidth, solidFill, fillMode;
    HPEN inkPen;
    HBRUSH inkFill;
    int originX, originY, width, height;   // the mask window, tile-local
    int dirtyLeft, dirtyTop, dirtyRight, dirtyBottom;   // mask pixels, right/bottom exclusive
};
static TileBatch batch;

static void FlushTileBatch(void);

static void FlushTileBatchOf(HDC dc)
{
    if (batch.active && batch.dc == dc)
        FlushTileBatch();
}

static void FlushTileBatch(void)
{
    if (!batch.active)
        return;
    batch.active = 0;
    // The stamps noted are cleared from the mask below.
    if (++stampBatch == 0) {
        memset(stampSeen, 0, sizeof(stampSeen));
        stampBatch = 1;
    }
    MaskBitmap* m = &tileMaskBitmap;
    SelectObject(m->dc, GetStockObject(BLACK_PEN));
    SelectObject(m->dc, GetStockObject(NULL_BRUSH));
    DeleteObject(batch.inkPen);
    DeleteObject(batch.inkFill);
    // Both the mask and the surface must hold what GDI drew so far.
    GdiFlush();
    int runs = 0, ok = 1;
    for (int y = batch.dirtyTop; y < batch.dirtyBottom; ++y) {
        BYTE* row = m->bits + (size_t)y * m->stride;
        for (int x = batch.dirtyLeft; x < batch.dirtyRight;) {
            if (!row[x]) {
                ++x;
                continue;
            }
            int start = x;
            while (x < batch.dirtyRight && row[x])
                ++x;
            if (ok)
                ok = AddRun(batch.originY + y, batch.originX + start, batch.originX + x - 1, &runs);
        }
        if (batch.dirtyRight > batch.dirtyLeft)
            memset(row + batch.dirtyLeft, 0, (size_t)(batch.dirtyRight - batch.dirtyLeft));
    }
    const MaskTarget* t = &maskTarget;
    // A surface gone since the lines were drawn (no release) gets nothing.
    DIBSECTION section;
    HGDIOBJ bitmap = GetCurrentObject(batch.dc, OBJ_BITMAP);
    if (!bitmap || GetObjectA(bitmap, sizeof(section), &section) != (int)sizeof(section) ||
        section.dsBm.bmBits != t->surface.bits)
        return;
    if (shapeStampShortcuts && runs &&
        FillTiledRuns(&t->surface, t->colour, tileMask.runs, (size_t)runs, batch.originY + batch.dirtyTop,
                      batch.dirtyBottom - batch.dirtyTop, batch.nx, batch.ny, batch.tw, batch.th, batch.tileType))
        return;
    for (int i = 0; i < batch.nx; ++i)
        for (int j = 0; j < batch.ny; ++j) {
            if (!TileAdmitted(i, j, batch.tileType))
                continue;
            int dx = i * batch.tw, dy = j * batch.th;
            for (int k = 0; k < runs; ++k) {
                const MaskRun* r = &tileMask.runs[k];
                FillRun(t, r->y + dy, r->x0 + dx, r->x1 + dx);
            }
        }
}

// Starts a batch for lines in this pen's tiling; 0 when the mask cannot give
// GDI's own pixels and the tiles are drawn one by one.
static int BeginTileBatch(int nx, int ny, int tw, int th, int tileType, const ShapePen* local, HGDIOBJ penObject,
                          HGDIOBJ brushObject)
{
    HDC dc = local->dc;
    int admitted = 0, minI = nx, maxI = -1, minJ = ny, maxJ = -1;
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j)
            if (TileAdmitted(i, j, tileType)) {
                ++admitted;
                minI = i < minI ? i : minI;
                maxI = i > maxI ? i : maxI;
                minJ = j < minJ ? j : minJ;
                maxJ = j > maxJ ? j : maxJ;
            }
    if (admitted < 2)
        return 0;
    // One colour: a solid pen, and a fill that is absent or of the pen's colour.
    LOGPEN pen;
    if (!penObject || GetObjectA(penObject, sizeof(pen), &pen) != (int)sizeof(pen) || pen.lopnStyle != PS_SOLID)
        return 0;
    int solidFill = 0;
    if (local->sides > 1) {
        LOGBRUSH brush;
        if (!brushObject || GetObjectA(brushObject, sizeof(brush), &brush) != (int)sizeof(brush))
            return 0;
        if (brush.lbStyle == BS_SOLID && brush.lbColor == pen.lopnColor)
            solidFill = 1;
        else if (brush.lbStyle != BS_NULL)
            return 0;
    }
    int penWidth = pen.lopnWidth.x < 0 ? 0 : pen.lopnWidth.x;
    if (penWidth > MASK_MAX_SIDE)
        return 0;
    if (!PrepareMaskTarget(dc, pen.lopnColor, &maskTarget))
        return 0;
    const MaskTarget* t = &maskTarget;
    // Only this part of the tile-local plane lands in some admitted tile.
    int left = -maxI * tw, right = t->surface.width - minI * tw;
    int top = -maxJ * th, bottom = t->surface.height - minJ * th;
    double area = (double)(right - left) * (double)(bottom - top);
    if (right <= left || bottom <= top || area > MASK_MAX_AREA)
        return 0;
    if (!ReadyMaskBitmap(&tileMaskBitmap, right - left, bottom - top))
        return 0;
    HPEN inkPen = CreatePen(PS_SOLID, penWidth, RGB(255, 255, 255));
    HBRUSH inkFill = solidFill ? CreateSolidBrush(RGB(255, 255, 255)) : (HBRUSH)GetStockObject(NULL_BRUSH);
    if (!inkPen || !inkFill) {
        if (inkPen)
            DeleteObject(inkPen);
        if (inkFill)
            DeleteObject(inkFill);
        return 0;
    }
    HDC maskDc = tileMaskBitmap.dc;
    SelectObject(maskDc, inkPen);
    SelectObject(maskDc, inkFill);
    batch.fillMode = GetPolyFillMode(dc);
    SetPolyFillMode(maskDc, batch.fillMode);
    batch.active = 1;
    batch.dc = dc;
    batch.penObject = penObject;
    batch.brushObject = brushObject;
    batch.nx = nx;
    batch.ny = ny;
    batch.tw = tw;
    batch.th = th;
    batch.tileType = tileType;
    batch.plain = local->sides < 2;
    batch.penWidth = penWidth;
    batch.solidFill = solidFill;
    batch.inkPen = inkPen;
    batch.inkFill = inkFill;
    batch.originX = left;
    batch.originY = top;
    batch.width = right - left;
    batch.height = bottom - top;
    batch.dirtyLeft = batch.width;
    batch.dirtyTop = batch.height;
    batch.dirtyRight = 0;
    batch.dirtyBottom = 0;
    return 1;
}

// --- Nested stamps from one leaf ---------------------------------------------
//
// A nested stamp puts a smaller shape at each corner, and so on: every shape
// at the last level (a leaf) has the same pen, size and angle, so the leaves
// are one set of GDI pixels at different whole-pixel places, and in one
// colour the stamp is their union. The leaf is drawn once and its pixels set
// at every place; where a copy could meet the bitmap's edge (GDI's clipping)
// the stamp is left to GDI.

enum { MAX_LEAVES = SHAPE_MAX_SIDES * SHAPE_MAX_SIDES * SHAPE_MAX_SIDES };

struct Leaves {
    POINT at[MAX_LEAVES];
    int count;
    ShapePen pen;
    int ok;
};

// Where shapeStamp would draw its leaves, and their pen.
static void FindLeaves(int x, int y, const ShapePen* pen, Leaves* leaves)
{
    if (!leaves->ok || pen->type > SHAPE_MAX_TYPE)
        return;
    if (pen->type < 3) {
        if (leaves->count == MAX_LEAVES) {
            leaves->ok = 0;
            return;
        }
        if (!leaves->count)
            leaves->pen = *pen;
        leaves->at[leaves->count].x = x;
        leaves->at[leaves->count].y = y;
        leaves->count += 1;
        return;
    }
    POINT vertices[SHAPE_MAX_SIDES];
    int count = StampVertices(x, y, pen, vertices);
    ShapePen child;
    ChildPen(pen, &child);
    for (int i = 0; i < count; ++i)
        FindLeaves(vertices[i].x, vertices[i].y, &child, leaves);
}

// The stamp of `ink` about (reach, reach) of the cleared bitmap m from one
// leaf drawn by GDI; 0 (the bitmap still clear) when GDI must draw it all.
static int StampByLeaves(const ShapePen* ink, int reach, MaskBitmap* m)
{
    if (ink->type < 3 || ink->type > SHAPE_MAX_TYPE)
        return 0;
    static Leaves leaves;
    leaves.count = 0;
    leaves.ok = 1;
    FindLeaves(reach, reach, ink, &leaves);
    if (!leaves.ok || leaves.count < 2)
        return 0;
    int side = 2 * reach + 1;
    ShapePen leaf = leaves.pen;
    leaf.dc = m->dc;
    shapeStamp(reach, reach, &leaf);
    GdiFlush();
    // The leaf's pixels about (reach, reach): none may touch the edge.
    int left = side, top = side, right = -1, bottom = -1;
    for (int y = 0; y < side; ++y) {
        const BYTE* row = m->bits + (size_t)y * m->stride;
        for (int x = 0; x < side; ++x)
            if (row[x]) {
                if (x < left) left = x;
                if (x > right) right = x;
                if (y < top) top = y;
                if (y > bottom) bottom = y;
            }
    }
    if (right < 0)
        return 1;   // the leaf paints nothing: nor does the stamp
    int fits = left > 0 && top > 0 && right < side - 1 && bottom < side - 1;
    for (int k = 0; k < leaves.count && fits; ++k) {
        int dx = leaves.at[k].x - reach, dy = leaves.at[k].y - reach;
        fits = left + dx > 0 && top + dy > 0 && right + dx < side - 1 && bottom + dy < side - 1;
    }
    int w = right - left + 1, h = bottom - top + 1;
    static BYTE* pattern;
    static size_t patternCapacity;
    if (fits && (size_t)w * h > patternCapacity) {
        BYTE* grown = (BYTE*)realloc(pattern, (size_t)w * h);
        if (grown) {
            pattern = grown;
            patternCapacity = (size_t)w * h;
        } else {
            fits = 0;
        }
    }
    for (int y = top; y <= bottom; ++y) {
        BYTE* row = m->bits + (size_t)y * m->stride;
        if (fits)
            memcpy(pattern + (size_t)(y - top) * w, row + left, (size_t)w);
        memset(row + left, 0, (size_t)w);
    }
    if (!fits)
        return 0;
    for (int k = 0; k < leaves.count; ++k) {
        int ox = left + leaves.at[k].x - reach, oy = top + leaves.at[k].y - reach;
        for (int y = 0; y < h; ++y) {
            BYTE* to = m->bits + (size_t)(oy + y) * m->stride + ox;
            const BYTE* from = pattern + (size_t)y * w;
            for (int x = 0; x < w; ++x)
                to[x] |= from[x];
        }
    }
    ++shapeLeafStamps;
    return 1;
}

// The stamp's pixels about its centre, drawn by GDI on first use.
static inline int StampMatches(const StampShape* c, const ShapePen* pen)
{
    return c->used && c->angle == pen->angle && c->size == pen->shapeSize && c->shrink == pen->shrink &&
           c->sides == pen->sides && c->type == pen->type && c->penWidth == batch.penWidth &&
           c->solidFill == batch.solidFill && c->fillMode == batch.fillMode;
}

static int lastStamp;   // the slot found last: most lines of a frame start with it

static const StampShape* CachedStamp(const ShapePen* pen, int reach)
{
    // A slot is filled only when none matches, so no two match alike: the
    // slot found last, when it matches, is the one the search would find.
    if (StampMatches(&stampCache[lastStamp], pen))
        return &stampCache[lastStamp];
    for (int k = 0; k < STAMP_CACHE; ++k) {
        const StampShape* c = &stampCache[k];
        if (StampMatches(c, pen)) {
            lastStamp = k;
            return c;
        }
    }
    int side = 2 * reach + 1;
    MaskBitmap* m = &stampBitmap;
    if (!ReadyMaskBitmap(m, side, side))
        return 0;
    HGDIOBJ oldPen = SelectObject(m->dc, batch.inkPen);
    HGDIOBJ oldBrush = SelectObject(m->dc, batch.inkFill);
    SetPolyFillMode(m->dc, batch.fillMode);
    ShapePen ink = *pen;
    ink.dc = m->dc;
    if (!shapeStampShortcuts || !StampByLeaves(&ink, reach, m))
        shapeStamp(reach, reach, &ink);
    SelectObject(m->dc, oldPen);
    SelectObject(m->dc, oldBrush);
    GdiFlush();
    StampShape* c = &stampCache[nextStamp];
    lastStamp = nextStamp;
    nextStamp = (nextStamp + 1) % STAMP_CACHE;
    c->used = 0;
    size_t need = (size_t)side * side + sizeof(int) * 2 * (size_t)side;
    if (need > c->capacity) {
        BYTE* block = (BYTE*)realloc(c->pixels, need);
        if (!block)
            return 0;
        c->pixels = block;
        c->capacity = need;
    }
    c->extents = (int*)(c->pixels + (size_t)side * side);
    for (int y = 0; y < side; ++y) {
        BYTE* row = m->bits + (size_t)y * m->stride;
        BYTE* copy = c->pixels + (size_t)y * side;
        int first = -1, last = -1;
        for (int x = 0; x < side; ++x) {
            copy[x] = row[x] ? 1 : 0;
            if (row[x]) {
                if (first < 0)
                    first = x;
                last = x;
            }
        }
        c->extents[2 * y] = first;
        c->extents[2 * y + 1] = last;
        memset(row, 0, (size_t)side);
    }
    c->reach = reach;
    c->angle = pen->angle;
    c->size = pen->shapeSize;
    c->shrink = pen->shrink;
    c->sides = pen->sides;
    c->type = pen->type;
    c->penWidth = batch.penWidth;
    c->solidFill = batch.solidFill;
    c->fillMode = batch.fillMode;
    c->generation += 1;
    c->used = 1;
    return c;
}

// 1 when the stamp has been set here in this batch; else it is noted.
static int StampRepeats(const StampShape* c, int x, int y)
{
    unsigned shape = (unsigned)(c - stampCache) + STAMP_CACHE * c->generation;
    unsigned h = (shape * 2654435761u) ^ ((unsigned)x * 40503u) ^ ((unsigned)y * 2246822519u);
    h ^= h >> 15;
    for (int probe = 0; probe < STAMP_PROBES; ++probe) {
        StampSeen* s = &stampSeen[(h + (unsigned)probe) & (STAMP_SEEN - 1)];
        if (s->batch != stampBatch) {
            s->batch = stampBatch;
            s->shape = shape;
            s->x = x;
            s->y = y;
            return 0;
        }
        if (s->shape == shape && s->x == x && s->y == y)
            return 1;
    }
    return 0;   // no room to note it: set again
}

struct MaskWalk {
    ShapePen pen;
    int reach;
};

// to[0..n-1] |= from[0..n-1], 16 or 4 bytes at a time: the last piece,
// which may overlap the one before and OR some bytes twice (no change), is
// read before anything is written, and no byte outside the n is touched.
static inline void OrBytes(BYTE* to, const BYTE* from, int n)
{
    if (n >= 16) {
        __m128i last = _mm_or_si128(_mm_loadu_si128((const __m128i*)(to + n - 16)),
                                    _mm_loadu_si128((const __m128i*)(from + n - 16)));
        for (int i = 0; i + 16 <= n; i += 16) {
            __m128i v = _mm_or_si128(_mm_loadu_si128((const __m128i*)(to + i)),
                                     _mm_loadu_si128((const __m128i*)(from + i)));
            _mm_storeu_si128((__m128i*)(to + i), v);
        }
        _mm_storeu_si128((__m128i*)(to + n - 16), last);
        return;
    }
    if (n >= 4) {
        DWORD last, f;
        memcpy(&last, to + n - 4, 4);
        memcpy(&f, from + n - 4, 4);
        last |= f;
        for (int i = 0; i + 4 <= n; i += 4) {
            DWORD t;
            memcpy(&t, to + i, 4);
            memcpy(&f, from + i, 4);
            t |= f;
            memcpy(to + i, &t, 4);
        }
        memcpy(to + n - 4, &last, 4);
        return;
    }
    for (int i = 0; i < n; ++i)
        to[i] |= from[i];
}

// The line's stamp at (x, y), tile-local: its cached runs set in the mask,
// or GDI drawing it there when it cannot be kept.
static void MaskStamp(int x, int y, MaskWalk* walk)
{
    const StampShape* c = walk->reach <= STAMP_MAX_REACH ? CachedStamp(&walk->pen, walk->reach) : 0;
    MaskBitmap* m = &tileMaskBitmap;
    int cx = x - batch.originX, cy = y - batch.originY;
    if (!c) {
        ShapePen ink = walk->pen;
        ink.dc = m->dc;
        shapeStamp(cx, cy, &ink);
        return;
    }
    if (shapeStampShortcuts && StampRepeats(c, cx, cy)) {
        ++shapeStampRepeats;
        return;
    }
    int side = 2 * c->reach + 1;
    int left = cx - c->reach, top = cy - c->reach;
    for (int y = 0; y < side; ++y) {
        int first = c->extents[2 * y];
        int row = top + y;
        if (first < 0 || row < 0 || row >= batch.height)
            continue;
        int a = left + first, b = left + c->extents[2 * y + 1];
        if (a < 0)
            a = 0;
        if (b >= batch.width)
            b = batch.width - 1;
        BYTE* to = m->bits + (size_t)row * m->stride;
        const BYTE* from = c->pixels + (size_t)y * side;
        OrBytes(to + a, from + (a - left), b - a + 1);
    }
}

static VOID CALLBACK MaskStampPoint(int x, int y, LPARAM data)
{
    MaskWalk* walk = (MaskWalk*)data;
    ShapePen* pen = &walk->pen;
    if (pen->counter == 0) {
        MaskStamp(x, y, walk);
        pen->angle += pen->angleStep;
    }
    int was = pen->counter;
    pen->counter += 1;
    if (was == pen->interval)
        pen->counter = 0;
}

// (int)ceil(v) without the library's change of rounding mode, for values well
// within an int (the window's bounds and reaches are).
static inline int CeilInt(double v)
{
    if (v > -2147483647.0 && v < 2147483647.0) {
        int t = (int)v;
        return (double)t < v ? t + 1 : t;
    }
    return (int)ceil(v);
}

// Draws the tiled line into the frame's mask; 0 (nothing drawn) when it
// cannot give GDI's own pixels, and the caller draws tile by tile.
static int MaskedTiledLine(int ax, int ay, int bx, int by, int nx, int ny, int tw, int th, int tileType,
                           const ShapePen* local)
{
    HDC dc = local->dc;
    if (!shapeTileMasks || !dc || local->type > SHAPE_MAX_TYPE) {
        FlushTileBatch();
        return 0;
    }
    int held = heldSelection.active && heldSelection.dc == dc;
    HGDIOBJ penObject = held ? heldSelection.pen : GetCurrentObject(dc, OBJ_PEN);
    HGDIOBJ brushObject = held ? heldSelection.brush : GetCurrentObject(dc, OBJ_BRUSH);
    int plain = local->sides < 2;
    if (batch.active && (batch.dc != dc || batch.penObject != penObject || batch.nx != nx || batch.ny != ny ||
                         batch.tw != tw || batch.th != th || batch.tileType != tileType || batch.plain != plain ||
                         (!plain && batch.brushObject != brushObject)))
        FlushTileBatch();
    if (!batch.active && !BeginTileBatch(nx, ny, tw, th, tileType, local, penObject, brushObject))
        return 0;

    // Where the stamps can reach, tile-local, within the mask window.
    double reach = batch.penWidth + 2.0;
    double size = fabs((double)local->shapeSize);
    if (!plain)
        reach += 3.0 * size + 4.0;
    // Far-off coordinates stay with GDI's own clipping.
    const int FAR_OFF = 1 << 24;
    if ((!plain && !(size < MASK_MAX_SIDE)) || ax < -FAR_OFF || ax > FAR_OFF || bx < -FAR_OFF || bx > FAR_OFF || ay < -FAR_OFF ||
        ay > FAR_OFF || by < -FAR_OFF || by > FAR_OFF) {
        FlushTileBatch();
        return 0;
    }
    double left = (ax < bx ? ax : bx) - reach - batch.originX;
    double right = (ax > bx ? ax : bx) + reach - batch.originX + 1;
    double top = (ay < by ? ay : by) - reach - batch.originY;
    double bottom = (ay > by ? ay : by) + reach - batch.originY + 1;
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    if (right > batch.width) right = batch.width;
    if (bottom > batch.height) bottom = batch.height;
    if (left < right && top < bottom) {
        if ((int)left < batch.dirtyLeft) batch.dirtyLeft = (int)left;
        if ((int)top < batch.dirtyTop) batch.dirtyTop = (int)top;
        if (CeilInt(right) > batch.dirtyRight) batch.dirtyRight = CeilInt(right);
        if (CeilInt(bottom) > batch.dirtyBottom) batch.dirtyBottom = CeilInt(bottom);
        if (plain) {
            HDC maskDc = tileMaskBitmap.dc;
            MoveToEx(maskDc, ax - batch.originX, ay - batch.originY, NULL);
            LineTo(maskDc, bx - batch.originX, by - batch.originY);
        } else {
            // The walk of shapeLine, stamping into the mask.
            MaskWalk walk;
            walk.pen = *local;
            walk.reach = CeilInt(reach);
            walk.pen.counter = 0;
            int dy = ay > by ? ay - by : by - ay;
            int dx = ax > bx ? ax - bx : bx - ax;
            int n = dy > dx ? dy : dx;
            walk.pen.angleStep = walk.pen.angleStep / ((float)n / (float)walk.pen.interval);
            LineDDA(bx, by, ax, ay, MaskStampPoint, (LPARAM)&walk);
        }
    }
    // A plain stroke leaves the pen where the last tile's stroke ended.
    if (plain) {
        int lastI = 0, lastJ = 0;
        for (int i = 0; i < nx; ++i)
            for (int j = 0; j < ny; ++j)
                if (TileAdmitted(i, j, tileType)) {
                    lastI = i;
                    lastJ = j;
                }
        MoveToEx(dc, bx + lastI * tw, by + lastJ * th, NULL);
    }
    ++shapeTileMaskLines;
    return 1;
}

void shapeTiledLine(int xa, int ya, int xb, int yb, int width, int height, int xTiles, int yTiles, int tileType,
                    const ShapePen* pen)
{
    int nx = xTiles < 1 ? 1 : xTiles;
    int ny = yTiles < 1 ? 1 : yTiles;
    int tw = width / nx;
    int th = height / ny;
    ShapePen local = *pen;
    local.shapeSize = pen->shapeSize / (float)((nx + ny) >> 1);
    int ax = xa / nx, ay = ya / ny;
    int bx = xb / nx, by = yb / ny;
    if (MaskedTiledLine(ax, ay, bx, by, nx, ny, tw, th, tileType, &local))
        return;
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j)
            if (TileAdmitted(i, j, tileType))
                shapeLine(ax + i * tw, ay + j * th, bx + i * tw, by + j * th, &local);
}
