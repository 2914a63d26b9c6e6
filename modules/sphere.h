// The shaded-disc image of the Sphere module, also stamped by the Effect
// module's blobs straight onto the surface.
#pragma once
#include <windows.h>

// Concentric rings from palette index base (mod 236) at the rim, one index
// and one pixel per side further in each ring, inside an image of the given
// overall size centred at (x, y). Style bit 8 makes square rings, bit 16
// vertical bars (horizontal bars with 8 as well).
void DrawSphereImage(HDC dc, int x, int y, int size, int base, int style);

// 1: on an 8-bit surface whose colour table the sphere images share, stamps
// are copied byte by byte instead of through a clipped BitBlt each, with the
// same pixels and the same clip (the default); 0 is the GDI path.
extern int sphereDirectStamps;
// Stamps copied the direct way so far (diagnostics, tests).
extern long sphereStampsCopied;
// 1: stamps clipped to their tile cell are copied once into a cell-sized
// buffer and its covered pixels into every admitted cell, with the same
// pixels as stamping each tile (the default); 0 stamps tile by tile.
extern int sphereCellComposite;
// Composed cells copied into the tiles so far (diagnostics, tests).
extern long sphereCellsComposed;
