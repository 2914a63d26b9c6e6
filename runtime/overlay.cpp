// Placeholder until the info overlay is built.
#include "runtime/overlay.h"
#include "graphics/surface.h"

void OverlayStart(void) {}
void OverlaySurfaceSetup(HDC dc, HWND window) { SetupDrawSurface(dc, window); }
void ShowInfoStep(void) {}
void ShowNameStep(void) {}
void SloganStep(void) {}
void DrawBox(RECT*, const char*) {}
void RestoreClip(void) {}
