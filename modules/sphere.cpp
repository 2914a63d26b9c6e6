// Sphere: shaded discs stamped in a kaleidoscope. Ten sphere images of
// different base colours are drawn once per picture into memory bitmaps; each
// frame copies one of them, clipped to a disc (and optionally a pie wedge and
// the tile cell), at every symmetry angle of every admitted tile.
#include "modules/modules.h"
#include "modules/sphere.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include "runtime/framework.h"
#include "runtime/overlay.h"
#include "graphics/palette.h"
#include "graphics/surface.h"
#include <math.h>
#include <stdlib.h>
#include <string.h>

int sphereDirectStamps = 1;
long sphereStampsCopied = 0;
int sphereCellComposite = 1;
long sphereCellsComposed = 0;

namespace {

enum {
    SLOT_SIZE = 0, SLOT_SYMMETRY = 1, SLOT_TYPE = 2, SLOT_DURATION = 3,
    SLOT_X_TILING = 4, SLOT_Y_TILING = 5, SLOT_TILE_TYPE = 6
};
enum {
    TYPE_WEDGE = 1, TYPE_MIRROR = 2, TYPE_RANDOM_SIZE = 4, TYPE_SQUARE = 8, TYPE_BARS = 16,
    TYPE_TILE_CLIP = 32
};
enum { SPHERE_BITMAPS = 10, MIN_DRAW_SIZE = 10 };

struct SphereState {
    HDC memoryDc;
    HPALETTE spherePalette;
    HBITMAP sphereBitmaps[SPHERE_BITMAPS];
    HGDIOBJ originalBitmap;    // what memoryDc held before the sphere bitmaps
    HPALETTE originalPalette;
    int sphereSize;
    int symmetry;
    int typeBits;
    int durationSeconds;
    int xTiles;
    int yTiles;
    int tileType;
    int colourFactor;
    float symmetryAngle;
    float halfDiagonal;
    DWORD restartTime;
    int wedge;
    int mirror;
    int randomSize;
    int tileClip;
    int centreX;
    int centreY;
    int ready;                 // all ten bitmaps exist
};

SphereState sphere;

int Bounded(int value, int low, int high)
{
    return value < low ? low : value > high ? high : value;
}

// A live control's value this frame, kept inside the slot's limits: a sound
// level above full scale must not push a tiling count to zero or past its
// maximum.
int LiveValue(ModuleRecord* record, int slot)
{
    float v = EvaluateSlot(record, slot);
    int low = record->minimum[slot], high = record->maximum[slot];
    if (!(v >= (float)low))
        return low;
    if (v > (float)high)
        return high;
    return (int)v;
}

// Palette whose entry i lands as the byte the surface uses for animated entry
// i. On a real palette device an explicit reference to hardware index i + 10;
// memory device contexts do not map explicit entries, so on the emulated
// surface the key colours stand for the entries. A true-colour surface that
// is not emulated has no indices to match: the images take the surface
// palette's colours as they are now.
HPALETTE CreateSpherePalette(HDC surface)
{
    if (paletteEmulation || GetObjectType(surface) == OBJ_MEMDC)
        return CreateKeyPalette();
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entry[PALETTE_ENTRIES];
    } block;
    block.version = 0x300;
    block.count = PALETTE_ENTRIES;
    HPALETTE current = surfacePalette;
    if (!(GetDeviceCaps(surface, RASTERCAPS) & RC_PALETTE) && current &&
        GetPaletteEntries(current, 0, PALETTE_ENTRIES, block.entry) == PALETTE_ENTRIES) {
        for (int i = 0; i < PALETTE_ENTRIES; ++i)
            block.entry[i].peFlags = 0;
        return CreatePalette((LOGPALETTE*)&block);
    }
    for (int i = 0; i < PALETTE_ENTRIES; ++i) {
        WORD hardware = (WORD)(i + STATIC_LOW);
        block.entry[i].peRed = LOBYTE(hardware);
        block.entry[i].peGreen = HIBYTE(hardware);
        block.entry[i].peBlue = 0;
        block.entry[i].peFlags = PC_EXPLICIT;
    }
    return CreatePalette((LOGPALETTE*)&block);
}

