// Shape lines: the pen style record, its pens and brushes, one stamped shape
// and a line walked with LineDDA that stamps shapes along it.
#include "graphics/shapes.h"
#include "runtime/common.h"
#include "graphics/surface.h"
#include <math.h>
#include <stdlib.h>
#include <string.h>

int shapeTileMasks = 1;
long shapeTileMaskLines = 0;
int shapeLineRuns = 1;
int shapeStampOnce = 1;
int shapeLeafCopies = 1;
int shapeJoinedCopies = 1;
int shapeStampBlocks = 1;

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

void shapePenSelect(ShapePen* pen, COLORREF colour)
{
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
    FlushTileBatch();
    if (!pen->dc)
        return;
    // Deleting a stock object is a no-op, so whatever the style selected goes.
    DeleteObject(SelectObject(pen->dc, GetStockObject(BLACK_PEN)));
    DeleteObject(SelectObject(pen->dc, GetStockObject(BLACK_BRUSH)));
}

// The corners of the shape centred at (x, y).
static int ShapeVertices(int x, int y, const ShapePen* pen, POINT* vertices)
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

static ShapePen ChildPen(const ShapePen* pen)
{
    ShapePen child = *pen;
    child.shapeSize = pen->shapeSize * pen->shrink + 1.0f;
    child.angleStep = pen->angleStep * pen->spin;
    child.type = (BYTE)(pen->type - 3);
    return child;
}

static void DrawShape(int x, int y, ShapePen* pen)
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
    int count = ShapeVertices(x, y, pen, vertices);
    if (pen->type < 3) {
        Polygon(pen->dc, vertices, count);
        return;
    }
    ShapePen child = ChildPen(pen);
    for (int i = 0; i < count; ++i)
        DrawShape(vertices[i].x, vertices[i].y, &child);
}

// Every shape a stamp draws is one level's: the same pen, so the same shape
// moved to its centre. The centres are gathered, and that pen.
enum { LEAVES_MAX = SHAPE_MAX_SIDES * SHAPE_MAX_SIDES };
static int LeafCentres(int x, int y, const ShapePen* pen, POINT* centres, int count, ShapePen* leaf)
{
    if (pen->type > SHAPE_MAX_TYPE || count >= LEAVES_MAX)
        return count;
    if (pen->type < 3) {
        *leaf = *pen;
        centres[count].x = x;
        centres[count].y = y;
        return count + 1;
    }
    POINT vertices[SHAPE_MAX_SIDES];
    int n = ShapeVertices(x, y, pen, vertices);
    ShapePen child = ChildPen(pen);
    for (int i = 0; i < n; ++i)
        count = LeafCentres(vertices[i].x, vertices[i].y, &child, centres, count, leaf);
    return count;
}

void shapeStamp(int x, int y, ShapePen* pen)
{
    DrawShape(x, y, pen);
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

struct MaskRun {
    int y, x0, x1;   // tile-local, x1 inclusive
};

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
    int serial;      // new for every drawing the entry is given
    int reach;       // the centre lies at (reach, reach)
    int pitch;       // row to row in pixels, each row STAMP_PAD in
    int firstRow, lastRow;   // the rows with pixels set
    BYTE* pixels;    // (2 * reach + 1) rows of as many 0/1 bytes
    int* extents;    // first and last set column of each row, or -1
    size_t capacity;
};
enum { STAMP_CACHE = 64, STAMP_MAX_REACH = 160, STAMP_PAD = 16 };
static StampShape stampCache[STAMP_CACHE];
static int nextStamp, stampSerials;

