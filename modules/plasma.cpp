// The Plasma module: a random plasma cloud computed by midpoint subdivision,
// shown progressively, held, then replaced. The palette engine keeps the
// finished cloud flowing.
#include "modules/modules.h"
#include "modules/generators.h"
#include "graphics/surface.h"
#include "runtime/common.h"

enum {
    SLOT_ROUGHNESS = 0, SLOT_UPDATE_INTERVAL = 1, SLOT_SYMMETRY = 2, SLOT_DURATION = 3,
    SLOT_X_TILING = 10, SLOT_Y_TILING = 11, SLOT_TILE_TYPE = 12
};
enum {
    PLASMA_STACK = 49,
    RECTS_PER_FRAME = 512,
    PROGRESS_START = 32,
    PROGRESS_STEP = 30,
    PLASMA_HEADER_BYTES = 1064
};

struct PlasmaRect {
    int x1, y1, x2, y2;
};

struct PlasmaState {
    int tileWidth, tileHeight;
    int maxX, maxY;
    int stride;
    unsigned pixelBytes;
    BYTE* pixels;
    BITMAPINFOHEADER* header;
    PlasmaRect stack[PLASMA_STACK];
    int stackCount;
    float roughness;
    int updateIntervalMs;
    int holdMs;
    int symmetryMode;
    int xTiles, yTiles, tileType;
    int shownProgress;
    DWORD nextRedrawTime;
    bool holding;
    DWORD holdUntil;
};

static PlasmaState plasmaState = {0, 0, 0, 0, 0, 0, 0, 0, {{0, 0, 0, 0}}, 0, 0.0f, 0, 0, 0, 0, 0, 0,
                                  PROGRESS_START, 0, false, 0};

static void FreePlasmaBuffers(void)
{
    PlasmaState* st = &plasmaState;
    FreeBlock(st->header);
    FreeBlock(st->pixels);
    st->header = 0;
    st->pixels = 0;
    st->stackCount = 0;
}

static int AllocatePlasmaBuffers(ModuleRecord* record)
{
    PlasmaState* st = &plasmaState;
    int xTiles = st->xTiles < 1 ? 1 : st->xTiles;
    int yTiles = st->yTiles < 1 ? 1 : st->yTiles;
    st->tileWidth = record->width / xTiles;
    st->tileHeight = record->height / yTiles;
    st->maxX = st->tileWidth - 1;
    st->maxY = st->tileHeight - 1;
    st->stride = (st->tileWidth + 3) & ~3;
    unsigned long long bytes = (unsigned long long)(st->tileHeight > 0 ? st->tileHeight : 0) *
                               (unsigned long long)(st->stride > 0 ? st->stride : 0);
    st->pixelBytes = bytes <= 0x7FFFFFFFull ? (unsigned)bytes : 0;
    if (st->tileWidth > 0 && st->tileHeight > 0) {
        st->pixels = (BYTE*)AllocateBlock(st->pixelBytes);
        if (st->pixels)
            st->header = (BITMAPINFOHEADER*)AllocateBlock(PLASMA_HEADER_BYTES);
    }
    if (!st->pixels || !st->header) {
        FreePlasmaBuffers();
        OutputDebugStringA("Could not allocate buffers");
        return 0;
    }
    BITMAPINFOHEADER* h = st->header;
    h->biSize = sizeof(BITMAPINFOHEADER);
    h->biWidth = st->tileWidth;
    h->biHeight = st->tileHeight;
    h->biPlanes = 1;
    h->biBitCount = 8;
    h->biCompression = BI_RGB;
    h->biClrUsed = 236;
    WORD* indices = (WORD*)(h + 1);
    for (int i = 0; i < 236; ++i)
        indices[i] = (WORD)i;
    return 1;
}

static inline BYTE* Pixel(int x, int y)
{
    return plasmaState.pixels + x + y * plasmaState.stride;
}

static void Push(int x1, int y1, int x2, int y2)
{
    PlasmaState* st = &plasmaState;
    if (st->stackCount >= PLASMA_STACK)
        return;
    PlasmaRect* r = &st->stack[st->stackCount++];
    r->x1 = x1;
    r->y1 = y1;
    r->x2 = x2;
    r->y2 = y2;
}

int PlasmaStart(ModuleRecord* record)
{
    PlasmaState* st = &plasmaState;
    RandomizeControls(record);
    EvaluateControls(record);

    int roughness = record->value[SLOT_ROUGHNESS];
    if (roughness == 100)
        roughness = 20 + Random() % 60;
    st->roughness = (float)roughness * 0.05f;
    st->updateIntervalMs = record->value[SLOT_UPDATE_INTERVAL] * 1000;
    st->symmetryMode = record->value[SLOT_SYMMETRY];
    st->holdMs = record->value[SLOT_DURATION] * 1000;
    st->xTiles = record->value[SLOT_X_TILING];
    st->yTiles = record->value[SLOT_Y_TILING];
    st->tileType = record->value[SLOT_TILE_TYPE];

    // A second start without a stop must not leak the previous picture.
    FreePlasmaBuffers();
    st->holding = false;
    if (!AllocatePlasmaBuffers(record))
        return 0;
    SetStretchBltMode(record->dc, COLORONCOLOR);

    st->shownProgress = PROGRESS_START;
    st->stackCount = 0;
    Push(0, 0, st->maxX, st->maxY);

    *Pixel(0, 0) = (BYTE)(Random() % 236);
    *Pixel(0, st->maxY) = (BYTE)(Random() % 236);
    *Pixel(st->maxX, 0) = (BYTE)(Random() % 236);
    *Pixel(st->maxX, st->maxY) = (BYTE)(Random() % 236);
    return 0;
}