void FreeBitmaps(void)
{
    if (sphere.memoryDc && sphere.originalBitmap)
        SelectObject(sphere.memoryDc, sphere.originalBitmap);
    sphere.originalBitmap = 0;
    for (int k = 0; k < SPHERE_BITMAPS; ++k) {
        if (sphere.sphereBitmaps[k])
            DeleteObject(sphere.sphereBitmaps[k]);
        sphere.sphereBitmaps[k] = 0;
    }
    sphere.ready = 0;
}

int CreateBitmaps(ModuleRecord* record)
{
    if (!sphere.memoryDc || !sphere.spherePalette)
        return 0;
    int size = sphere.sphereSize + 2;
    int centre = sphere.sphereSize >> 1;
    for (int k = 0; k < SPHERE_BITMAPS; ++k) {
        HBITMAP bitmap = CreateCompatibleBitmap(record->dc, size, size);
        if (!bitmap)
            return 0;
        sphere.sphereBitmaps[k] = bitmap;
        HGDIOBJ previous = SelectObject(sphere.memoryDc, bitmap);
        if (!sphere.originalBitmap)
            sphere.originalBitmap = previous;
        PatBlt(sphere.memoryDc, 0, 0, size, size, BLACKNESS);
        DrawSphereImage(sphere.memoryDc, centre, centre, size, 20 * k, sphere.typeBits);
    }
    return 1;
}

void SphereBegin(ModuleRecord* record)
{
    FreeBitmaps();
    RandomizeControls(record);
    EvaluateControls(record);

    // A moving size would need new bitmaps every frame; they are made for the
    // largest size that the range reaches instead.
    int size = record->source[SLOT_SIZE] <= SOURCE_RANDOM ? record->value[SLOT_SIZE]
                                                         : record->rangeHi[SLOT_SIZE];
    sphere.sphereSize = Bounded(size, 1, 250);
    sphere.symmetry = Bounded(record->value[SLOT_SYMMETRY], 1, 128);
    sphere.typeBits = record->value[SLOT_TYPE];
    sphere.durationSeconds = record->value[SLOT_DURATION];
    sphere.xTiles = Bounded(record->value[SLOT_X_TILING], 1, 20);
    sphere.yTiles = Bounded(record->value[SLOT_Y_TILING], 1, 20);
    sphere.tileType = record->value[SLOT_TILE_TYPE];

    sphere.colourFactor = Random() % 8;
    sphere.symmetryAngle = 6.2832f / (float)sphere.symmetry;
    float hw = (float)(record->width >> 1), hh = (float)(record->height >> 1);
    sphere.halfDiagonal = (float)sqrt(hw * hw + hh * hh);
    sphere.restartTime = TickCount() + (DWORD)sphere.durationSeconds * 1000u;

    sphere.wedge = (sphere.typeBits & TYPE_WEDGE) != 0;
    sphere.tileClip = (sphere.typeBits & TYPE_TILE_CLIP) != 0;
    sphere.mirror = (sphere.typeBits & TYPE_MIRROR) != 0;
    sphere.randomSize = (sphere.typeBits & TYPE_RANDOM_SIZE) != 0;
    if (sphere.symmetry < 3)
        sphere.wedge = 0;
    sphere.centreX = record->width >> 1;
    sphere.centreY = record->height >> 1;

    if (CreateBitmaps(record)) {
        sphere.ready = 1;
    } else {
        FreeBitmaps();
        OutputDebugStringA("Could not allocate buffers");
    }
}

// One clipped copy of the chosen bitmap centred at (qx, qy).
void StampSphere(HDC dc, int qx, int qy, int drawSize, HRGN wedge, const RECT* cell)
{
    int k = drawSize >> 1;
    HRGN clip = CreateEllipticRgn(qx - k, qy - k, qx + k, qy + k);
    if (!clip)
        return;
    if (wedge)
        CombineRgn(clip, clip, wedge, RGN_AND);
    SelectClipRgn(dc, clip);
    if (cell)
        IntersectClipRect(dc, cell->left, cell->top, cell->right, cell->bottom);
    RestoreClip();
    int source = sphere.sphereSize / 2 - drawSize / 2;
    BitBlt(dc, qx - drawSize / 2, qy - drawSize / 2, drawSize, drawSize, sphere.memoryDc, source, source,
           SRCCOPY);
    SelectClipRgn(dc, NULL);
    DeleteObject(clip);
}