// A kept stamp set again at the same spot of one batch's mask changes
// nothing, and a star field's rotated copies land on the same few spots over
// and over: the spots set so far in the batch, by stamp serial.
struct PlacedStamp {
    long batch;
    int serial, x, y;
};
enum { PLACED_SLOTS = 8192, PLACED_MAX = PLACED_SLOTS * 3 / 4 };
static PlacedStamp placedStamps[PLACED_SLOTS];
static long placedBatch, batchSerials;
static int placedCount;

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
    MaskBitmap* m = &tileMaskBitmap;
    SelectObject(m->dc, GetStockObject(BLACK_PEN));
    SelectObject(m->dc, GetStockObject(NULL_BRUSH));
    DeleteObject(batch.inkPen);
    DeleteObject(batch.inkFill);
    // Both the mask and the surface must hold what GDI drew so far.
    GdiFlush();
    int runs = 0, ok = 1;
    const DWORD NONE = 0, ALL = 0x01010101u;
    for (int y = batch.dirtyTop; y < batch.dirtyBottom; ++y) {
        BYTE* row = m->bits + (size_t)y * m->stride;
        int right = batch.dirtyRight;
        for (int x = batch.dirtyLeft; x < right;) {
            // Four pixels at a time through empty stretches and full ones,
            // clearing as the runs are read.
            DWORD four;
            if (shapeStampBlocks && x + 4 <= right && (memcpy(&four, row + x, 4), four == NONE)) {
                x += 4;
                continue;
            }
            if (!row[x]) {
                ++x;
                continue;
            }
            int start = x;
            while (shapeStampBlocks && x + 4 <= right && (memcpy(&four, row + x, 4), four == ALL)) {
                memcpy(row + x, &NONE, 4);
                x += 4;
            }
            while (x < right && row[x])
                row[x++] = 0;
            if (ok)
                ok = AddRun(batch.originY + y, batch.originX + start, batch.originX + x - 1, &runs);
        }
        if (!shapeStampBlocks && right > batch.dirtyLeft)
            memset(row + batch.dirtyLeft, 0, (size_t)(right - batch.dirtyLeft));
    }
    const MaskTarget* t = &maskTarget;
    // A surface gone since the lines were drawn (no release) gets nothing.
    DIBSECTION section;
    HGDIOBJ bitmap = GetCurrentObject(batch.dc, OBJ_BITMAP);
    if (!bitmap || GetObjectA(bitmap, sizeof(section), &section) != (int)sizeof(section) ||
        section.dsBm.bmBits != t->surface.bits)
        return;
    // The admitted tiles, then a flag per surface row filled edge to edge.
    static BYTE* admitted;
    static size_t admittedSize;
    size_t tiles = (size_t)batch.nx * batch.ny;
    int height = t->surface.height, width = t->surface.width;
    size_t need = tiles + (size_t)height;
    if (shapeJoinedCopies && need > admittedSize) {
        BYTE* grown = (BYTE*)realloc(admitted, need);
        if (grown) {
            admitted = grown;
            admittedSize = need;
        }
    }
    if (shapeJoinedCopies && need <= admittedSize) {
        BYTE* rowFilled = admitted + tiles;
        for (int y = 0; y < height; ++y)
            rowFilled[y] = 0;
        // One colour whatever the order: a run's copies in a row of tiles
        // that touch or overlap are filled as one span.
        for (int j = 0; j < batch.ny; ++j)
            for (int i = 0; i < batch.nx; ++i)
                admitted[j * batch.nx + i] = (BYTE)TileAdmitted(i, j, batch.tileType);
        for (int j = 0; j < batch.ny; ++j) {
            int dy = j * batch.th;
            const BYTE* row = admitted + j * batch.nx;
            for (int k = 0; k < runs; ++k) {
                const MaskRun* r = &tileMask.runs[k];
                int reach = r->x1 - r->x0 + 1;
                for (int i = 0; i < batch.nx; ++i) {
                    if (!row[i])
                        continue;
                    int first = i, next = i + 1;
                    for (; next < batch.nx && (next - i) * batch.tw <= reach; ++next)
                        if (row[next])
                            i = next;
                    // A surface row already filled edge to edge takes no more.
                    int y = r->y + dy, x0 = r->x0 + first * batch.tw, x1 = r->x1 + i * batch.tw;
                    int inside = y >= 0 && y < height;
                    if (inside && rowFilled[y])
                        continue;
                    FillRun(t, y, x0, x1);
                    if (inside && x0 <= 0 && x1 >= width - 1)
                        rowFilled[y] = 1;
                }
            }
        }
        return;
    }
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
    ++batchSerials;
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

