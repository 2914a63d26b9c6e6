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
void shapeStamp(int x, int y, ShapePen* pen);
void shapeLine(int xa, int ya, int xb, int yb, ShapePen* pen);
// The line scaled into each admitted tile of an xTiles x yTiles grid on a
// width x height surface, with the shape size shared out over the tiles.
void shapeTiledLine(int xa, int ya, int xb, int yb, int width, int height, int xTiles, int yTiles, int tileType,
                    const ShapePen* pen);
// Lines from ends[2k] to ends[2k + 1], each as shapeTiledLine draws it.
void shapeTiledLines(const POINT* ends, int lines, int width, int height, int xTiles, int yTiles, int tileType,
                     const ShapePen* pen);

// 1: tiled lines whose pen paints one colour on an 8-bit DIB section are
// drawn once into a mask and its pixels copied into every admitted tile (the
// same pixels, far fewer GDI calls) when the pen is released; 0: every tile
// is drawn through GDI.
extern int shapeTileMasks;
// Tiled lines drawn through the mask so far (diagnostics, tests).
extern long shapeTileMaskLines;
// 1: the lines of one shapeTiledLines call after the first take the mask's
// pen and brush as still selected instead of asking GDI for each line (the
// default); 0 asks for every line.
extern int shapeLineRuns;
// 1: a kept stamp that a mask already holds at the same spot is not set
// again (the default); 0 sets every stamp.
extern int shapeStampOnce;
// 1: a kept stamp draws one of its shapes through GDI and sets that shape's
// pixels at the others' centres (the default); 0 draws every shape.
extern int shapeLeafCopies;
// 1: the copies of a mask run in neighbouring tiles of a row that touch are
// filled as one span (the default); 0 fills every tile's copy.
extern int shapeJoinedCopies;
// 1: a kept stamp's rows are set into the mask in blocks of 16 bytes and the
// mask read back four pixels at a time (the default); 0 byte by byte.
extern int shapeStampBlocks;

// RotatePoint about (cx, cy) instead of the origin.
void RotateAbout(POINT* p, float angle, int cx, int cy);

// Truncation toward zero that gives a safe result for values no int holds
// (huge, infinite or not a number).
int TruncToInt(double value);
