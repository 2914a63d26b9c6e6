// The pixel generators, turbulence kinds and wave-table shapes of the
// Pattern module, and the ring painting that Pattern and Stain share.
#pragma once
#include <windows.h>

enum {
    GENERATOR_COUNT = 21,
    TURBULENCE_KINDS = 5,
    WAVE_TABLE_SIZE = 2048,
    WAVE_COUNT = 31,
    DIB_HEADER_BYTES = 1064     // 40-byte header and room for 256 colour entries
};

struct PatternState;
typedef int (*PatternGenerator)(PatternState* state, int x, int y);

struct PatternState {
    int maxX, maxY;
    int* columnProfile;          // W + 1 entries
    int* rowProfile;             // H + 1 entries
    BYTE* lineBuffer;            // one row, or one column at a stride of 4
    BITMAPINFOHEADER* header;    // followed by the 236 palette indices
    int* waveTable;              // WAVE_TABLE_SIZE entries
    DWORD holdUntil;
    int waves;
    int type;
    PatternGenerator generator;
    int holdMs;
    int turbulenceType;
    float turbulence;
    bool turbulenceOn;
    int waveType;
    int fold;
    int xTiles, yTiles, tileType;
    float columnFreq[WAVE_COUNT];
    float rowFreq[WAVE_COUNT];
    int columnOffset, rowOffset;
    float xScale, yScale;
    int bandSize;
    int xorDivisor;
    int sumShift;
    RECT ringRect;
    // Drawing width and height, for the wrapping turbulence kind.
    int width, height;
    // Per-picture lookups of the wave table by column and by row for the
    // first cachedWaves waves (WAVE_COUNT x (W + 1) and x (H + 1)), so the
    // wave-summing generators convert no reals per pixel. Optional.
    int* columnWaves;
    int* rowWaves;
    int cachedWaves;
};

extern const PatternGenerator patternGenerators[GENERATOR_COUNT];

// Replaces (x, y) by the turbulence of the state's kind (no test of
// turbulenceOn here).
void Distort(const PatternState* state, int* x, int* y);
// Fills the wave table with shape 1..6 and returns its base wave length.
float FillWaveTable(int* table, int shape);
void SmoothWaveTable(int* table);
// Fills the wave lookups for the waves the chosen generator reads.
void CacheWaves(PatternState* state);
// Table index of a real phase: trunc(u * 2048) modulo 2048, never negative.
int PhaseIndex(double u);

// --- Ring painting -----------------------------------------------------------

// Where ring painting draws: the surface and the module's row/column bitmap.
struct RingCanvas {
    HDC dc;
    BITMAPINFOHEADER* header;
    BYTE* lineBuffer;
    int width, height;           // W and H of the surface
};
typedef int (*RingValue)(void* context, int x, int y);

// Fills a DIB_PAL_COLORS header for a W x 1 row bitmap with the 236 indices.
void FillPaletteHeader(BITMAPINFOHEADER* header, int width);
// Paints the one-pixel ring (left, top, right, bottom): unfolded, each edge
// from its own values (mirrored top to bottom), or folded from a run of
// mirrored repeats of fold values. stainCopies selects the shifted copy
// sources of the Stain module's folded rings.
void PaintRing(const RingCanvas* canvas, const RECT* ring, int fold, RingValue value, void* context,
               int stainCopies);

// --- Stain -------------------------------------------------------------------

enum { STAIN_MAX_NODES = 4, STAIN_GROUP = 5, STAIN_FUNCTIONS = 10 };

struct StainNode {
    int x, y, colour;
};

struct StainState;
typedef int (*StainFunction)(StainState* state, int x, int y);

struct StainState {
    int maxX, maxY;
    int nodeCount, fold, type, holdMs, xTiles, yTiles, tileType;
    StainNode nodes[STAIN_MAX_NODES];
    int* columnDistances;        // (W + 2) groups of STAIN_GROUP
    int* rowDistances;           // (H + 2) groups of STAIN_GROUP
    int diagonal;
    float xScale, yScale;
    int ringCount;
    BYTE* lineBuffer;
    BITMAPINFOHEADER* header;
    DWORD holdUntil;
    StainFunction generator;
};

extern const StainFunction stainFunctions[STAIN_FUNCTIONS];

// Read-only views of the two modules' pictures, for diagnostics and tests.
const PatternState* CurrentPatternState(void);
const StainState* CurrentStainState(void);

// Sets *target to the slot's live value, truncated; leaves it when the
// slot's source is not live.
struct ModuleRecord;
void FollowLive(ModuleRecord* record, int slot, int* target);

// Zero-filled working memory of the pattern modules; 0 for a size of 0 or
// one of 2 GB and more.
void* AllocateBlock(unsigned long long bytes);
void FreeBlock(void* block);