// The shape drawn at (reach, reach) of the stamp bitmap set at every centre
// instead, within the bitmap's side x side clip; 0 when it has too many runs.
static int CopyLeaves(MaskBitmap* m, int side, int reach, const POINT* centres, int leaves)
{
    enum { LEAF_RUNS = 4096 };
    static MaskRun runs[LEAF_RUNS];
    int count = 0;
    for (int y = 0; y < side; ++y) {
        BYTE* row = m->bits + (size_t)y * m->stride;
        for (int x = 0; x < side;) {
            if (!row[x]) {
                ++x;
                continue;
            }
            int start = x;
            while (x < side && row[x])
                row[x++] = 0;
            if (count == LEAF_RUNS)
                return 0;
            runs[count].y = y - reach;
            runs[count].x0 = start - reach;
            runs[count].x1 = x - 1 - reach;
            ++count;
        }
    }
    for (int k = 0; k < leaves; ++k)
        for (int n = 0; n < count; ++n) {
            int y = centres[k].y + runs[n].y;
            int a = centres[k].x + runs[n].x0, b = centres[k].x + runs[n].x1;
            if (y < 0 || y >= side)
                continue;
            a = a < 0 ? 0 : a;
            b = b >= side ? side - 1 : b;
            BYTE* row = m->bits + (size_t)y * m->stride;
            for (int x = a; x <= b; ++x)
                row[x] = 1;
        }
    return 1;
}

// The stamp's pixels about its centre, drawn by GDI on first use.
static int StampFits(const StampShape* c, const ShapePen* pen)
{
    return c->used && c->angle == pen->angle && c->size == pen->shapeSize && c->shrink == pen->shrink &&
           c->sides == pen->sides && c->type == pen->type && c->penWidth == batch.penWidth &&
           c->solidFill == batch.solidFill && c->fillMode == batch.fillMode;
}