// --- Stamps copied straight into an 8-bit surface ---------------------------------
//
// A clipped BitBlt per stamp is most of a frame's time: at full symmetry and
// tiling that is over a hundred thousand region set-ups a frame. Between two
// 8-bit DIBs with the same colour table BitBlt copies bytes, so the same
// pixels can be copied directly: the disc-and-wedge region is made once per
// symmetry copy, and each tile's stamp is its rectangles moved by whole
// pixels, cut by the blit square, the tile cell and the surface, and written
// within the clip region every stamp's blit would have (the overlay's shown
// boxes cut out of the whole surface).

enum { REGION_BUFFER = 65536 };

// A hundred thousand stamps a frame make even user32's rectangle calls
// count: the hot path intersects inline.
inline int Intersect(RECT* r, const RECT* a, const RECT* b)
{
    r->left = a->left > b->left ? a->left : b->left;
    r->top = a->top > b->top ? a->top : b->top;
    r->right = a->right < b->right ? a->right : b->right;
    r->bottom = a->bottom < b->bottom ? a->bottom : b->bottom;
    return r->left < r->right && r->top < r->bottom;
}

struct DirectStamps {
    DirectSurface surface;
    DirectSurface image;
};

// Both device contexts hold 8-bit DIBs with one colour table: a BitBlt
// between them would copy bytes unchanged.
int PrepareDirect(HDC dc, DirectStamps* direct)
{
    if (!sphereDirectStamps)
        return 0;
    // The clip every stamp's blit has: the whole surface less the shown boxes.
    SelectClipRgn(dc, NULL);
    RestoreClip();
    if (!OpenDirectSurface(dc, &direct->surface) || !OpenDirectSurface(sphere.memoryDc, &direct->image))
        return 0;
    static RGBQUAD surfaceTable[256], imageTable[256];
    UINT n = GetDIBColorTable(dc, 0, 256, surfaceTable);
    if (n == 0 || GetDIBColorTable(sphere.memoryDc, 0, 256, imageTable) != n ||
        memcmp(surfaceTable, imageTable, n * sizeof(RGBQUAD)) != 0)
        return 0;
    return 1;
}

// The rectangles of a region, in a buffer that lives until the next call
// with the same slot; 0 rectangles when it does not fit.
int RegionRects(HRGN region, int slot, const RECT** rects)
{
    static BYTE buffers[2][REGION_BUFFER];
    RGNDATA* data = (RGNDATA*)buffers[slot];
    DWORD need = GetRegionData(region, 0, NULL);
    if (need == 0 || need > REGION_BUFFER || GetRegionData(region, need, data) != need) {
        *rects = 0;
        return -1;
    }
    *rects = (const RECT*)data->Buffer;
    return (int)data->rdh.nCount;
}

// Stamps clipped to their tile cell never leave it, and every admitted
// cell gets the first cell's very stamps moved by whole cells. So a frame's
// stamps are copied once into a cell-sized buffer, marking the pixels they
// cover, and the covered pixels go into every admitted cell at the end: one
// stamp per copy instead of one per tile.
struct CellComposite {
    BYTE* pixels;       // width x height, row by row
    BYTE* covered;      // 1 where some stamp wrote the pixel
    size_t capacity;
    int width, height;
    int top, bottom;    // rows holding covered pixels, bottom exclusive
};
CellComposite composite;

int ReadyComposite(int width, int height)
{
    size_t need = (size_t)width * (size_t)height;
    if (width < 1 || height < 1)
        return 0;
    if (need > composite.capacity) {
        BYTE* block = (BYTE*)realloc(composite.pixels, 2 * need);
        if (!block)
            return 0;
        composite.pixels = block;
        composite.capacity = need;
    }
    composite.covered = composite.pixels + composite.capacity;
    for (size_t i = 0; i < need; ++i)
        composite.covered[i] = 0;
    composite.width = width;
    composite.height = height;
    composite.top = height;
    composite.bottom = 0;
    return 1;
}

