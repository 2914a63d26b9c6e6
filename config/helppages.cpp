// Help where Windows has no WinHelp: the HTML pages of the help topics,
// which setup puts into the Help folder of the destination and the build
// beside the saver. Help\keywords.txt maps each help keyword to its page.
#include "config/pages.h"
#include "runtime/platform.h"
#include "settings/registry.h"
#include <stdio.h>
#include <string.h>

static const char contentsPage[] = "index.htm";
static const char keywordIndex[] = "keywords.txt";
enum { INDEX_LIMIT = 16384 };

// A page named in the index must be a plain file name of the Help folder.
static int SafePageName(const char* page)
{
    size_t length = strlen(page);
    return length > 4 && length < 64 && !strpbrk(page, "\\/:") && !strstr(page, "..") &&
           lstrcmpiA(page + length - 4, ".htm") == 0;
}

// The page of `keyword` in the folder's index; 0 when the index lacks it.
static int LookUpKeyword(const char* folder, const char* keyword, char* page, int size)
{
    char path[MAX_PATH];
    if (snprintf(path, sizeof(path), "%s\\%s", folder, keywordIndex) >= (int)sizeof(path))
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    static char text[INDEX_LIMIT + 1];
    DWORD read = 0;
    if (!ReadFile(file, text, INDEX_LIMIT, &read, NULL))
        read = 0;
    CloseHandle(file);
    text[read] = 0;
    for (char* line = strtok(text, "\r\n"); line; line = strtok(NULL, "\r\n")) {
        char* tab = strchr(line, '\t');
        if (!tab)
            continue;
        *tab = 0;
        // WinHelp finds keywords whatever their capitals.
        if (lstrcmpiA(line, keyword) == 0 && SafePageName(tab + 1))
            return snprintf(page, size, "%s", tab + 1) < size;
    }
    return 0;
}

// "<folder>\<page>" when that page exists.
static int PageIn(const char* folder, const char* keyword, char* path, int size)
{
    char page[64];
    if (!keyword || !LookUpKeyword(folder, keyword, page, sizeof(page)))
        snprintf(page, sizeof(page), "%s", contentsPage);
    return snprintf(path, size, "%s\\%s", folder, page) < size && GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The pages beside the running program come first; an installed saver in
// the system folder finds them in the destination folder setup recorded.
static int FindHelpPage(const char* keyword, char* path, int size)
{
    char folder[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, folder, sizeof(folder));
    char* slash = length && length < sizeof(folder) ? strrchr(folder, '\\') : NULL;
    if (slash && snprintf(slash, folder + sizeof(folder) - slash, "\\Help") < folder + sizeof(folder) - slash &&
        PageIn(folder, keyword, path, size))
        return 1;
    char destination[MAX_PATH] = "";
    ReadSaverValue("VivraDir", REG_SZ, destination, sizeof(destination));
    destination[sizeof(destination) - 1] = 0;
    return destination[0] &&
           snprintf(folder, sizeof(folder), "%s\\Help", destination) < (int)sizeof(folder) &&
           PageIn(folder, keyword, path, size);
}

int ShowHelpPage(const char* keyword)
{
    char path[MAX_PATH];
    if (!FindHelpPage(keyword, path, sizeof(path))) {
        MessageBoxA(GetActiveWindow(),
                    "The help pages are missing. Run Setup again to put them into the Help folder of the "
                    "Vivarent Screen Saver.",
                    "Help", MB_OK | MB_ICONINFORMATION);
        return 0;
    }
    SHELLEXECUTEINFOA info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    info.hwnd = GetActiveWindow();
    info.lpVerb = "open";
    info.lpFile = path;
    info.nShow = SW_SHOWNORMAL;
    return platform.shellExecute(&info) != 0;
}
