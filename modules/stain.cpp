// The Stain module: colours from the distances to a few random nodes,
// painted as rectangular rings growing outward from a centre line, four a
// frame.
#include "modules/modules.h"
#include "modules/generators.h"
#include "graphics/surface.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include <math.h>
#include <string.h>

enum {
    SLOT_NODES = 0, SLOT_FOLDING = 1, SLOT_TYPE = 2, SLOT_DURATION = 3, SLOT_X_TILING = 10,
    SLOT_Y_TILING = 11, SLOT_TILE_TYPE = 12
};
enum { RINGS_PER_FRAME = 4 };

static StainState stainState;
static bool stainReady;
static int stainWidth, stainHeight;

const StainState* CurrentStainState(void)
{
    return &stainState;
}

// --- Pixel functions -------------------------------------------------------------
// Sums and products wrap in 32 bits, as the pictures were designed with.

static inline int WrapAdd(int a, int b)
{
    return (int)((unsigned)a + (unsigned)b);
}

static inline int WrapMul(int a, int b)
{
    return (int)((unsigned)a * (unsigned)b);
}

static inline int WrapDiv(int a, int b)
{
    if (b == 0)
        return 0;
    if (b == -1)
        return (int)(0u - (unsigned)a);
    return a / b;
}

static inline int PixelIndex(int v)
{
    int r = v % 236;
    return r < 0 ? r + 236 : r;
}

static inline int Distance2(const StainState* st, int x, int y, int k)
{
    return WrapAdd(st->columnDistances[x * STAIN_GROUP + k], st->rowDistances[y * STAIN_GROUP + k]);
}

static inline int Quantised(const StainState* st, int x, int y, int k)
{
    int d2 = Distance2(st, x, y, k);
    double d = d2 > 0 ? sqrt((double)d2) : 0.0;
    return (int)(d / st->diagonal * 236.0);
}

static int Function0(StainState* st, int x, int y)
{
    int v = 0;
    for (int k = 0; k < st->nodeCount; ++k)
        v ^= Quantised(st, x, y, k);
    return PixelIndex(v);
}

static int Function1(StainState* st, int x, int y)
{
    int s = 0, t = 0;
    for (int k = 0; k < st->nodeCount; ++k) {
        int d2 = Distance2(st, x, y, k);
        s = WrapAdd(s, WrapMul(d2, st->nodes[k].colour));
        t = WrapAdd(t, d2);
    }
    if ((unsigned)t < 4)
        return 0;
    return PixelIndex(WrapDiv(s, t >> 2));
}

static int Function2(StainState* st, int x, int y)
{
    int v = 0;
    for (int k = 0; k < st->nodeCount; ++k)
        v = WrapAdd(v, Quantised(st, x, y, k));
    return PixelIndex(v);
}

static int Function3(StainState* st, int x, int y)
{
    int a = PixelIndex((int)floor((double)((float)x * st->xScale)));
    int b = PixelIndex((int)floor((double)((float)y * st->yScale)));
    return PixelIndex(a ^ b);
}

static int Function4(StainState* st, int x, int y)
{
    int v = 0;
    for (int k = 0; k < st->nodeCount; ++k)
        v |= Quantised(st, x, y, k);
    return PixelIndex(v);
}

static int Function5(StainState* st, int x, int y)
{
    int gx = 0, gy = 0;
    for (int k = 0; k < st->nodeCount; ++k) {
        int d2 = Distance2(st, x, y, k);
        if (d2 == 0)
            return 0;
        int dx = x - st->nodes[k].x;
        int dy = y - st->nodes[k].y;
        int c = st->nodes[k].colour;
        gx = WrapAdd(gx, WrapDiv(WrapMul(WrapMul(WrapMul(WrapMul(c, dx), dx), dy), -16), d2));
        gy = WrapAdd(gy, WrapDiv(WrapMul(WrapMul(WrapMul(WrapMul(c, dx), dy), dy), -16), d2));
    }
    double ax = (double)(gx >> 4);
    double ay = (double)(gy >> 4);
    return PixelIndex((int)sqrt(ax * ax + ay * ay) >> 7);
}

