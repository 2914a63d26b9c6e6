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

void shapePenSelect(ShapePen* pen, COLORREF colour)
{
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
    if (!pen->dc)
        return;
    // Deleting a stock object is a no-op, so whatever the style selected goes.
    DeleteObject(SelectObject(pen->dc, GetStockObject(BLACK_PEN)));
    DeleteObject(SelectObject(pen->dc, GetStockObject(BLACK_BRUSH)));
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
    if (pen->type < 3) {
        Polygon(pen->dc, vertices, count);
        return;
    }
    ShapePen child = *pen;
    child.shapeSize = pen->shapeSize * pen->shrink + 1.0f;
    child.angleStep = pen->angleStep * pen->spin;
    child.type = (BYTE)(pen->type - 3);
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
// moved by whole pixels. So GDI draws the tile-local line once into a 0/1
// mask and its runs are filled into each admitted tile, clipped as GDI would.

enum { MASK_CLIP_RECTS = 256, MASK_MAX_SIDE = 16384, MASK_MAX_AREA = 8 << 20 };

struct MaskRun {
    int y, x0, x1;   // tile-local, x1 inclusive
};

struct TileMask {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    BYTE* bits;
    int width, height, stride;
    MaskRun* runs;
    int runCapacity;
};
static TileMask tileMask;

struct MaskTarget {
    BYTE* bits;
    int stride, width, height, topDown;
    BYTE colour;
    RECT clip[MASK_CLIP_RECTS];
    int clipCount;
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
    DIBSECTION section;
    HGDIOBJ bitmap = GetCurrentObject(dc, OBJ_BITMAP);
    if (!bitmap || GetObjectA(bitmap, sizeof(section), &section) != (int)sizeof(section))
        return 0;
    if (section.dsBm.bmBitsPixel != 8 || !section.dsBm.bmBits || section.dsBm.bmHeight < 1)
        return 0;
    POINT viewport, window;
    if (GetMapMode(dc) != MM_TEXT || GetGraphicsMode(dc) != GM_COMPATIBLE || GetROP2(dc) != R2_COPYPEN ||
        !GetViewportOrgEx(dc, &viewport) || !GetWindowOrgEx(dc, &window) || viewport.x || viewport.y ||
        window.x || window.y)
        return 0;
    t->topDown = DibRowsTopDown(dc);
    if (t->topDown < 0 || !ExactColourByte(dc, colour, &t->colour))
        return 0;
    t->bits = (BYTE*)section.dsBm.bmBits;
    t->stride = section.dsBm.bmWidthBytes;
    t->width = section.dsBm.bmWidth;
    t->height = section.dsBm.bmHeight;
    t->clipCount = 0;
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    if (!region)
        return 0;
    int clipped = GetClipRgn(dc, region);
    int ok = clipped >= 0;
    if (clipped == 0) {
        SetRect(&t->clip[0], 0, 0, t->width, t->height);
        t->clipCount = 1;
    } else if (clipped > 0) {
        static BYTE data[sizeof(RGNDATAHEADER) + MASK_CLIP_RECTS * sizeof(RECT)];
        DWORD size = GetRegionData(region, 0, NULL);
        ok = size && size <= sizeof(data) && GetRegionData(region, sizeof(data), (RGNDATA*)data);
        const RGNDATA* rects = (const RGNDATA*)data;
        const RECT* r = (const RECT*)rects->Buffer;
        for (DWORD i = 0; ok && i < rects->rdh.nCount && t->clipCount < MASK_CLIP_RECTS; ++i) {
            RECT c = r[i];
            if (c.left < 0) c.left = 0;
            if (c.top < 0) c.top = 0;
            if (c.right > t->width) c.right = t->width;
            if (c.bottom > t->height) c.bottom = t->height;
            if (c.left < c.right && c.top < c.bottom)
                t->clip[t->clipCount++] = c;
        }
    }
    DeleteObject(region);
    return ok;
}

// A cleared mask of at least width x height pixels, top row first.
static int ReadyMask(int width, int height)
{
    TileMask* m = &tileMask;
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
    GdiFlush();
    for (int y = 0; y < height; ++y)
        memset(m->bits + (size_t)y * m->stride, 0, (size_t)width);
    return 1;
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
    if (y < 0 || y >= t->height)
        return;
    BYTE* row = t->bits + (size_t)(t->topDown ? y : t->height - 1 - y) * t->stride;
    for (int i = 0; i < t->clipCount; ++i) {
        const RECT* c = &t->clip[i];
        if (y < c->top || y >= c->bottom)
            continue;
        int a = x0 < c->left ? c->left : x0;
        int b = x1 >= c->right ? c->right - 1 : x1;
        if (a <= b)
            memset(row + a, t->colour, (size_t)(b - a + 1));
    }
}

// Draws the tiled line through the mask; 0 (nothing drawn) when it cannot
// give GDI's own pixels, and the caller draws tile by tile.
static int MaskedTiledLine(int ax, int ay, int bx, int by, int nx, int ny, int tw, int th, int tileType,
                           ShapePen* local)
{
    HDC dc = local->dc;
    if (!shapeTileMasks || !dc || local->type > SHAPE_MAX_TYPE)
        return 0;
    int admitted = 0, minI = nx, maxI = -1, minJ = ny, maxJ = -1, lastI = 0, lastJ = 0;
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j)
            if (TileAdmitted(i, j, tileType)) {
                ++admitted;
                minI = i < minI ? i : minI;
                maxI = i > maxI ? i : maxI;
                minJ = j < minJ ? j : minJ;
                maxJ = j > maxJ ? j : maxJ;
                lastI = i;
                lastJ = j;
            }
    if (admitted < 2)
        return 0;

    // One colour: a solid pen, and a fill that is absent or of the pen's colour.
    LOGPEN pen;
    HGDIOBJ penObject = GetCurrentObject(dc, OBJ_PEN);
    if (!penObject || GetObjectA(penObject, sizeof(pen), &pen) != (int)sizeof(pen) || pen.lopnStyle != PS_SOLID)
        return 0;
    int solidFill = 0;
    if (local->sides > 1) {
        LOGBRUSH brush;
        HGDIOBJ brushObject = GetCurrentObject(dc, OBJ_BRUSH);
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

    // Where the stamps can reach, tile-local, and the part any tile shows.
    double reach = penWidth + 2.0;
    if (local->sides > 1) {
        double size = fabs((double)local->shapeSize);
        if (!(size < MASK_MAX_SIDE))
            return 0;
        reach += 3.0 * size + 4.0;
    }
    double left = (ax < bx ? ax : bx) - reach, right = (ax > bx ? ax : bx) + reach;
    double top = (ay < by ? ay : by) - reach, bottom = (ay > by ? ay : by) + reach;
    if (right - left > MASK_MAX_SIDE || bottom - top > MASK_MAX_SIDE)
        return 0;
    if (!PrepareMaskTarget(dc, pen.lopnColor, &maskTarget))
        return 0;
    const MaskTarget* t = &maskTarget;
    double showLeft = -(double)maxI * tw, showRight = (double)t->width - (double)minI * tw;
    double showTop = -(double)maxJ * th, showBottom = (double)t->height - (double)minJ * th;
    if (left < showLeft) left = showLeft;
    if (right > showRight) right = showRight;
    if (top < showTop) top = showTop;
    if (bottom > showBottom) bottom = showBottom;
    int originX = (int)floor(left), originY = (int)floor(top);
    int maskWidth = (int)ceil(right) - originX + 1, maskHeight = (int)ceil(bottom) - originY + 1;
    if (maskWidth > 0 && maskHeight > 0) {
        if ((double)maskWidth * maskHeight > MASK_MAX_AREA || !ReadyMask(maskWidth, maskHeight))
            return 0;
        HDC maskDc = tileMask.dc;
        HPEN inkPen = CreatePen(PS_SOLID, penWidth, RGB(255, 255, 255));
        HBRUSH inkFill = solidFill ? CreateSolidBrush(RGB(255, 255, 255)) : (HBRUSH)GetStockObject(NULL_BRUSH);
        if (!inkPen || !inkFill) {
            if (inkPen)
                DeleteObject(inkPen);
            if (inkFill)
                DeleteObject(inkFill);
            return 0;
        }
        HGDIOBJ oldPen = SelectObject(maskDc, inkPen);
        HGDIOBJ oldBrush = SelectObject(maskDc, inkFill);
        SetPolyFillMode(maskDc, GetPolyFillMode(dc));
        ShapePen ink = *local;
        ink.dc = maskDc;
        shapeLine(ax - originX, ay - originY, bx - originX, by - originY, &ink);
        SelectObject(maskDc, oldPen);
        SelectObject(maskDc, oldBrush);
        DeleteObject(inkPen);
        DeleteObject(inkFill);
        // Both the mask and the surface must hold what GDI drew so far.
        GdiFlush();

        int runs = 0;
        for (int y = 0; y < maskHeight; ++y) {
            const BYTE* row = tileMask.bits + (size_t)y * tileMask.stride;
            for (int x = 0; x < maskWidth;) {
                if (!row[x]) {
                    ++x;
                    continue;
                }
                int start = x;
                while (x < maskWidth && row[x])
                    ++x;
                if (!AddRun(originY + y, originX + start, originX + x - 1, &runs))
                    return 0;
            }
        }
        for (int i = 0; i < nx; ++i)
            for (int j = 0; j < ny; ++j) {
                if (!TileAdmitted(i, j, tileType))
                    continue;
                int dx = i * tw, dy = j * th;
                for (int k = 0; k < runs; ++k) {
                    const MaskRun* r = &tileMask.runs[k];
                    FillRun(t, r->y + dy, r->x0 + dx, r->x1 + dx);
                }
            }
    }
    // A plain stroke leaves the pen where the last tile's stroke ended.
    if (local->sides < 2)
        MoveToEx(dc, bx + lastI * tw, by + lastJ * th, NULL);
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
