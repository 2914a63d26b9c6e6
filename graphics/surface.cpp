// Placeholder until the drawing surface is built.
#include "graphics/surface.h"

volatile int paletteEmulation = 0;

static const COLORREF staticColours[20] = {
    RGB(0, 0, 0), RGB(128, 0, 0), RGB(0, 128, 0), RGB(128, 128, 0), RGB(0, 0, 128),
    RGB(128, 0, 128), RGB(0, 128, 128), RGB(192, 192, 192), RGB(192, 220, 192), RGB(166, 202, 240),
    RGB(255, 251, 240), RGB(160, 160, 164), RGB(128, 128, 128), RGB(255, 0, 0), RGB(0, 255, 0),
    RGB(255, 255, 0), RGB(0, 0, 255), RGB(255, 0, 255), RGB(0, 255, 255), RGB(255, 255, 255)
};

COLORREF StaticColour(int byte)
{
    return staticColours[byte < 10 ? byte : byte - 236];
}

COLORREF KeyColour(int entry)
{
    // Unique, and away from every static colour, so no nearest-colour match
    // of a static colour lands on an animated entry.
    return RGB(10 + entry, 97 + (entry % 7) * 3, 250 - entry);
}

HPALETTE CreateKeyPalette(void)
{
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entry[236];
    } block;
    block.version = 0x300;
    block.count = 236;
    for (int i = 0; i < 236; ++i) {
        COLORREF c = KeyColour(i);
        block.entry[i].peRed = GetRValue(c);
        block.entry[i].peGreen = GetGValue(c);
        block.entry[i].peBlue = GetBValue(c);
        block.entry[i].peFlags = 0;
    }
    return CreatePalette((LOGPALETTE*)&block);
}

int CreateEmulatedSurface(EmulatedSurface* surface, int width, int height)
{
    ZeroMemory(surface, sizeof(*surface));
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } info;
    ZeroMemory(&info, sizeof(info));
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;   // top-down: row 0 first in memory
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biClrUsed = 256;
    for (int byte = 0; byte < 256; ++byte) {
        COLORREF c = (byte < 10 || byte >= 246) ? StaticColour(byte) : KeyColour(byte - 10);
        info.colours[byte].rgbRed = GetRValue(c);
        info.colours[byte].rgbGreen = GetGValue(c);
        info.colours[byte].rgbBlue = GetBValue(c);
    }
    HDC screen = GetDC(NULL);
    surface->dc = CreateCompatibleDC(screen);
    ReleaseDC(NULL, screen);
    if (!surface->dc)
        return 0;
    void* bits = 0;
    surface->bitmap = CreateDIBSection(surface->dc, (BITMAPINFO*)&info, DIB_RGB_COLORS, &bits, NULL, 0);
    surface->palette = CreateKeyPalette();
    if (!surface->bitmap || !surface->palette) {
        DestroyEmulatedSurface(surface);
        return 0;
    }
    surface->bits = (BYTE*)bits;
    surface->width = width;
    surface->height = height;
    surface->stride = (width + 3) & ~3;
    surface->oldBitmap = SelectObject(surface->dc, surface->bitmap);
    surface->oldPalette = SelectPalette(surface->dc, surface->palette, FALSE);
    RealizePalette(surface->dc);
    return 1;
}

void DestroyEmulatedSurface(EmulatedSurface* surface)
{
    if (surface->dc) {
        if (surface->oldPalette)
            SelectPalette(surface->dc, surface->oldPalette, FALSE);
        if (surface->oldBitmap)
            SelectObject(surface->dc, surface->oldBitmap);
        DeleteDC(surface->dc);
    }
    if (surface->bitmap)
        DeleteObject(surface->bitmap);
    if (surface->palette)
        DeleteObject(surface->palette);
    ZeroMemory(surface, sizeof(*surface));
}

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