static int Function6(StainState* st, int x, int y)
{
    return ((x + y) & 1) ? Function2(st, x, y) : Function1(st, x, y);
}

static int Mix(StainState* st, int x, int y)
{
    return Function1(st, x, y) / 20 % 3;
}

static int Function7(StainState* st, int x, int y)
{
    switch (Mix(st, x, y)) {
    case 0: return Function0(st, x, y);
    case 1: return Function1(st, x, y);
    default: return Function4(st, x, y);
    }
}

static int Function8(StainState* st, int x, int y)
{
    switch (Mix(st, x, y)) {
    case 0: return Function0(st, x, y);
    case 1: return Function0(st, st->maxX - x, y);
    default: return Function0(st, x, st->maxY - y);
    }
}

static int Function9(StainState* st, int x, int y)
{
    switch (Mix(st, x, y)) {
    case 0: return Function1(st, st->maxX - x, y);
    case 1: return Function1(st, x, st->maxY - y);
    default: return Function1(st, st->maxX - x, st->maxY - y);
    }
}

const StainFunction stainFunctions[STAIN_FUNCTIONS] = {
    Function0, Function1, Function2, Function3, Function4, Function5, Function6, Function7,
    Function8, Function9
};

// --- Entries -------------------------------------------------------------------------

static void FreeStainBlocks(void)
{
    StainState* st = &stainState;
    FreeBlock(st->columnDistances);
    FreeBlock(st->rowDistances);
    FreeBlock(st->lineBuffer);
    FreeBlock(st->header);
    st->columnDistances = 0;
    st->rowDistances = 0;
    st->lineBuffer = 0;
    st->header = 0;
    stainReady = false;
}

int StainOpen(ModuleRecord* record)
{
    StainState* st = &stainState;
    FreeStainBlocks();
    int w = record->width;
    int h = record->height;
    stainWidth = w;
    stainHeight = h;
    st->maxX = w - 1;
    st->maxY = h - 1;
    if (w > 0 && h > 0) {
        int longest = st->maxX > st->maxY ? st->maxX : st->maxY;
        st->columnDistances = (int*)AllocateBlock((unsigned long long)w * 20 + 40);
        st->rowDistances = (int*)AllocateBlock((unsigned long long)h * 20 + 40);
        st->lineBuffer = (BYTE*)AllocateBlock((unsigned long long)longest * 4 + 16);
        st->header = (BITMAPINFOHEADER*)AllocateBlock(DIB_HEADER_BYTES);
    }
    if (!st->columnDistances || !st->rowDistances || !st->lineBuffer || !st->header) {
        OutputDebugStringA("Could not allocate buffers");
        return 0;
    }
    FillPaletteHeader(st->header, w);
    st->holdUntil = TickCount();
    stainReady = true;
    return 0;
}

int StainClose(ModuleRecord*)
{
    FreeStainBlocks();
    return 0;
}

// R mod span for node positions; a surface too small for the margins puts
// every node on the margin itself.
static int NodeDraw(int span)
{
    int r = Random();
    return span > 0 ? r % span : 0;
}

