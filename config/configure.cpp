// The configuration entry. The property sheet is not built yet: the dialog
// ends as soon as it opens.
#include "config/configure.h"
#include "runtime/scrnsave.h"

extern "C" BOOL WINAPI ScreenSaverConfigureDialog(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI RegisterDialogClasses(HANDLE)
{
    return TRUE;
}
