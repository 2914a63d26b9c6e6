// Shape lines shared by the Cyclic and Star modules: plain pen strokes, or
// rows of small (optionally recursive) regular polygons stamped along a line.
#pragma once
#include <windows.h>

enum { SHAPE_MAX_SIDES = 10, SHAPE_MAX_TYPE = 8 };

struct ShapePen {
    float shapeSize;   // shape radius, or pen width of plain strokes
    float shrink;      // size factor from one recursion level to the next
    float angle;       // rotation of the next shape (radians)
    float spin;        // factor a child applies to its angleStep
    float angleStep;   // rotation spread over one line (radians)
    int interval;      // a shape at every (interval + 1)-th point
    int counter;       // points walked since the last stamp
    int spare;
    HDC dc;
    BYTE sides;        // 0 or 1: plain strokes and dots
    BYTE type;         // type % 3: fill style; type / 3: recursion depth
};

void shapePenInit(HDC dc, int sides, int type, int interval, int size, float angleStep, ShapePen* pen);
void shapePenSelect(ShapePen* pen, COLORREF colour);
void shapePenRelease(ShapePen* pen);
// Between these the caller selects nothing else into the pen's device
// context (and neither selects nor releases a pen): its tiled lines take the
// pen and brush selected at the hold instead of asking GDI at every line.
void shapeHoldSelection(const ShapePen* pen);
void shapeDropSelection(void);
void shapeStamp(int x, int y, ShapePen* pen);
void shapeLine(int xa, int ya, int xb, int yb, ShapePen* pen);
// The line scaled into each admitted tile of an xTiles x yTiles grid on a
// width x height surface, with the shape size shared out over the tiles.
void shapeTiledLine(int xa, int ya, int xb, int yb, int width, int height, int xTiles, int yTiles, int tileType,
                    const ShapePen* pen);

// 1: tiled lines whose pen paints one colour on an 8-bit DIB section are
// drawn once into a mask and its pixels copied into every admitted tile (the
// same pixels, far fewer GDI calls) when the pen is released; 0: every tile
// is drawn through GDI.
extern int shapeTileMasks;
// Tiled lines drawn through the mask so far (diagnostics, tests).
extern long shapeTileMaskLines;
// 1: in the mask, a kept stamp already set at the same place in the same
// batch is not set again, and the tiles are filled from the mask row by row,
// each pixel once (the default); 0 sets every stamp and fills every run into
// every tile. The same pixels.
extern int shapeStampShortcuts;
// With shortcuts a nested stamp is kept from one leaf drawn by GDI and set
// at every place its leaves take. Stamps the mask did not set again, and
// nested stamps made from a leaf, so far (diagnostics, tests).
extern long shapeStampRepeats;
extern long shapeLeafStamps;
// Drops the kept stamps, so that the next ones are drawn afresh (tests).
void shapeForgetStamps(void);

// RotatePoint about (cx, cy) instead of the origin.
void RotateAbout(POINT* p, float angle, int cx, int cy);

// Truncation toward zero that gives a safe result for values no int holds
// (huge, infinite or not a number).
int TruncToInt(double value);
