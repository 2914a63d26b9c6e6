// The drawing surface every module paints on, with its tiling and symmetry
// operations and the small bitmap helpers.
#pragma once
#include <windows.h>

struct PaletteState;

// --- Surface set-up -------------------------------------------------------

// 1 while the surface is an emulated palette device: an 8-bit DIB section in
// a memory device context, presented into the window through the animated
// colours by the palette thread.
extern volatile int paletteEmulation;

// The render thread's device context of the saver window (or of the emulated
// surface); width and height receive the client size.
HDC AcquireDrawSurface(HWND window, int* width, int* height);
void ReleaseDrawSurface(HWND window, HDC dc);

// Selects the font, computes the full-screen flag (also published in the
// shared record) and returns it.
int SetupDrawSurface(HDC dc, HWND window);

// Render thread: a frame has been drawn and flushed.
void SignalFrameDrawn(void);
// Palette thread: waits the given milliseconds; while emulating, presents
// newly drawn frames as they come instead of sleeping blind.
void PaletteThreadWait(PaletteState* state, DWORD milliseconds);
// Converts the emulated surface through the current animated colours into
// the target device context. Does nothing without emulation.
void PresentSurface(HDC target, const PALETTEENTRY* animated);

// --- Tiling and symmetry ----------------------------------------------------

int TileAdmitted(int column, int row, int tileType);
void TiledCopy(HDC dc, int nx, int ny, int tileWidth, int tileHeight, int tileType);
void RingTiledCopy(HDC dc, int nx, int ny, int tileWidth, int tileHeight, int tileType,
                   int ringWidth, int ringHeight, const RECT* ring, const RECT* unshifted);
void RotatePoint(POINT* point, float angle);
void ApplySymmetry(BYTE* buffer, int maxX, int maxY, int mode);

// --- Bitmap helpers ---------------------------------------------------------

HBITMAP CreateDib8(HDC dc, int grey, int width, int height, BITMAPINFO** info, void** bits);
int DibColorCount(const BITMAPINFOHEADER* header);
int DibColorTableSize(const BITMAPINFOHEADER* header);
void DibToGrey8(const DIBSECTION* source, DIBSECTION* destination);
int BitCount(DWORD mask);
int LowestBit(DWORD mask);
