// The Display page (placeholder until the page is built).
#include "config/pages.h"

INT_PTR CALLBACK DisplayPageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
