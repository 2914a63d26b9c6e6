// The configuration entry. The property sheet is not built yet: the dialog
// ends as soon as it opens; under a setup name it runs the setup wizard.
#include "config/configure.h"
#include "config/pages.h"
#include "runtime/framework.h"
#include "runtime/scrnsave.h"
#include "settings/registry.h"
#include "setup/setup.h"

extern "C" BOOL WINAPI ScreenSaverConfigureDialog(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) {
        if (IsSetupProgram()) {
            BuildValueNames();
            WriteVersionStamp(VIVRA_MAJOR, VIVRA_MINOR, VIVRA_BUILD);
            InitModules();
            RunSetupWizard(dialog);
        }
        EndDialog(dialog, IDCANCEL);
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI RegisterDialogClasses(HANDLE)
{
    return TRUE;
}
