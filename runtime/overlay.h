// The info overlay: framed boxes with the display name, the analyzer's CD
// information and the slogan, excluded from the surface's clipping region.
#pragma once
#include <windows.h>

void OverlayStart(void);
void OverlaySurfaceSetup(HDC dc, HWND window);
void ShowInfoStep(void);
void ShowNameStep(void);
void SloganStep(void);
void DrawBox(RECT* rectangle, const char* text);
void RestoreClip(void);
// The boxes on screen now, which RestoreClip cuts out of `dc` when it is the
// overlay's surface; returns how many were written (at most `max`).
int OverlayShownBoxes(HDC dc, RECT* rects, int max);