// The stamp of one tile: the template's rectangles moved by (dx, dy), inside
// the blit square at (left, top), the cell when given, and the surface;
// written into the composite instead when one is given (tile-local, the cell
// then being the composite's own).
void DirectStamp(const DirectStamps* direct, const RECT* rects, int count, int dx, int dy, int left, int top,
                 int drawSize, const RECT* cell, CellComposite* into)
{
    int source = sphere.sphereSize / 2 - drawSize / 2;
    RECT square = {left, top, left + drawSize, top + drawSize};
    // Only the image's own pixels can be copied, as the blit reads them.
    RECT image = {left - source, top - source, left - source + direct->image.width,
                  top - source + direct->image.height};
    RECT whole = {0, 0, direct->surface.width, direct->surface.height};
    RECT bound;
    if (!Intersect(&bound, &square, &image) || !Intersect(&bound, &bound, &whole))
        return;
    if (cell && !Intersect(&bound, &bound, cell))
        return;
    int sx = source - left, sy = source - top;
    ++sphereStampsCopied;
    for (int n = 0; n < count; ++n) {
        RECT r = {rects[n].left + dx, rects[n].top + dy, rects[n].right + dx, rects[n].bottom + dy};
        if (!Intersect(&r, &r, &bound))
            continue;
        for (int y = r.top; y < r.bottom; ++y) {
            const BYTE* from = DirectRow(&direct->image, y + sy) + r.left + sx;
            if (!into) {
                CopyDirectSpan(&direct->surface, y, r.left, r.right - 1, from);
                continue;
            }
            BYTE* to = into->pixels + (size_t)y * into->width + r.left;
            BYTE* mark = into->covered + (size_t)y * into->width + r.left;
            for (int x = 0; x < r.right - r.left; ++x) {
                to[x] = from[x];
                mark[x] = 1;
            }
        }
        if (into && r.top < into->top)
            into->top = r.top;
        if (into && r.bottom > into->bottom)
            into->bottom = r.bottom;
    }
}

// The composite's covered pixels copied into every admitted cell, within the
// surface's clip; the composite is left empty.
void FlushComposite(const DirectStamps* direct, int tw, int th)
{
    CellComposite* c = &composite;
    if (c->top >= c->bottom)
        return;
    ++sphereCellsComposed;
    for (int y = c->top; y < c->bottom; ++y) {
        BYTE* mark = c->covered + (size_t)y * c->width;
        const BYTE* row = c->pixels + (size_t)y * c->width;
        for (int x = 0; x < c->width;) {
            if (!mark[x]) {
                ++x;
                continue;
            }
            int start = x;
            while (x < c->width && mark[x])
                mark[x++] = 0;
            for (int j = 0; j < sphere.yTiles; ++j)
                for (int i = 0; i < sphere.xTiles; ++i)
                    if (TileAdmitted(i, j, sphere.tileType))
                        CopyDirectSpan(&direct->surface, y + j * th, start + i * tw, x - 1 + i * tw, row + start);
        }
    }
    c->top = c->height;
    c->bottom = 0;
}

// A region of the disc centred at (qx, qy), cut to the wedge when given.
HRGN StampRegion(int qx, int qy, int drawSize, HRGN wedge)
{
    int k = drawSize >> 1;
    HRGN clip = CreateEllipticRgn(qx - k, qy - k, qx + k, qy + k);
    if (clip && wedge)
        CombineRgn(clip, clip, wedge, RGN_AND);
    return clip;
}

}  // namespace

void DrawSphereImage(HDC dc, int x, int y, int size, int base, int style)
{
    int r = size >> 1;
    int n = r - 1;
    int f = 0;   // bar offset from the centre, two pixels further each ring
    unsigned int colour = base < 0 ? 0u : (unsigned int)base;
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    HGDIOBJ oldBrush = 0;
    HBRUSH brush = 0;
    while (n >= 0) {
        HBRUSH next = CreateSolidBrush(PALETTEINDEX(colour % PALETTE_ENTRIES));
        if (!next)
            break;
        HGDIOBJ previous = SelectObject(dc, next);
        if (!oldBrush)
            oldBrush = previous;
        if (brush)
            DeleteObject(brush);
        brush = next;
        switch (style & (TYPE_SQUARE | TYPE_BARS)) {
        case 0:
            Ellipse(dc, x - n, y - n, x + n, y + n);
            break;
        case TYPE_SQUARE:
            Rectangle(dc, x - n, y - n, x + n, y + n);
            break;
        case TYPE_SQUARE | TYPE_BARS:
            Rectangle(dc, x - r, y + f - n - 1, x + r, y + f - n + 3);
            break;
        default:
            Rectangle(dc, x + f - n - 1, y - r, x + f - n + 3, y + r);
            break;
        }
        n -= 1;
        colour += 1;
        f += 2;
    }
    // Leave the caller's objects selected: the surface is shared by every
    // module.
    if (oldBrush)
        SelectObject(dc, oldBrush);
    if (brush)
        DeleteObject(brush);
    if (oldPen)
        SelectObject(dc, oldPen);
}

