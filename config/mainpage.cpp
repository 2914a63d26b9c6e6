// The Main Settings page (placeholder until the page is built).
#include "config/pages.h"

INT_PTR CALLBACK MainPageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
