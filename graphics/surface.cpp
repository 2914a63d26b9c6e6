// Placeholder until the drawing surface is built.
#include "graphics/surface.h"

volatile int paletteEmulation = 0;

HDC AcquireDrawSurface(HWND window, int* width, int* height)
{
    RECT client;
    GetClientRect(window, &client);
    *width = client.right;
    *height = client.bottom;
    return GetDC(window);
}
void ReleaseDrawSurface(HWND window, HDC dc) { ReleaseDC(window, dc); }
int SetupDrawSurface(HDC, HWND) { return 0; }
void SignalFrameDrawn(void) {}
void PaletteThreadWait(PaletteState*, DWORD milliseconds) { Sleep(milliseconds); }
void PresentSurface(HDC, const PALETTEENTRY*) {}
int TileAdmitted(int, int, int) { return 1; }
void TiledCopy(HDC, int, int, int, int, int) {}
void RingTiledCopy(HDC, int, int, int, int, int, int, int, const RECT*, const RECT*) {}
void RotatePoint(POINT*, float) {}
void ApplySymmetry(BYTE*, int, int, int) {}
HBITMAP CreateDib8(HDC, int, int, int, BITMAPINFO**, void**) { return 0; }
int DibColorCount(const BITMAPINFOHEADER*) { return 0; }
int DibColorTableSize(const BITMAPINFOHEADER*) { return 0; }
void DibToGrey8(const DIBSECTION*, DIBSECTION*) {}
int BitCount(DWORD) { return 0; }
int LowestBit(DWORD) { return 255; }