int SphereOpen(ModuleRecord* record)
{
    SphereClose(record);
    sphere.memoryDc = CreateCompatibleDC(record->dc);
    sphere.spherePalette = CreateSpherePalette(record->dc);
    if (!sphere.memoryDc || !sphere.spherePalette) {
        OutputDebugStringA("Could not allocate buffers");
        return 0;
    }
    sphere.originalPalette = SelectPalette(sphere.memoryDc, sphere.spherePalette, FALSE);
    RealizePalette(sphere.memoryDc);
    return 0;
}

int SphereStart(ModuleRecord* record)
{
    SphereBegin(record);
    return 0;
}

int SphereFrame(ModuleRecord* record)
{
    HDC dc = record->dc;
    if (sphere.ready) {
        float spin = (float)Random() / 32767.0f * sphere.symmetryAngle;
        float reach = sphere.halfDiagonal / (float)((sphere.xTiles + sphere.yTiles) >> 1);
        float d;
        if (IsLiveSource(SOURCE_VOLUME) == 1)
            d = SoundLevel(SOURCE_VOLUME) * reach + 1.0f;
        else
            d = (float)Random() / 32767.0f * reach;
        // An unscaled sound level may be far above full scale or not finite.
        if (!(d >= 0.0f))
            d = 0.0f;
        if (d > 100000.0f)
            d = 100000.0f;
        float share = reach > 0.0f ? d / reach * 236.0f : 0.0f;
        int colour = (int)share * sphere.colourFactor;
        HBITMAP bitmap = sphere.sphereBitmaps[(colour / 20) % SPHERE_BITMAPS];
        SelectObject(sphere.memoryDc, bitmap);

        if (IsLiveSource(record->source[SLOT_SYMMETRY]) == 1) {
            sphere.symmetry = Bounded(LiveValue(record, SLOT_SYMMETRY), 1, 128);
            sphere.symmetryAngle = 6.2832f / (float)sphere.symmetry;
            if (sphere.symmetry < 3)
                sphere.wedge = 0;
        }
        if (IsLiveSource(record->source[SLOT_X_TILING]) == 1)
            sphere.xTiles = Bounded(LiveValue(record, SLOT_X_TILING), 1, 20);
        if (IsLiveSource(record->source[SLOT_Y_TILING]) == 1)
            sphere.yTiles = Bounded(LiveValue(record, SLOT_Y_TILING), 1, 20);

        int drawSize;
        if (sphere.randomSize)
            drawSize = Random() % sphere.sphereSize;
        else
            drawSize = 2 * sphere.sphereSize / (sphere.yTiles + sphere.xTiles);
        if (drawSize < MIN_DRAW_SIZE)
            drawSize = MIN_DRAW_SIZE;
        if (drawSize > sphere.sphereSize)
            drawSize = sphere.sphereSize;

        int tw = record->width / sphere.xTiles, th = record->height / sphere.yTiles;
        int tcx = sphere.centreX / sphere.xTiles, tcy = sphere.centreY / sphere.yTiles;
        float angle = sphere.symmetryAngle;
        DirectStamps direct;
        GdiFlush();
        int useDirect = PrepareDirect(dc, &direct);
        int stampedDirect = 0;
        int admitted = 0;
        for (int j = 0; j < sphere.yTiles; ++j)
            for (int i = 0; i < sphere.xTiles; ++i)
                admitted += TileAdmitted(i, j, sphere.tileType);
        int composing = useDirect && sphere.tileClip && sphereCellComposite && admitted > 1 && ReadyComposite(tw, th);
        RECT firstCell = {0, 0, tw, th};
        for (int s = 0; s < sphere.symmetry && !FrameBudgetSpent(); ++s) {
            spin = angle - spin;   // the phase alternates between two values
            float a = (float)s * angle;
            // Every tile's wedge is the first tile's moved by whole pixels:
            // one region per copy, moved from tile to tile.
            HRGN wedge = 0;
            int wedgeX = tcx, wedgeY = tcy;
            if (sphere.wedge) {
                POINT triangle[3];
                triangle[0].x = tcx;
                triangle[0].y = tcy;
                triangle[1].x = tcx + (int)(sin(a) * reach);
                triangle[1].y = tcy + (int)(cos(a) * reach);
                triangle[2].x = tcx + (int)(sin(a + angle) * reach);
                triangle[2].y = tcy + (int)(cos(a + angle) * reach);
                wedge = CreatePolygonRgn(triangle, 3, WINDING);
            }
            // The stamp's offsets from its tile centre are the same in every
            // tile.
            int ox = (int)(sin(a + spin) * d), oy = (int)(cos(a + spin) * d);
            float m = a + (angle - spin);
            int mx = (int)(d * sin(m)), my = (int)(cos(m) * d);
            const RECT* stampRects = 0;
            const RECT* mirrorRects = 0;
            int stampCount = -1, mirrorCount = -1;
            if (useDirect) {
                HRGN stamp = StampRegion(tcx + ox, tcy + oy, drawSize, wedge);
                if (stamp) {
                    stampCount = RegionRects(stamp, 0, &stampRects);
                    DeleteObject(stamp);
                }
                if (sphere.mirror) {
                    HRGN mirror = StampRegion(tcx + mx, tcy + my, drawSize, wedge);
                    if (mirror) {
                        mirrorCount = RegionRects(mirror, 1, &mirrorRects);
                        DeleteObject(mirror);
                    }
                }
            }
            int directCopy = useDirect && stampCount >= 0 && (!sphere.mirror || mirrorCount >= 0);
            if (composing && directCopy) {
                stampedDirect = 1;
                DirectStamp(&direct, stampRects, stampCount, 0, 0, tcx + ox - drawSize / 2, tcy + oy - drawSize / 2,
                            drawSize, &firstCell, &composite);
                if (sphere.mirror)
                    DirectStamp(&direct, mirrorRects, mirrorCount, 0, 0, tcx + mx - drawSize / 2,
                                tcy + my - drawSize / 2, drawSize, &firstCell, &composite);
                if (wedge)
                    DeleteObject(wedge);
                continue;
            }
            // The composed stamps land before any drawn another way.
            if (composing)
                FlushComposite(&direct, tw, th);
            for (int j = 0; j < sphere.yTiles; ++j) {
                for (int i = 0; i < sphere.xTiles; ++i) {
                    if (!TileAdmitted(i, j, sphere.tileType))
                        continue;
                    int px = tcx + i * tw, py = tcy + j * th;
                    RECT cell = {i * tw, j * th, (i + 1) * tw, (j + 1) * th};
                    const RECT* clipCell = sphere.tileClip ? &cell : 0;
                    int qx = px + ox;
                    int qy = py + oy;
                    if (directCopy) {
                        stampedDirect = 1;
                        DirectStamp(&direct, stampRects, stampCount, px - tcx, py - tcy, qx - drawSize / 2,
                                    qy - drawSize / 2, drawSize, clipCell, 0);
                        if (sphere.mirror)
                            DirectStamp(&direct, mirrorRects, mirrorCount, px - tcx, py - tcy,
                                        px + mx - drawSize / 2, py + my - drawSize / 2, drawSize, clipCell, 0);
                        continue;
                    }
                    if (wedge) {
                        OffsetRgn(wedge, px - wedgeX, py - wedgeY);
                        wedgeX = px;
                        wedgeY = py;
                    }
                    StampSphere(dc, qx, qy, drawSize, wedge, clipCell);
                    if (sphere.mirror)
                        StampSphere(dc, px + mx, py + my, drawSize, wedge, clipCell);
                }
            }
            if (wedge)
                DeleteObject(wedge);
            // GDI stamps must land before the next direct ones.
            if (useDirect && !directCopy)
                GdiFlush();
        }
        if (composing)
            FlushComposite(&direct, tw, th);
        // A clipped blit leaves the surface unclipped; so does the copy.
        if (stampedDirect)
            SelectClipRgn(dc, NULL);
    }
    if (TickPassed(TickCount(), sphere.restartTime))
        SphereBegin(record);
    RestoreClip();
    return 0;
}

int SphereClose(ModuleRecord*)
{
    FreeBitmaps();
    if (sphere.memoryDc) {
        if (sphere.originalPalette)
            SelectPalette(sphere.memoryDc, sphere.originalPalette, FALSE);
        DeleteDC(sphere.memoryDc);
    }
    if (sphere.spherePalette)
        DeleteObject(sphere.spherePalette);
    sphere.memoryDc = 0;
    sphere.spherePalette = 0;
    sphere.originalPalette = 0;
    return 0;
}
