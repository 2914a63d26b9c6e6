// The Polygon module's drawing paths.
#pragma once

// 1: where several tiles are admitted on an emulated surface, the copies are
// drawn once into a scratch bitmap and painted into the tiles directly,
// pixel for pixel what the GDI path paints; 0: every copy in every tile
// through Polygon.
extern int polygonDirectTiles;
// The fewest polygons a frame entry must have (copies times admitted
// tiles) to go the direct way.
extern int polygonDirectMinimum;
// Frame entries painted the direct way so far (diagnostics, tests).
extern long polygonDirectFrames;
// Of those, the ones whose inner tiles were painted as one repeated block.
extern long polygonRepeatedFrames;
