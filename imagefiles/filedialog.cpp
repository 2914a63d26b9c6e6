#include "imagefiles/filedialog.h"
#include <commdlg.h>
#include <stdio.h>
#include <string.h>

char dialogFolder[DIALOG_NAME_SIZE] = "";

int FileDialog(char* name, const char* mask, int save)
{
    if (!name || !mask)
        return 0;
    if (!dialogFolder[0])
        GetWindowsDirectoryA(dialogFolder, DIALOG_NAME_SIZE);

    // Entries are "description\tpattern\t"; the tabs become the zero
    // separators of the common dialogs' double-zero-terminated list.
    char filter[2 * DIALOG_NAME_SIZE + 64];
    int length = snprintf(filter, sizeof(filter), "%s\t %s\tAll files (*.*)\t *.*\t\t", mask, mask);
    if (length <= 0 || length >= (int)sizeof(filter))
        return 0;
    for (int i = 0; i < length; ++i)
        if (filter[i] == '\t')
            filter[i] = 0;

    size_t maskLength = strlen(mask);
    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof(dialog));
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = GetActiveWindow();
    dialog.lpstrFilter = filter;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = name;
    dialog.nMaxFile = DIALOG_NAME_SIZE;
    dialog.lpstrInitialDir = dialogFolder;
    dialog.lpstrDefExt = maskLength >= 3 ? mask + maskLength - 3 : NULL;

    BOOL chosen;
    if (save) {
        dialog.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_SHOWHELP | OFN_OVERWRITEPROMPT;
        chosen = GetSaveFileNameA(&dialog);
    } else {
        dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_SHOWHELP;
        chosen = GetOpenFileNameA(&dialog);
    }
    if (!chosen)
        return 0;
    GetCurrentDirectoryA(DIALOG_NAME_SIZE, dialogFolder);
    return 1;
}