static const StampShape* CachedStamp(const ShapePen* pen, int reach)
{
    // Most of a frame's stamps are the one its lines start with.
    static int lastFound;
    if (StampFits(&stampCache[lastFound], pen))
        return &stampCache[lastFound];
    for (int k = 0; k < STAMP_CACHE; ++k)
        if (StampFits(&stampCache[k], pen)) {
            lastFound = k;
            return &stampCache[k];
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
    // GDI draws a shape the same wherever it lies: one of the stamp's shapes
    // is drawn and its pixels set again at every other centre.
    static POINT centres[LEAVES_MAX];
    ShapePen leaf;
    int leaves = shapeLeafCopies ? LeafCentres(reach, reach, &ink, centres, 0, &leaf) : 0;
    if (leaves > 1) {
        leaf.dc = m->dc;
        DrawShape(reach, reach, &leaf);
    } else {
        shapeStamp(reach, reach, &ink);
    }
    SelectObject(m->dc, oldPen);
    SelectObject(m->dc, oldBrush);
    GdiFlush();
    if (leaves > 1 && !CopyLeaves(m, side, reach, centres, leaves))
        return 0;
    StampShape* c = &stampCache[nextStamp];
    nextStamp = (nextStamp + 1) % STAMP_CACHE;
    c->used = 0;
    // Rows padded with zeros either side: a row is set in whole blocks.
    int pitch = (side + 2 * STAMP_PAD + 15) & ~15;
    size_t need = (size_t)pitch * side + sizeof(int) * 2 * (size_t)side;
    if (need > c->capacity) {
        BYTE* block = (BYTE*)realloc(c->pixels, need);
        if (!block)
            return 0;
        c->pixels = block;
        c->capacity = need;
    }
    c->extents = (int*)(c->pixels + (size_t)pitch * side);
    c->pitch = pitch;
    c->firstRow = side;
    c->lastRow = -1;
    for (int y = 0; y < side; ++y) {
        BYTE* row = m->bits + (size_t)y * m->stride;
        BYTE* copy = c->pixels + (size_t)y * pitch + STAMP_PAD;
        int first = -1, last = -1;
        if (shapeStampBlocks) {
            // Four pixels at a time; the ink leaves 0 or 1 in every byte.
            const DWORD NONE = 0, LOW = 0x01010101u;
            for (int x = -STAMP_PAD; x < pitch - STAMP_PAD; x += 4) {
                DWORD four = 0;
                if (x >= 0 && x + 4 <= side)
                    memcpy(&four, row + x, 4);
                else
                    for (int k = 0; k < 4; ++k)
                        if (x + k >= 0 && x + k < side && row[x + k])
                            four |= (DWORD)1 << (8 * k);
                if (four & ~LOW) {
                    four = 0;
                    for (int k = 0; k < 4; ++k)
                        if (row[x + k])
                            four |= (DWORD)1 << (8 * k);
                }
                memcpy(copy + x, &four, 4);
                if (!four)
                    continue;
                for (int k = 0; k < 4; ++k)
                    if ((four >> (8 * k)) & 1) {
                        if (first < 0)
                            first = x + k;
                        last = x + k;
                    }
                if (x >= 0 && x + 4 <= side)
                    memcpy(row + x, &NONE, 4);
                else
                    for (int k = 0; k < 4; ++k)
                        if (x + k >= 0 && x + k < side)
                            row[x + k] = 0;
            }
        } else {
            for (int x = -STAMP_PAD; x < pitch - STAMP_PAD; ++x)
                copy[x] = x >= 0 && x < side && row[x] ? 1 : 0;
            for (int x = 0; x < side; ++x) {
                if (row[x]) {
                    if (first < 0)
                        first = x;
                    last = x;
                }
            }
            memset(row, 0, (size_t)side);
        }
        c->extents[2 * y] = first;
        c->extents[2 * y + 1] = last;
        if (first >= 0) {
            if (c->firstRow > y)
                c->firstRow = y;
            c->lastRow = y;
        }
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
    c->serial = ++stampSerials;
    c->used = 1;
    return c;
}

struct MaskWalk {
    ShapePen pen;
    int reach;
};

// 1 when this batch set the stamp at the spot before; else the spot is
// noted, while there is room.
static int PlacedBefore(const StampShape* c, int x, int y)
{
    if (placedBatch != batchSerials) {
        placedBatch = batchSerials;
        placedCount = 0;
    }
    unsigned h = ((unsigned)c->serial * 73856093u ^ (unsigned)x * 19349663u ^ (unsigned)y * 83492791u) &
                 (PLACED_SLOTS - 1);
    int probes = 0;
    for (; probes < PLACED_SLOTS; ++probes, h = (h + 1) & (PLACED_SLOTS - 1)) {
        PlacedStamp* p = &placedStamps[h];
        if (p->batch != placedBatch)
            break;
        if (p->serial == c->serial && p->x == x && p->y == y)
            return 1;
    }
    if (probes < PLACED_SLOTS && placedCount < PLACED_MAX) {
        PlacedStamp* p = &placedStamps[h];
        p->batch = placedBatch;
        p->serial = c->serial;
        p->x = x;
        p->y = y;
        ++placedCount;
    }
    return 0;
}

static void OrBlocks(BYTE* __restrict to, const BYTE* __restrict from, int blocks)
{
    for (int k = 0; k < blocks; ++k, to += 16, from += 16)
        for (int q = 0; q < 16; ++q)
            to[q] |= from[q];
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
    if (shapeStampOnce && PlacedBefore(c, cx, cy))
        return;
    int left = cx - c->reach, top = cy - c->reach;
    int firstY = c->firstRow > -top ? c->firstRow : -top;
    int lastY = c->lastRow < batch.height - 1 - top ? c->lastRow : batch.height - 1 - top;
    for (int y = firstY; y <= lastY; ++y) {
        int first = c->extents[2 * y];
        int row = top + y;
        if (first < 0)
            continue;
        int a = left + first, b = left + c->extents[2 * y + 1];
        if (a < 0)
            a = 0;
        if (b >= batch.width)
            b = batch.width - 1;
        BYTE* to = m->bits + (size_t)row * m->stride;
        const BYTE* from = c->pixels + (size_t)y * c->pitch + STAMP_PAD - left;
        // Whole blocks of 16 where the mask row has room: the bytes past the
        // row's last pixel are the padding's zeros.
        int blocks = (b - a + 16) >> 4;
        if (shapeStampBlocks && a + 16 * blocks <= m->stride) {
            OrBlocks(to + a, from + a, blocks);
            continue;
        }
        for (int x = a; x <= b; ++x)
            to[x] |= from[x];
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

// Draws the tiled line into the frame's mask; 0 (nothing drawn) when it
// cannot give GDI's own pixels, and the caller draws tile by tile.
// `selected` says the batch's pen and brush are still the ones selected:
// the line follows another of the same run with nothing drawn between.
static int MaskedTiledLine(int ax, int ay, int bx, int by, int nx, int ny, int tw, int th, int tileType,
                           const ShapePen* local, int selected)
{
    HDC dc = local->dc;
    if (!shapeTileMasks || !dc || local->type > SHAPE_MAX_TYPE) {
        FlushTileBatch();
        return 0;
    }
    HGDIOBJ penObject, brushObject;
    if (selected && batch.active && batch.dc == dc) {
        penObject = batch.penObject;
        brushObject = batch.brushObject;
    } else {
        penObject = GetCurrentObject(dc, OBJ_PEN);
        brushObject = GetCurrentObject(dc, OBJ_BRUSH);
    }
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
    // The ends are whole pixels: rounding the reach up once gives every edge
    // as the double sums rounded outward would (and ceil is slow here).
    static double lastReach = -1.0;
    static int lastReachUp;
    if (reach != lastReach) {
        lastReach = reach;
        lastReachUp = (int)ceil(reach);
    }
    int reachUp = lastReachUp;
    int left = (ax < bx ? ax : bx) - reachUp - batch.originX;
    int right = (ax > bx ? ax : bx) + reachUp - batch.originX + 1;
    int top = (ay < by ? ay : by) - reachUp - batch.originY;
    int bottom = (ay > by ? ay : by) + reachUp - batch.originY + 1;
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    if (right > batch.width) right = batch.width;
    if (bottom > batch.height) bottom = batch.height;
    if (left < right && top < bottom) {
        if (left < batch.dirtyLeft) batch.dirtyLeft = left;
        if (top < batch.dirtyTop) batch.dirtyTop = top;
        if (right > batch.dirtyRight) batch.dirtyRight = right;
        if (bottom > batch.dirtyBottom) batch.dirtyBottom = bottom;
        if (plain) {
            HDC maskDc = tileMaskBitmap.dc;
            MoveToEx(maskDc, ax - batch.originX, ay - batch.originY, NULL);
            LineTo(maskDc, bx - batch.originX, by - batch.originY);
        } else {
            // The walk of shapeLine, stamping into the mask.
            MaskWalk walk;
            walk.pen = *local;
            walk.reach = reachUp;
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

static void TiledLine(int xa, int ya, int xb, int yb, int width, int height, int xTiles, int yTiles, int tileType,
                      const ShapePen* pen, int selected)
{
    int nx = xTiles < 1 ? 1 : xTiles;
    int ny = yTiles < 1 ? 1 : yTiles;
    int tw = width / nx;
    int th = height / ny;
    ShapePen local = *pen;
    local.shapeSize = pen->shapeSize / (float)((nx + ny) >> 1);
    int ax = xa / nx, ay = ya / ny;
    int bx = xb / nx, by = yb / ny;
    if (MaskedTiledLine(ax, ay, bx, by, nx, ny, tw, th, tileType, &local, selected))
        return;
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j)
            if (TileAdmitted(i, j, tileType))
                shapeLine(ax + i * tw, ay + j * th, bx + i * tw, by + j * th, &local);
}

void shapeTiledLine(int xa, int ya, int xb, int yb, int width, int height, int xTiles, int yTiles, int tileType,
                    const ShapePen* pen)
{
    TiledLine(xa, ya, xb, yb, width, height, xTiles, yTiles, tileType, pen, 0);
}

void shapeTiledLines(const POINT* ends, int lines, int width, int height, int xTiles, int yTiles, int tileType,
                     const ShapePen* pen)
{
    for (int k = 0; k < lines; ++k)
        TiledLine(ends[2 * k].x, ends[2 * k].y, ends[2 * k + 1].x, ends[2 * k + 1].y, width, height, xTiles, yTiles,
                  tileType, pen, k > 0 && shapeLineRuns);
}
