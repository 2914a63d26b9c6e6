// The Pattern module: interference patterns from sums of waves, painted as
// rectangular rings from the outer edge inwards, three a frame.
#include "modules/modules.h"
#include "modules/generators.h"
#include "graphics/surface.h"
#include "runtime/common.h"
#include "runtime/controls.h"
#include <string.h>

enum {
    SLOT_WAVES = 0, SLOT_TURBULENCE = 1, SLOT_TYPE = 2, SLOT_DURATION = 3, SLOT_TURBULENCE_TYPE = 4,
    SLOT_DENSITY = 5, SLOT_WAVE_TYPE = 6, SLOT_FOLDING = 7, SLOT_X_TILING = 10, SLOT_Y_TILING = 11,
    SLOT_TILE_TYPE = 12
};
enum { RINGS_PER_FRAME = 3 };

static PatternState patternState;
// Set while all five blocks are allocated: nothing is painted otherwise.
static bool patternReady;

// Distortion strength per turbulence kind.
static const float turbulenceScale[TURBULENCE_KINDS] = {1100000.125f, 30000.0f, 50000.0f, 1100000.0f, 30000.0f};

const PatternState* CurrentPatternState(void)
{
    return &patternState;
}

static void FreePatternBlocks(void)
{
    PatternState* st = &patternState;
    FreeBlock(st->columnProfile);
    FreeBlock(st->rowProfile);
    FreeBlock(st->lineBuffer);
    FreeBlock(st->header);
    FreeBlock(st->waveTable);
    FreeBlock(st->columnWaves);
    FreeBlock(st->rowWaves);
    st->columnWaves = 0;
    st->rowWaves = 0;
    st->cachedWaves = 0;
    st->columnProfile = 0;
    st->rowProfile = 0;
    st->lineBuffer = 0;
    st->header = 0;
    st->waveTable = 0;
    patternReady = false;
}

static int TileCount(int value)
{
    return value < 1 ? 1 : value;
}

int PatternOpen(ModuleRecord* record)
{
    PatternState* st = &patternState;
    FreePatternBlocks();
    int w = record->width;
    int h = record->height;
    st->width = w;
    st->height = h;
    st->maxX = w - 1;
    st->maxY = h - 1;
    if (w > 0 && h > 0) {
        unsigned long long line = (unsigned long long)(w > h ? w : h) + 1;
        st->columnProfile = (int*)AllocateBlock(((unsigned long long)w + 1) * 4);
        st->rowProfile = (int*)AllocateBlock(((unsigned long long)h + 1) * 4);
        st->lineBuffer = (BYTE*)AllocateBlock(line * 4);
        st->header = (BITMAPINFOHEADER*)AllocateBlock(DIB_HEADER_BYTES);
        st->waveTable = (int*)AllocateBlock(WAVE_TABLE_SIZE * sizeof(int));
    }
    if (!st->columnProfile || !st->rowProfile || !st->lineBuffer || !st->header || !st->waveTable) {
        OutputDebugStringA("Could not allocate buffers");
        return 0;
    }
    FillPaletteHeader(st->header, w);
    st->holdUntil = TickCount();
    patternReady = true;
    // Speed-up only: without it the generators read the wave table directly.
    st->columnWaves = (int*)AllocateBlock(((unsigned long long)w + 1) * WAVE_COUNT * sizeof(int));
    st->rowWaves = (int*)AllocateBlock(((unsigned long long)h + 1) * WAVE_COUNT * sizeof(int));
    return 0;
}

int PatternClose(ModuleRecord*)
{
    FreePatternBlocks();
    return 0;
}

// One profile: the mean of the chosen waves at every coordinate, signed
// for the generators that take absolute values of sums themselves.
static void FillProfile(PatternState* st, int* profile, int last, int offset, const float* freq)
{
    bool signedSums = st->type >= 3 && st->type <= 8;
    int waves = st->waves < 1 ? 1 : (st->waves > WAVE_COUNT ? WAVE_COUNT : st->waves);
    for (int i = 0; i <= last; ++i) {
        int sum = 0;
        for (int k = 0; k < waves; ++k) {
            int v = st->waveTable[(int)((float)(offset + i) / freq[k]) & (WAVE_TABLE_SIZE - 1)];
            sum += signedSums || v >= 0 ? v : -v;
        }
        profile[i] = (int)((float)sum / (float)waves);
    }
}

