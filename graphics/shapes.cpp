// Shape lines: the pen style record, its pens and brushes, one stamped shape
// and a line walked with LineDDA that stamps shapes along it.
#include "graphics/shapes.h"
#include "runtime/common.h"
#include "graphics/surface.h"
#include <math.h>

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
    for (int i = 0; i < nx; ++i)
        for (int j = 0; j < ny; ++j)
            if (TileAdmitted(i, j, tileType))
                shapeLine(ax + i * tw, ay + j * th, bx + i * tw, by + j * th, &local);
}
