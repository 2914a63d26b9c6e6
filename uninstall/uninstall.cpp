// UnInstall: removes what setup installed. A program of its own that shares
// nothing with the saver but the names of the files and keys it removes.
#include <windows.h>
#include <shlobj.h>

static const char* const CAPTION = "UnInstall";
static const char* const SAVER_KEY = "Control Panel\\Screen Saver.Vivra";
static const char* const UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vivra";
static const char* const SHELL_FOLDERS_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
static const char* const LAUNCHER_FILE = "Runner.EXE";
static const char* const DESKTOP_UTILITY = "\\VRNX.EXE";
static const char* const DESKTOP_DISPLAYS = "VRNX - Saved Settings";
static const char* const SAVER_FILE = "Vivra.SCR";
// Where a per-user installation keeps the saver, inside the local
// application data, and where it registers the .VIV type.
static const char* const USER_SAVER_FOLDER = "Programs\\Vivra";
static const char* const USER_CLASSES_KEY = "Software\\Classes";

// The registrations of the saver's import filter, kept only while they
// name our filter file.
static const char* const FILTERS_KEY = "SOFTWARE\\Microsoft\\Shared Tools\\Graphics Filters\\Import";
static const char* const FILTER_FILE = "\\VIVIMP32.FLT";
static const char* const ownFilters[] = {"Vivra PNG", "Vivra JPG", "Vivra JPEG",
                                         "Vivra GIF", "Vivra TIF", "Vivra TIFF"};
static const int OWN_FILTER_COUNT = sizeof(ownFilters) / sizeof(ownFilters[0]);

// Deleted from the system folder and the Windows folder, in this order: the
// launcher, the single-module savers of earlier versions (32-bit, then
// 16-bit; Cyclic, Pattern, Polygon, Stain, Plasma, Star, Vortex, Bezier) and
// the saver itself.
static const char* const installedFiles[] = {
    "Runner.EXE",
    "VRCYCL32.SCR", "VRPATT32.SCR", "VRPOLY32.SCR", "VRSTAN32.SCR",
    "VRPLAS32.SCR", "VRSTAR32.SCR", "VRVORT32.SCR", "VRBEZR32.SCR",
    "VRCYCL16.SCR", "VRPATT16.SCR", "VRPOLY16.SCR", "VRSTAN16.SCR",
    "VRPLAS16.SCR", "VRSTAR16.SCR", "VRVORT16.SCR", "VRBEZR16.SCR",
    "Vivra.SCR",
};
static const int INSTALLED_FILE_COUNT = sizeof(installedFiles) / sizeof(installedFiles[0]);

// The launchers of every version: four by window title, one by class.
struct LauncherWindow {
    const char* className;
    const char* title;
};
static const LauncherWindow launcherWindows[] = {
    {NULL, "Zelkor"},
    {NULL, "Zelkor V1.5"},
    {NULL, "Zelkor V2.5"},
    {NULL, "Vivra 2.5 / Zelkor"},
    {"Zelkor v3.0", NULL},
};
static const int LAUNCHER_WINDOW_COUNT = sizeof(launcherWindows) / sizeof(launcherWindows[0]);

// A launcher that ignores WM_CLOSE must not hang the removal for ever.
static const DWORD LAUNCHER_WAIT_MS = 5000;

