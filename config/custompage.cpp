// The Custom palette page (placeholder until the page is built).
#include "config/pages.h"

INT_PTR CALLBACK CustomPalettePageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
