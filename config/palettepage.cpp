// The Palette page (placeholder until the page is built).
#include "config/pages.h"

INT_PTR CALLBACK PalettePageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