static LONG DeleteSubTree(HKEY parent, const char* name)
{
    HKEY key;
    LONG result = RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, &key);
    if (result != ERROR_SUCCESS)
        return result;
    for (;;) {
        char child[512];
        DWORD length = sizeof(child);
        result = RegEnumKeyExA(key, 0, child, &length, NULL, NULL, NULL, NULL);
        if (result == ERROR_NO_MORE_ITEMS) {
            result = ERROR_SUCCESS;
            break;
        }
        if (result != ERROR_SUCCESS)
            break;
        result = DeleteSubTree(key, child);
        if (result != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return result;
    return RegDeleteKeyA(parent, name);
}

LONG DeleteKeyTree(HKEY root, const char* path)
{
    if (!path || !path[0])
        return ERROR_BADKEY;
    return DeleteSubTree(root, path);
}

// One of the user's shell folders ("Startup", "Desktop"); 0 when missing.
// An empty value counts as missing: it would name the current drive's root.
static int ReadShellFolder(const char* name, char* folder)
{
    folder[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    DWORD size = MAX_PATH;
    LONG result = RegQueryValueExA(key, name, NULL, &type, (BYTE*)folder, &size);
    RegCloseKey(key);
    // The value need not end with a zero; the buffer holds one more byte.
    folder[result == ERROR_SUCCESS && size <= MAX_PATH ? size : 0] = 0;
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        folder[0] = 0;
        return 0;
    }
    return folder[0] != 0;
}

static void JoinPath(char* out, const char* folder, const char* name)
{
    wsprintfA(out, "%s\\%s", folder, name);
}

static void DeleteInstalledFiles(const char* folder)
{
    for (int i = 0; i < INSTALLED_FILE_COUNT; i++) {
        char path[MAX_PATH + 32];
        JoinPath(path, folder, installedFiles[i]);
        DeleteFileA(path);
    }
}

typedef BOOL(WINAPI* IsWow64ProcessProc)(HANDLE, PBOOL);
typedef BOOL(WINAPI* DisableRedirectionProc)(PVOID*);
typedef BOOL(WINAPI* RevertRedirectionProc)(PVOID);

// Under WoW64 the system folder this program sees is SysWOW64, where setup
// put the saver; the real System32 is reached only with the redirection
// switched off, and must not keep a copy of ours either. Only the saver's
// own name goes there: the generic names of earlier versions (Runner.EXE
// and the rest) may belong to 64-bit programs of others.
static void DeleteFromNativeSystemFolder(void)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    IsWow64ProcessProc isWow64 = (IsWow64ProcessProc)(void*)GetProcAddress(kernel, "IsWow64Process");
    DisableRedirectionProc disable = (DisableRedirectionProc)(void*)GetProcAddress(kernel, "Wow64DisableWow64FsRedirection");
    RevertRedirectionProc revert = (RevertRedirectionProc)(void*)GetProcAddress(kernel, "Wow64RevertWow64FsRedirection");
    BOOL wow64 = FALSE;
    if (!isWow64 || !disable || !revert || !isWow64(GetCurrentProcess(), &wow64) || !wow64)
        return;
    char folder[MAX_PATH];
    if (!GetSystemDirectoryA(folder, MAX_PATH))
        return;
    PVOID state = NULL;
    if (!disable(&state))
        return;
    char path[MAX_PATH + 32];
    JoinPath(path, folder, SAVER_FILE);
    DeleteFileA(path);
    revert(state);
}

static HWND FindLauncher(const LauncherWindow* launcher)
{
    return FindWindowA(launcher->className, launcher->title);
}

struct CloseRequest {
    int posted;
};

static BOOL CALLBACK CloseLauncherWindow(HWND window, LPARAM lParam)
{
    char title[64];
    char className[64];
    GetWindowTextA(window, title, sizeof(title));
    GetClassNameA(window, className, sizeof(className));
    for (int i = 0; i < LAUNCHER_WINDOW_COUNT; i++) {
        const LauncherWindow* launcher = &launcherWindows[i];
        if ((launcher->title && lstrcmpA(title, launcher->title) == 0) ||
            (launcher->className && lstrcmpiA(className, launcher->className) == 0)) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            ((CloseRequest*)lParam)->posted++;
            break;
        }
    }
    return TRUE;
}

static void CloseLaunchers(void)
{
    CloseRequest request = {0};
    EnumWindows(CloseLauncherWindow, (LPARAM)&request);
    if (!request.posted)
        return;
    for (int i = 0; i < LAUNCHER_WINDOW_COUNT; i++) {
        DWORD waited = 0;
        while (FindLauncher(&launcherWindows[i]) && waited < LAUNCHER_WAIT_MS) {
            Sleep(100);
            waited += 100;
        }
    }
}

static void RemoveLauncher(void)
{
    char startup[MAX_PATH + 1];
    if (!ReadShellFolder("Startup", startup))
        return;
    CloseLaunchers();
    char path[MAX_PATH + 32];
    JoinPath(path, startup, LAUNCHER_FILE);
    DeleteFileA(path);
    SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA, startup, NULL);
}

static void RemoveDesktopUtility(void)
{
    char desktop[MAX_PATH + 1];
    if (!ReadShellFolder("Desktop", desktop))
        return;
    char path[MAX_PATH + 32];
    lstrcpyA(path, desktop);
    lstrcatA(path, DESKTOP_UTILITY);
    DeleteFileA(path);
    SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA, desktop, NULL);
}