int StainStart(ModuleRecord* record)
{
    StainState* st = &stainState;
    RandomizeControls(record);
    EvaluateControls(record);

    st->nodeCount = record->value[SLOT_NODES];
    st->fold = record->value[SLOT_FOLDING] * 2;
    st->type = record->value[SLOT_TYPE];
    st->holdMs = record->value[SLOT_DURATION] * 1000;
    st->xTiles = record->value[SLOT_X_TILING];
    st->yTiles = record->value[SLOT_Y_TILING];
    st->tileType = record->value[SLOT_TILE_TYPE];

    if (st->nodeCount < 2)
        st->nodeCount = 2;
    if (st->nodeCount > STAIN_MAX_NODES)
        st->nodeCount = STAIN_MAX_NODES;
    if (st->type > 9) {
        st->nodeCount = Random() % (st->nodeCount - 1) + 2;
        st->type = Random() % STAIN_FUNCTIONS;
    }
    if (st->type < 0)
        st->type = 0;
    st->generator = stainFunctions[st->type];
    st->ringCount = 0;
    SetStretchBltMode(record->dc, COLORONCOLOR);

    float spread = 4.0f * (float)st->nodeCount * 0.02f;
    st->xScale = (float)Random() / 32767.0f * spread;
    st->yScale = (float)Random() / 32767.0f * spread;

    st->diagonal = (int)sqrt((double)st->maxX * st->maxX + (double)st->maxY * st->maxY);
    if (st->diagonal < 1)
        st->diagonal = 1;

    for (int k = 0; k < st->nodeCount; ++k) {
        StainNode* node = &st->nodes[k];
        node->x = NodeDraw(st->maxX - 8) + 4;
        node->y = NodeDraw(st->maxY - 8) + 4;
        node->colour = (k & 1) ? Random() % 59 : 235 - Random() % 59;
    }

    if (stainReady) {
        for (int y = 0; y < stainHeight; ++y)
            for (int k = 0; k < st->nodeCount; ++k)
                st->rowDistances[y * STAIN_GROUP + k] = (int)pow((double)(y - st->nodes[k].y), 2.0);
        for (int x = 0; x < stainWidth; ++x)
            for (int k = 0; k < st->nodeCount; ++k)
                st->columnDistances[x * STAIN_GROUP + k] = (int)pow((double)(x - st->nodes[k].x), 2.0);
    }
    return 0;
}

static int StainValue(void* context, int x, int y)
{
    StainState* st = (StainState*)context;
    return st->generator(st, x, y);
}

int StainFrame(ModuleRecord* record)
{
    StainState* st = &stainState;
    if (!stainReady)
        return 0;
    if (TickCount() < st->holdUntil)
        return ENTRY_WAIT;

    FollowLive(record, SLOT_X_TILING, &st->xTiles);
    FollowLive(record, SLOT_Y_TILING, &st->yTiles);
    FollowLive(record, SLOT_FOLDING, &st->fold);
    int xTiles = st->xTiles < 1 ? 1 : st->xTiles;
    int yTiles = st->yTiles < 1 ? 1 : st->yTiles;

    int cx = st->maxX / xTiles;
    int cy = st->maxY / yTiles;
    RECT ring;
    if (cy < cx) {
        ring.left = cy >> 1;
        ring.top = cy >> 1;
        ring.right = cx - (cy >> 1);
        ring.bottom = cy >> 1;
    } else {
        ring.left = cx >> 1;
        ring.top = cx >> 1;
        ring.right = cx >> 1;
        ring.bottom = cy - (cx >> 1);
    }
    int n = st->ringCount;
    ring.left -= n;
    ring.top -= n;
    ring.right += n;
    ring.bottom += n;
    RECT unshifted = ring;
    if (!TileAdmitted(0, 0, st->tileType)) {
        if (xTiles >= 2) {
            ring.left += cx;
            ring.right += cx;
        } else if (yTiles < 2) {
            unshifted.left = -1;
        } else {
            ring.top += cy;
            ring.bottom += cy;
        }
    }

    RingCanvas canvas = {record->dc, st->header, st->lineBuffer, stainWidth, stainHeight};
    for (int painted = 0; painted < RINGS_PER_FRAME; ++painted) {
        if (unshifted.left < 0 || unshifted.top < 0) {
            st->holdUntil = TickCount() + (DWORD)st->holdMs;
            StainStart(record);
            return 0;
        }
        PaintRing(&canvas, &ring, st->fold, StainValue, st, 1);
        if (xTiles + yTiles > 2)
            RingTiledCopy(record->dc, xTiles, yTiles, cx, cy, st->tileType, ring.right - ring.left + 1,
                          ring.bottom - ring.top + 1, &ring, &unshifted);
        InflateRect(&ring, 1, 1);
        InflateRect(&unshifted, 1, 1);
        st->ringCount += 1;
    }
    return 0;
}
