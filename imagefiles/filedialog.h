// The open and save dialogs for settings and palette files.
#pragma once
#include <windows.h>

enum { DIALOG_NAME_SIZE = 260 };

// The folder the file dialogs open in; empty until the first dialog, which
// starts in the Windows folder. Updated after every successful choice.
extern char dialogFolder[DIALOG_NAME_SIZE];

// Shows the save (save != 0) or open dialog for files matching `mask`
// ("*.VIV", "*.PAL"). `name` (260 characters) gives the suggested name and
// receives the choice; an open dialog may return a folder followed by
// several file names. 1 when the user chose, 0 on cancel.
int FileDialog(char* name, const char* mask, int save);
