// The Bezier module's drawing switches, for diagnostics and tests.
#pragma once

// 1: on an 8-bit surface with several tiles, a frame's strokes are made once
// into a mask and its runs filled into every tile (the default); 0 strokes
// every tile on its own. Both paint the same pixels.
extern int bezierTileMasks;
// Frames drawn through the mask so far.
extern long bezierMaskedDraws;