int PatternStart(ModuleRecord* record)
{
    PatternState* st = &patternState;
    RandomizeControls(record);
    EvaluateControls(record);

    st->waves = record->value[SLOT_WAVES];
    st->turbulence = (float)record->value[SLOT_TURBULENCE] * 0.01f;
    st->type = record->value[SLOT_TYPE];
    st->holdMs = record->value[SLOT_DURATION] * 1000;
    st->turbulenceType = record->value[SLOT_TURBULENCE_TYPE];
    st->waveType = record->value[SLOT_WAVE_TYPE];
    st->fold = record->value[SLOT_FOLDING] * 2;
    st->xTiles = record->value[SLOT_X_TILING];
    st->yTiles = record->value[SLOT_Y_TILING];
    st->tileType = record->value[SLOT_TILE_TYPE];

    if (st->waves < 1)
        st->waves = 1;
    if (st->waves > WAVE_COUNT)
        st->waves = WAVE_COUNT;
    if (st->type > 20) {
        st->waves = 1 + Random() % st->waves;
        st->type = Random() % GENERATOR_COUNT;
    }
    if (st->type < 0)
        st->type = 0;
    st->generator = patternGenerators[st->type];

    st->ringRect.left = 0;
    st->ringRect.top = 0;
    st->ringRect.right = st->maxX;
    st->ringRect.bottom = st->maxY;
    SetStretchBltMode(record->dc, COLORONCOLOR);

    st->columnOffset = Random() % 236;
    st->rowOffset = Random() % 236;
    st->xScale = (float)Random() / 32767.0f + 0.05f;
    st->yScale = (float)Random() / 32767.0f + 0.05f;

    st->turbulenceOn = st->turbulence > 0.009f;
    if (st->turbulence > 0.99f) {
        st->turbulenceOn = Random() % 3 == 0;
        st->turbulence = (float)Random() / 32767.0f;
    }
    if (st->turbulenceType > 4)
        st->turbulenceType = Random() % TURBULENCE_KINDS;
    if (st->turbulenceType < 0)
        st->turbulenceType = 0;
    st->turbulence = (1.0f - st->turbulence) * turbulenceScale[st->turbulenceType];

    st->bandSize = Random() % 12000 + 1;
    st->xorDivisor = Random() % 12 + 1;
    st->bandSize += 2048;
    st->sumShift = 6 + Random() % 2;

    if (st->waveType <= 0 || st->waveType > 6)
        st->waveType = 1 + Random() % 6;
    float e = 0.02f;
    if (patternReady)
        e = FillWaveTable(st->waveTable, st->waveType);

    for (int k = 0; k < WAVE_COUNT; ++k) {
        RandomizeControls(record);
        st->columnFreq[k] = (float)record->value[SLOT_DENSITY] * 0.01f + 0.1f * (float)Random() / 32767.0f + e;
        RandomizeControls(record);
        st->rowFreq[k] = (float)record->value[SLOT_DENSITY] * 0.008f + 0.8f * (float)Random() / 32767.0f + e;
    }

    if (patternReady) {
        FillProfile(st, st->rowProfile, st->maxY, st->rowOffset, st->rowFreq);
        FillProfile(st, st->columnProfile, st->maxX, st->columnOffset, st->columnFreq);
        CacheWaves(st);
    }
    return 0;
}

static int PatternValue(void* context, int x, int y)
{
    PatternState* st = (PatternState*)context;
    return st->generator(st, x, y);
}

int PatternFrame(ModuleRecord* record)
{
    PatternState* st = &patternState;
    if (!patternReady)
        return 0;
    if (TickCount() < st->holdUntil)
        return ENTRY_WAIT;

    FollowLive(record, SLOT_X_TILING, &st->xTiles);
    FollowLive(record, SLOT_Y_TILING, &st->yTiles);
    FollowLive(record, SLOT_FOLDING, &st->fold);
    int xTiles = TileCount(st->xTiles);
    int yTiles = TileCount(st->yTiles);

    int tw = st->width / xTiles;
    int th = st->height / yTiles;
    RECT ring = {st->ringRect.left / xTiles, st->ringRect.top / yTiles, st->ringRect.right / xTiles,
                 st->ringRect.bottom / yTiles};
    RECT unshifted = ring;
    if (!TileAdmitted(0, 0, st->tileType)) {
        if (xTiles > 1) {
            ring.left += tw;
            ring.right += tw;
        } else if (yTiles > 1) {
            ring.top += th;
            ring.bottom += th;
        } else {
            ring.left = ring.right + 1;
        }
    }

    st->ringRect.left += RINGS_PER_FRAME * xTiles;
    st->ringRect.right -= RINGS_PER_FRAME * xTiles;
    st->ringRect.top += RINGS_PER_FRAME * yTiles;
    st->ringRect.bottom -= RINGS_PER_FRAME * yTiles;

    RingCanvas canvas = {record->dc, st->header, st->lineBuffer, st->width, st->height};
    for (int n = 0; n < RINGS_PER_FRAME; ++n) {
        if (ring.right < ring.left || ring.bottom < ring.top) {
            st->holdUntil = TickCount() + (DWORD)st->holdMs;
            PatternStart(record);
            return 0;
        }
        PaintRing(&canvas, &ring, st->fold, PatternValue, st, 0);
        if (xTiles + yTiles > 2)
            RingTiledCopy(record->dc, xTiles, yTiles, tw, th, st->tileType, ring.right - ring.left + 1,
                          ring.bottom - ring.top + 1, &ring, &unshifted);
        InflateRect(&ring, -1, -1);
        InflateRect(&unshifted, -1, -1);
    }
    return 0;
}
