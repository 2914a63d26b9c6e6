// The setup wizard's pages (placeholder until the wizard is built).
#include "config/pages.h"

INT_PTR CALLBACK SetupPageProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}
