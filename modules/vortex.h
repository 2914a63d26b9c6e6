// The Vortex module's drawing switch, for diagnostics and tests.
#pragma once

// 1: on an 8-bit surface with several tiles, the first tile is drawn once and
// copied into every tile (the default); 0 draws every tile. Both paint the
// same pixels.
extern int vortexTileCopies;
// Frames drawn by copying so far.
extern long vortexCopiedFrames;