static void Midpoint(int ax, int ay, int bx, int by, int tx, int ty)
{
    BYTE* target = Pixel(tx, ty);
    if (*target)
        return;
    int dy = ay - by, dx = ax - bx;
    float d = (float)((dy < 0 ? -dy : dy) + (dx < 0 ? -dx : dx));
    int mean = (*Pixel(ax, ay) + *Pixel(bx, by)) >> 1;
    float v = ((float)Random() / 32767.0f - 0.5f) * d * plasmaState.roughness + (float)mean;
    int value = (int)v;
    if (value < 0)
        value = 5;
    else if (value > 235)
        value = 231;
    *target = (BYTE)value;
}

static void Subdivide(const PlasmaRect* r)
{
    int x1 = r->x1, y1 = r->y1, x2 = r->x2, y2 = r->y2;
    if (x2 - x1 <= 1 && y2 - y1 <= 1)
        return;
    int mx = (x1 + x2) >> 1;
    int my = (y1 + y2) >> 1;
    Midpoint(x1, y1, x2, y1, mx, y1);
    Midpoint(x2, y1, x2, y2, x2, my);
    Midpoint(x1, y2, x2, y2, mx, y2);
    Midpoint(x1, y1, x1, y2, x1, my);
    *Pixel(mx, my) = (BYTE)((*Pixel(x1, y2) + *Pixel(x2, y2) + *Pixel(x2, y1) + *Pixel(x1, y1)) >> 2);
    Push(mx, y1, x2, my);
    Push(x1, y1, mx, my);
    Push(mx, my, x2, y2);
    Push(x1, my, mx, y2);
}

// Size of the finished square at the top-left picture corner, walked along
// the anti-diagonal; the walk stays inside the tile on portrait tiles.
static int Progress(void)
{
    PlasmaState* st = &plasmaState;
    int last = st->maxX < st->maxY ? st->maxX : st->maxY;
    for (int i = 0; i <= last; ++i)
        if (*Pixel(i, st->maxY - i) == 0)
            return i;
    return last;
}

int PlasmaFrame(ModuleRecord* record)
{
    PlasmaState* st = &plasmaState;
    if (st->holding) {
        if (TickPassed(TickCount(), st->holdUntil))
            st->holding = false;
        if (st->holding)
            return 0;
    }
    if (!st->pixels || !st->header)
        return 0;

    for (int n = 0; n < RECTS_PER_FRAME; ++n) {
        if (st->stackCount <= 0)
            break;
        PlasmaRect r = st->stack[--st->stackCount];
        Subdivide(&r);
    }

    int p = Progress();
    bool finished = st->stackCount == 0;
    if (p <= st->shownProgress + PROGRESS_STEP && !finished)
        return 0;
    if (!TickPassed(TickCount(), st->nextRedrawTime))
        return 0;

    int sourceWidth, sourceHeight;
    if (!finished) {
        sourceWidth = p < st->tileWidth ? p : st->tileWidth;
        sourceHeight = p < st->tileHeight ? p : st->tileHeight;
    } else {
        ApplySymmetry(st->pixels, st->maxX, st->maxY, st->symmetryMode);
        sourceWidth = st->tileWidth;
        sourceHeight = st->tileHeight;
    }

    // The picture's top-left corner: bitmap rows are counted from the bottom.
    // Tile type 1 paints the second tile column mirrored, its right edge
    // first, as the tiled copy mirrors odd columns.
    int destX = 0, destWidth = st->tileWidth;
    if (st->tileType == 1) {
        destX = 2 * st->tileWidth - 1;
        destWidth = -st->tileWidth;
    }
    StretchDIBits(record->dc, destX, 0, destWidth, st->tileHeight, 0, st->tileHeight - sourceHeight, sourceWidth,
                  sourceHeight, st->pixels, (const BITMAPINFO*)st->header, DIB_PAL_COLORS, SRCCOPY);
    int xTiles = st->xTiles < 1 ? 1 : st->xTiles;
    int yTiles = st->yTiles < 1 ? 1 : st->yTiles;
    if (xTiles + yTiles > 2)
        TiledCopy(record->dc, xTiles, yTiles, st->tileWidth, st->tileHeight, st->tileType);
    st->shownProgress = p;

    if (finished) {
        PlasmaStart(record);
        st->holding = true;
        st->holdUntil = TickCount() + (DWORD)st->holdMs;
    } else {
        st->nextRedrawTime = TickCount() + (DWORD)st->updateIntervalMs;
    }
    return 0;
}

int PlasmaClose(ModuleRecord*)
{
    PlasmaState* st = &plasmaState;
    FreePlasmaBuffers();
    st->shownProgress = PROGRESS_START;
    st->nextRedrawTime = 0;
    st->holding = false;
    return 0;
}
