// The Bezier module's drawing switches, for diagnostics and tests.
#pragma once

// 1: on an 8-bit surface with several tiles, a frame's strokes are made once
// into a mask and its runs filled into every tile (the default); 0 strokes
// every tile on its own. Both paint the same pixels.
extern int bezierTileMasks;
// Frames drawn through the mask so far.
extern long bezierMaskedDraws;
// For tests: shown every mask once its strokes are made, before its runs are
// filled into the tiles (width by height bytes, 1 where a stroke covers).
extern void (*bezierMaskProbe)(const unsigned char* mask, int left, int top, int width, int height);
// 1: strokes into the mask skip rows already set and write only the pixels
// still open (the default); 0 writes every span. Both give the same mask.
extern int bezierCoverage;
// 1: every row the coverage skips is checked to be set already; a pixel that
// is not counts into bezierCoverageFaults.
extern int bezierCoverageCheck;
extern long bezierCoverageSkips;
extern long bezierCoverageFaults;