// Only the displays go; a folder that then still holds anything stays.
static void RemoveDesktopDisplays(void)
{
    char desktop[MAX_PATH + 1];
    if (!ReadShellFolder("Desktop", desktop))
        return;
    char folder[MAX_PATH + 32];
    JoinPath(folder, desktop, DESKTOP_DISPLAYS);
    char mask[MAX_PATH + 48];
    JoinPath(mask, folder, "*.VIV");
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(mask, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                continue;
            char path[MAX_PATH * 2 + 48];
            JoinPath(path, folder, found.cFileName);
            DeleteFileA(path);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder);
}

// A per-user installation: the saver in the user's program folder, which is
// removed when nothing else is left in it.
static void RemoveUserSaver(void)
{
    char local[MAX_PATH];
    if (SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA, NULL, 0, local) != S_OK)
        return;
    char folder[MAX_PATH + 32], path[MAX_PATH + 48];
    JoinPath(folder, local, USER_SAVER_FOLDER);
    JoinPath(path, folder, SAVER_FILE);
    DeleteFileA(path);
    RemoveDirectoryA(folder);
}

static void RemoveImportFilters(void)
{
    HKEY filters;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FILTERS_KEY, 0, KEY_READ | KEY_WRITE, &filters) != ERROR_SUCCESS)
        return;
    for (int i = 0; i < OWN_FILTER_COUNT; i++) {
        HKEY filter;
        if (RegOpenKeyExA(filters, ownFilters[i], 0, KEY_READ, &filter) != ERROR_SUCCESS)
            continue;
        char path[MAX_PATH + 1] = "";
        DWORD size = MAX_PATH, type = 0;
        LONG result = RegQueryValueExA(filter, "Path", NULL, &type, (BYTE*)path, &size);
        RegCloseKey(filter);
        path[result == ERROR_SUCCESS && size <= MAX_PATH ? size : 0] = 0;
        int length = lstrlenA(path), tail = lstrlenA(FILTER_FILE);
        if (type == REG_SZ && length >= tail && lstrcmpiA(path + length - tail, FILTER_FILE) == 0)
            RegDeleteKeyA(filters, ownFilters[i]);
    }
    RegCloseKey(filters);
}

// The machine's registrations and a per-user installation's, whichever
// setup made.
static void RemoveRegistration(void)
{
    RegDeleteKeyA(HKEY_CLASSES_ROOT, ".VIV");
    DeleteKeyTree(HKEY_CLASSES_ROOT, "Vivra");
    HKEY classes;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, USER_CLASSES_KEY, 0, KEY_READ | KEY_WRITE, &classes) == ERROR_SUCCESS) {
        RegDeleteKeyA(classes, ".VIV");
        DeleteKeyTree(classes, "Vivra");
        RegCloseKey(classes);
    }
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    RegDeleteKeyA(HKEY_CURRENT_USER, UNINSTALL_KEY);
    RemoveImportFilters();
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, NULL, NULL);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    if (MessageBoxA(NULL, "Are you sure you want to remove the Vivarent Screen Saver from your system?",
                    CAPTION, MB_ICONQUESTION | MB_YESNO) != IDYES)
        return 0;

    char folder[MAX_PATH];
    if (GetSystemDirectoryA(folder, MAX_PATH))
        DeleteInstalledFiles(folder);
    if (GetWindowsDirectoryA(folder, MAX_PATH))
        DeleteInstalledFiles(folder);
    DeleteFromNativeSystemFolder();
    RemoveUserSaver();

    DeleteKeyTree(HKEY_CURRENT_USER, SAVER_KEY);

    if (MessageBoxA(NULL, "Do you wish to uninstall the taskbar screen saver launcher?", "UnInstall Runner",
                    MB_ICONQUESTION | MB_YESNO) == IDYES)
        RemoveLauncher();

    RemoveDesktopUtility();
    RemoveDesktopDisplays();
    RemoveRegistration();
    WritePrivateProfileStringA("BOOT", "SCRNSAVE.EXE", "(None)", "SYSTEM.INI");

    return MessageBoxA(NULL, "The Vivarent Screen Saver has been removed.", "UnInstall Complete",
                       MB_ICONINFORMATION | MB_OK);
}
