// The module pages (placeholder until the page is built).
#include "config/pages.h"

INT_PTR CALLBACK ModulePageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
