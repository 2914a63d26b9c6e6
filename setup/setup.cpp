// The setup wizard: destination folder, installation options, the copy of
// the saver and the distribution files, and the registry entries that other
// programs read.
#include "setup/setup.h"
#include "config/pages.h"
#include "imagefiles/filterreg.h"
#include "runtime/platform.h"
#include "runtime/scrnsave.h"
#include "settings/registry.h"
#include "settings/vivfile.h"
#include <commctrl.h>
#include <commdlg.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

char destinationFolder[MAX_PATH];
int perUserInstall = 0;

enum {
    PAGE_DIRECTORY = 0,
    PAGE_INSTALL,
    PAGE_CONFIGURE,
    PAGE_COUNT,
    LAUNCHER_WAIT_STEPS = 100,   // 100 ms each: a launcher that never closes does not hang setup
    SLOGAN_LIMIT = 255
};

static const char defaultDestination[] = "C:\\Vivra";
static const char* const launcherTitles[] = {"Zelkor", "Zelkor V1.5", "Zelkor V2.5", "Vivra 2.5 / Zelkor"};
static const char launcherClass[] = "Zelkor v3.0";

// The options of page 1 in the order of their bits in the choices that the
// elevation restart carries.
static const int installOptions[] = {SETUP_DEFAULT_SAVER, SETUP_LAUNCHER, SETUP_UTILITY, SETUP_DISPLAYS,
                                     SETUP_ANALYZER};
enum { INSTALL_OPTION_COUNT = sizeof(installOptions) / sizeof(installOptions[0]) };
// The choices of the wizard that restarted this process elevated, -1 when
// it was not so started; cleared once the installation has begun.
static int restartChoices = -1;

// --- Folders and files --------------------------------------------------------

int SourceFolder(char* folder, int size)
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, sizeof(path));
    if (!length || length >= sizeof(path))
        return 0;
    char* slash = strrchr(path, '\\');
    if (!slash)
        return 0;
    slash[1] = 0;
    return snprintf(folder, size, "%s", path) < size;
}

static int FolderExists(const char* folder)
{
    DWORD attributes = GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static int JoinPath(char* path, int size, const char* folder, const char* name)
{
    return snprintf(path, size, "%s\\%s", folder, name) < size;
}

int CopyFromSource(const char* name, const char* folder)
{
    char source[MAX_PATH], target[MAX_PATH], from[MAX_PATH];
    if (!FolderExists(folder) || !SourceFolder(source, sizeof(source)))
        return 0;
    if (snprintf(from, sizeof(from), "%s%s", source, name) >= (int)sizeof(from))
        return 0;
    if (!JoinPath(target, sizeof(target), folder, name))
        return 0;
    return CopyFileA(from, target, FALSE) != 0;
}

// A shell folder of the user ("Startup", "Desktop"); 0 when it is not set.
static int ReadShellFolder(const char* value, char* folder, DWORD size)
{
    HKEY key;
    folder[0] = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0;
    DWORD length = size - 1;
    LONG result = RegQueryValueExA(key, value, NULL, &type, (BYTE*)folder, &length);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        folder[0] = 0;
        return 0;
    }
    folder[length < size ? length : size - 1] = 0;
    return folder[0] != 0;
}

static void NotifyFolderChanged(const char* folder)
{
    SHChangeNotify(SHCNE_UPDATEDIR, SHCNF_PATHA, folder, NULL);
}

static void SetProgress(HWND page, int position)
{
    if (page)
        SendDlgItemMessageA(page, SETUP_PROGRESS, PBM_SETPOS, position, 0);
}

// Only names that end in ".VIV" exactly: the short-name match of the
// wildcard would also find "x.viva".
static int HasExtension(const char* name, const char* extension)
{
    size_t length = strlen(name), tail = strlen(extension);
    return length > tail && lstrcmpiA(name + length - tail, extension) == 0;
}

int ImportDistributionDisplays(const char* folder, HWND page)
{
    char source[MAX_PATH], mask[MAX_PATH];
    if (!SourceFolder(source, sizeof(source)))
        return 0;
    snprintf(mask, sizeof(mask), "%s*.VIV", source);

    WIN32_FIND_DATAA found;
    int count = 0;
    HANDLE search = FindFirstFileA(mask, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && HasExtension(found.cFileName, ".VIV"))
                ++count;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (!count)
        return 0;

    int done = 0, imported = 0;
    SetProgress(page, 5);
    search = FindFirstFileA(mask, &found);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !HasExtension(found.cFileName, ".VIV"))
            continue;
        char path[MAX_PATH], display[DISPLAY_NAME_SIZE];
        if (snprintf(path, sizeof(path), "%s%s", source, found.cFileName) < (int)sizeof(path)) {
            DisplayNameOfFile(path, display, sizeof(display));
            imported += ImportSettingsFile(path, display) ? 1 : 0;
            CopyFromSource(found.cFileName, folder);
        }
        ++done;
        if (done <= count)
            SetProgress(page, 5 + done * 90 / count);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return imported;
}

// --- The system folder as other programs see it --------------------------------

int RunningUnderWow64(void)
{
    typedef BOOL(WINAPI * IsWow64Function)(HANDLE, PBOOL);
    IsWow64Function isWow64 =
        (IsWow64Function)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64;
}

// The system folder that holds our copy. A 32-bit program's writes into
// System32 land in SysWOW64 on 64-bit Windows, and the 64-bit parts of
// Windows that start the saver look in the real System32: paths given to
// them must name SysWOW64.
static int SaverFolder(char* folder, int size)
{
    if (RunningUnderWow64()) {
        typedef UINT(WINAPI * Wow64DirectoryFunction)(LPSTR, UINT);
        Wow64DirectoryFunction wow64Directory = (Wow64DirectoryFunction)(void*)GetProcAddress(
            GetModuleHandleA("kernel32.dll"), "GetSystemWow64DirectoryA");
        if (wow64Directory) {
            UINT length = wow64Directory(folder, size);
            if (length && (int)length < size)
                return 1;
        }
    }
    UINT length = GetSystemDirectoryA(folder, size);
    return length && (int)length < size;
}

int UserSaverFolder(char* folder, int size)
{
    // The user's program folder ("Programs" in the local application data),
    // which a user may write without administrator rights.
    char local[MAX_PATH];
    if (SHGetFolderPathA(NULL, CSIDL_LOCAL_APPDATA | CSIDL_FLAG_CREATE, NULL, 0, local) != S_OK)
        return 0;
    return snprintf(folder, size, "%s\\Programs\\Vivra", local) < size;
}

int InstalledSaverPath(char* path, int size)
{
    char folder[MAX_PATH];
    if (!(perUserInstall ? UserSaverFolder(folder, sizeof(folder)) : SaverFolder(folder, sizeof(folder))))
        return 0;
    return snprintf(path, size, "%s\\VIVRA.SCR", folder) < size;
}

// --- Installation steps ---------------------------------------------------------

static void RegisterUninstaller(const char* destination)
{
    char command[MAX_PATH + 16];
    snprintf(command, sizeof(command), "%s\\%s", destination, "UnInstall.EXE");
    HKEY key;
    // A per-user installation is listed for its user alone.
    HKEY root = perUserInstall ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    if (RegCreateKeyExA(root, UNINSTALL_KEY, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return;
    static const char displayName[] = "The Vivarent Screen Saver";
    RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE*)displayName, sizeof(displayName));
    RegSetValueExA(key, "UninstallString", 0, REG_SZ, (const BYTE*)command, (DWORD)strlen(command) + 1);
    RegCloseKey(key);
}

static void StoreSlogan(void)
{
    char source[MAX_PATH], path[MAX_PATH];
    if (!SourceFolder(source, sizeof(source)))
        return;
    snprintf(path, sizeof(path), "%sSlogan.TXT", source);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char text[SLOGAN_LIMIT + 1];
    DWORD read = 0;
    if (!ReadFile(file, text, SLOGAN_LIMIT, &read, NULL))
        read = 0;
    CloseHandle(file);
    text[read] = 0;
    WriteSaverValue("Slogan", REG_SZ, text, read + 1);
}

static int CopySaver(const char* own, const char* target)
{
    return CopyFileA(own, target, FALSE) != 0;
}

// Where the saver is copied to: the plain system folder (the redirection
// under WoW64 picks the right one), or the user's program folder, created
// when missing.
static int SaverTarget(char* target, int size)
{
    char folder[MAX_PATH];
    if (perUserInstall) {
        if (!UserSaverFolder(folder, sizeof(folder)))
            return 0;
        char* slash = strrchr(folder, '\\');
        *slash = 0;
        CreateDirectoryA(folder, NULL);   // "Programs" is missing on older Windows
        *slash = '\\';
        CreateDirectoryA(folder, NULL);
    } else {
        UINT length = GetSystemDirectoryA(folder, sizeof(folder));
        if (!length || length >= sizeof(folder))
            return 0;
    }
    return snprintf(target, size, "%s\\VIVRA.SCR", folder) < size;
}

// The HTML help pages of the source folder's "Help" into the destination's.
static void InstallHelpPages(const char* destination)
{
    char source[MAX_PATH], mask[MAX_PATH], target[MAX_PATH];
    if (!SourceFolder(source, sizeof(source)) || !JoinPath(target, sizeof(target), destination, "Help") ||
        snprintf(mask, sizeof(mask), "%sHelp\\*", source) >= (int)sizeof(mask))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(mask, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    CreateDirectoryA(target, NULL);
    do {
        char name[MAX_PATH];
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            (HasExtension(found.cFileName, ".htm") || lstrcmpiA(found.cFileName, "keywords.txt") == 0) &&
            snprintf(name, sizeof(name), "Help\\%s", found.cFileName) < (int)sizeof(name))
            CopyFromSource(name, destination);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

int InstallFiles(const char* destination, HWND page)
{
    WriteSaverValue("VivraDir", REG_SZ, destination, (DWORD)strlen(destination) + 1);
    ImportDistributionDisplays(destination, page);

    // The path written for others names where the copy really is.
    char own[MAX_PATH], target[MAX_PATH];
    int copied = 0;
    DWORD length = GetModuleFileNameA(NULL, own, sizeof(own));
    if (length && length < sizeof(own) && SaverTarget(target, sizeof(target))) {
        copied = CopySaver(own, target);
        if (!copied) {
            MessageBoxA(page,
                        "Please close any old versions of the Vivarent Screen Saver that might be running and "
                        "then press OK to continue",
                        "Close old versions", MB_OK);
            Sleep(1000);
            copied = CopySaver(own, target);
        }
    }
    if (copied) {
        char installed[MAX_PATH];
        if (InstalledSaverPath(installed, sizeof(installed)))
            RegisterFileTypeFor(perUserInstall, installed);
    }

    SetProgress(page, 95);
    char windows[MAX_PATH];
    UINT windowsLength = GetWindowsDirectoryA(windows, sizeof(windows));
    if (windowsLength && windowsLength < sizeof(windows))
        CopyFromSource("VRNXSLX.HLP", windows);
    InstallHelpPages(destination);
    if (CopyFromSource("UnInstall.EXE", destination))
        RegisterUninstaller(destination);
    InstallImportFilters(destination);

    SetProgress(page, 97);
    CopyFromSource("Runner.EXE", destination);
    CopyFromSource("Setup.EXE", destination);
    CopyFromSource("ReadMe.TXT", destination);
    SetProgress(page, 98);
    CopyFromSource("File_ID.DIZ", destination);
    CopyFromSource("License.TXT", destination);
    SetProgress(page, 99);
    StoreSlogan();
    return copied;
}

// Posts WM_CLOSE to every window of an earlier launcher.
static BOOL CALLBACK CloseLauncherWindow(HWND window, LPARAM)
{
    char text[64];
    if (GetClassNameA(window, text, sizeof(text)) && strcmp(text, launcherClass) == 0) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        return TRUE;
    }
    if (!GetWindowTextA(window, text, sizeof(text)))
        return TRUE;
    for (size_t i = 0; i < sizeof(launcherTitles) / sizeof(launcherTitles[0]); ++i) {
        if (strcmp(text, launcherTitles[i]) == 0) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            break;
        }
    }
    return TRUE;
}

static void WaitForWindowGone(const char* className, const char* title)
{
    for (int step = 0; step < LAUNCHER_WAIT_STEPS && FindWindowA(className, title); ++step)
        Sleep(100);
}

static void CloseLaunchers(void)
{
    EnumWindows(CloseLauncherWindow, 0);
    for (size_t i = 0; i < sizeof(launcherTitles) / sizeof(launcherTitles[0]); ++i)
        WaitForWindowGone(NULL, launcherTitles[i]);
    WaitForWindowGone(launcherClass, NULL);
}

void InstallLauncher(void)
{
    char startup[MAX_PATH];
    if (!ReadShellFolder("Startup", startup, sizeof(startup)))
        return;
    CloseLaunchers();
    if (CopyFromSource("Runner.EXE", startup)) {
        char command[MAX_PATH + 4];
        if (snprintf(command, sizeof(command), "\"%s\\%s\"", startup, "Runner.EXE") < (int)sizeof(command))
            WinExec(command, SW_SHOWNORMAL);
    }
    NotifyFolderChanged(startup);
}

void InstallDesktopUtility(void)
{
    char desktop[MAX_PATH], own[MAX_PATH], target[MAX_PATH];
    if (!ReadShellFolder("Desktop", desktop, sizeof(desktop)))
        return;
    DWORD length = GetModuleFileNameA(NULL, own, sizeof(own));
    if (!length || length >= sizeof(own))
        return;
    if (snprintf(target, sizeof(target), "%s\\VRNX.EXE", desktop) >= (int)sizeof(target))
        return;
    CopyFileA(own, target, FALSE);
    NotifyFolderChanged(desktop);
}

void InstallDesktopDisplays(void)
{
    char desktop[MAX_PATH], folder[MAX_PATH];
    if (!ReadShellFolder("Desktop", desktop, sizeof(desktop)))
        return;
    if (!JoinPath(folder, sizeof(folder), desktop, SAVED_SETTINGS_FOLDER))
        return;
    CreateDirectoryA(folder, NULL);
    ImportDistributionDisplays(folder, NULL);
    NotifyFolderChanged(folder);
}

void InstallAnalyzer(void)
{
    char source[MAX_PATH], command[MAX_PATH + 16];
    if (!SourceFolder(source, sizeof(source)))
        return;
    if (snprintf(command, sizeof(command), "\"%sSonalyx.EXE\" /install", source) < (int)sizeof(command))
        WinExec(command, SW_SHOWNORMAL);
}

void SetDefaultSaver(void)
{
    char path[MAX_PATH];
    if (!InstalledSaverPath(path, sizeof(path)))
        return;
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, NULL, &key, NULL) == ERROR_SUCCESS) {
        RegSetValueExA(key, "SCRNSAVE.EXE", 0, REG_SZ, (const BYTE*)path, (DWORD)strlen(path) + 1);
        RegCloseKey(key);
    }
    WritePrivateProfileStringA("BOOT", "SCRNSAVE.EXE", path, "SYSTEM.INI");
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, TRUE, NULL, SPIF_UPDATEINIFILE);
}

// --- The folder dialog ----------------------------------------------------------

int ChooseFolder(HWND page, char* buffer)
{
    // The dialog returns a file name inside the chosen folder; the hidden
    // name box holds a placeholder so that OK always closes it.
    char file[MAX_PATH] = "Vivra";
    char start[MAX_PATH];
    snprintf(start, sizeof(start), "%s", buffer);
    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof(dialog));
    dialog.lStructSize = sizeof(dialog);
    dialog.hwndOwner = page;
    dialog.hInstance = GetModuleHandleA(NULL);
    dialog.lpstrFilter = "All Files\0*.*\0";
    dialog.lpstrFile = file;
    dialog.nMaxFile = sizeof(file);
    dialog.lpstrInitialDir = FolderExists(start) ? start : NULL;
    dialog.lpstrTitle = "Select Destination Directory";
    dialog.Flags = OFN_ENABLETEMPLATE | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST;
    dialog.lpTemplateName = MAKEINTRESOURCEA(FOLDER_TEMPLATE);
    if (!GetOpenFileNameA(&dialog))
        return 0;
    char* slash = strrchr(file, '\\');
    if (!slash || slash == file)
        return 0;
    // "C:\name" leaves the root "C:\", not the drive-relative "C:".
    if (slash == file + 2 && file[1] == ':')
        ++slash;
    *slash = 0;
    snprintf(buffer, MAX_PATH, "%s", file);
    return 1;
}

// --- The wizard -------------------------------------------------------------------

// Each page keeps its own bold copy of the dialog font for its title line.
static HFONT headingFonts[PAGE_COUNT];

static void SetHeadingFont(HWND page, int number)
{
    HWND heading = GetDlgItem(page, SETUP_HEADING);
    if (!heading || number < 0 || number >= PAGE_COUNT)
        return;
    if (!headingFonts[number]) {
        LOGFONTA font;
        HFONT pageFont = (HFONT)SendMessageA(page, WM_GETFONT, 0, 0);
        if (!pageFont || !GetObjectA(pageFont, sizeof(font), &font))
            return;
        font.lfWeight = FW_BOLD;
        headingFonts[number] = CreateFontIndirectA(&font);
    }
    if (headingFonts[number])
        SendMessageA(heading, WM_SETFONT, (WPARAM)headingFonts[number], FALSE);
}

static void FreeHeadingFont(int number)
{
    if (number >= 0 && number < PAGE_COUNT && headingFonts[number]) {
        DeleteObject(headingFonts[number]);
        headingFonts[number] = 0;
    }
}

static void ShowDestination(HWND page)
{
    SetDlgItemTextA(page, SETUP_DESTINATION, destinationFolder);
}

// "/elevated MASK "FOLDER"": the choices of the wizard that restarted this
// process. Anything else, or a folder that does not fit, starts afresh.
static void ReadRestartChoices(void)
{
    if (!StartedElevated())
        return;
    const char* p = GetCommandLineArguments();
    while (*p == ' ' || *p == '\t')
        ++p;
    p += strlen(ELEVATED_SWITCH);
    char* end;
    long mask = strtol(p, &end, 10);
    if (end == p || mask < 0 || mask >= (1 << INSTALL_OPTION_COUNT))
        return;
    while (*end == ' ')
        ++end;
    const char* close = *end == '"' ? strchr(end + 1, '"') : NULL;
    if (!close || close == end + 1 || close - end - 1 >= (int)sizeof(destinationFolder))
        return;
    memcpy(destinationFolder, end + 1, close - end - 1);
    destinationFolder[close - end - 1] = 0;
    restartChoices = (int)mask;
}

static int ChosenOptions(HWND page)
{
    int mask = 0;
    for (int i = 0; i < INSTALL_OPTION_COUNT; ++i)
        if (IsDlgButtonChecked(page, installOptions[i]) == BST_CHECKED)
            mask |= 1 << i;
    return mask;
}

static void ActivatePage(HWND page, int number)
{
    HWND wizard = GetParent(page);
    switch (number) {
    case PAGE_DIRECTORY:
        PostMessageA(wizard, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
        // The restarted wizard goes on where the first one stopped.
        if (restartChoices >= 0)
            PostMessageA(wizard, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
        break;
    case PAGE_INSTALL: {
        CheckDlgButton(page, SETUP_DEFAULT_SAVER, BST_CHECKED);
        CheckDlgButton(page, SETUP_LAUNCHER, BST_CHECKED);
        CheckDlgButton(page, SETUP_UTILITY, BST_UNCHECKED);
        CheckDlgButton(page, SETUP_DISPLAYS, BST_UNCHECKED);
        char source[MAX_PATH], analyzer[MAX_PATH];
        int present = SourceFolder(source, sizeof(source)) &&
                      snprintf(analyzer, sizeof(analyzer), "%sSonalyx.EXE", source) < (int)sizeof(analyzer) &&
                      GetFileAttributesA(analyzer) != INVALID_FILE_ATTRIBUTES;
        CheckDlgButton(page, SETUP_ANALYZER, present ? BST_CHECKED : BST_UNCHECKED);
        ShowWindow(GetDlgItem(page, SETUP_ANALYZER), present ? SW_SHOW : SW_HIDE);
        PostMessageA(wizard, PSM_SETWIZBUTTONS, 0, PSWIZB_NEXT);
        if (restartChoices >= 0) {
            for (int i = 0; i < INSTALL_OPTION_COUNT; ++i)
                CheckDlgButton(page, installOptions[i], restartChoices & (1 << i) ? BST_CHECKED : BST_UNCHECKED);
            PostMessageA(wizard, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
        }
        break;
    }
    default:
        PostMessageA(wizard, PSM_SETWIZBUTTONS, 0, PSWIZB_FINISH);
        break;
    }
}

// Leaving page 0: the destination must be a folder, created when missing.
static int AcceptDestination(HWND page)
{
    GetDlgItemTextA(page, SETUP_DESTINATION, destinationFolder, sizeof(destinationFolder));
    CreateDirectoryA(destinationFolder, NULL);
    if (FolderExists(destinationFolder))
        return 1;
    MessageBoxA(page, destinationFolder, "Invalid directory name!", MB_OK | MB_ICONERROR);
    return 0;
}

static int Checked(HWND page, int control)
{
    return IsDlgButtonChecked(page, control) == BST_CHECKED;
}

// Starts this program again with administrator rights ("runas", which asks
// the user) and the wizard's choices; 1 when it started.
static int RestartElevated(HWND page)
{
    char own[MAX_PATH], arguments[MAX_PATH + 32];
    DWORD length = GetModuleFileNameA(NULL, own, sizeof(own));
    if (!length || length >= sizeof(own) ||
        snprintf(arguments, sizeof(arguments), "%s %d \"%s\"", ELEVATED_SWITCH, ChosenOptions(page),
                 destinationFolder) >= (int)sizeof(arguments))
        return 0;
    SHELLEXECUTEINFOA info;
    memset(&info, 0, sizeof(info));
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOASYNC;
    info.hwnd = GetParent(page);
    info.lpVerb = "runas";
    info.lpFile = own;
    info.lpParameters = arguments;
    info.nShow = SW_SHOWNORMAL;
    return platform.shellExecute(&info) != 0;
}

static int OfferPerUserInstall(HWND page)
{
    char folder[MAX_PATH], text[MAX_PATH + 400];
    if (!UserSaverFolder(folder, sizeof(folder)))
        return 0;
    snprintf(text, sizeof(text),
             "Setup cannot write to the Windows system folder without administrator rights.\n\n"
             "Install the Vivarent Screen Saver for you alone instead? The saver then goes into your program "
             "folder:\n\n%s",
             folder);
    return MessageBoxA(page, text, "Install for You Only", MB_YESNO | MB_ICONQUESTION) == IDYES;
}

// Without the right to write the system folder, the installation happens in
// an elevated copy of setup, or, when the user declines that, for the user
// alone. 0 when nothing is to be installed here.
static int ChooseInstallation(HWND page)
{
    if (perUserInstall || platform.canWriteSystemFolder())
        return 1;
    if (!StartedElevated() && RestartElevated(page)) {
        PostMessageA(GetParent(page), PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
        return 0;
    }
    perUserInstall = OfferPerUserInstall(page);
    return perUserInstall;
}

// Leaving page 1 installs.
static int Install(HWND page)
{
    restartChoices = -1;
    if (!ChooseInstallation(page))
        return 0;
    HCURSOR previous = SetCursor(LoadCursor(NULL, IDC_WAIT));
    SendDlgItemMessageA(page, SETUP_PROGRESS, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SetProgress(page, 0);
    if (Checked(page, SETUP_LAUNCHER))
        InstallLauncher();
    SetProgress(page, 1);
    if (Checked(page, SETUP_UTILITY))
        InstallDesktopUtility();
    SetProgress(page, 2);
    if (Checked(page, SETUP_DISPLAYS))
        InstallDesktopDisplays();
    SetProgress(page, 3);
    if (Checked(page, SETUP_ANALYZER) && IsWindowVisible(GetDlgItem(page, SETUP_ANALYZER)))
        InstallAnalyzer();
    SetProgress(page, 4);
    if (Checked(page, SETUP_DEFAULT_SAVER))
        SetDefaultSaver();
    SetProgress(page, 5);
    if (!InstallFiles(destinationFolder, page)) {
        MessageBoxA(page, "Unable to install. Please check to make sure that you have enough disk space (about 1MB).",
                    "Install Problem...", MB_OK | MB_ICONERROR);
        SetCursor(previous);
        return 0;
    }
    SetProgress(page, 100);
    SetCursor(previous);
    return 1;
}

static void RunInstalled(const char* arguments)
{
    char path[MAX_PATH], command[MAX_PATH + 16];
    if (InstalledSaverPath(path, sizeof(path)) &&
        snprintf(command, sizeof(command), "\"%s\" %s", path, arguments) < (int)sizeof(command))
        WinExec(command, SW_SHOWNORMAL);
}

INT_PTR CALLBACK SetupPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        const PROPSHEETPAGEA* sheetPage = (const PROPSHEETPAGEA*)lParam;
        SetWindowLongPtrA(page, DWLP_USER, sheetPage ? sheetPage->lParam : 0);
        if (sheetPage && sheetPage->lParam == PAGE_DIRECTORY)
            ReadRestartChoices();
        if (!destinationFolder[0]) {
            ReadSaverValue("VivraDir", REG_SZ, destinationFolder, sizeof(destinationFolder));
            destinationFolder[sizeof(destinationFolder) - 1] = 0;
            if (!destinationFolder[0])
                snprintf(destinationFolder, sizeof(destinationFolder), "%s", defaultDestination);
        }
        SendDlgItemMessageA(page, SETUP_DESTINATION, EM_LIMITTEXT, MAX_PATH - 1, 0);
        ShowDestination(page);
        SetHeadingFont(page, (int)GetWindowLongPtrA(page, DWLP_USER));
        return TRUE;
    }
    case WM_DESTROY:
        FreeHeadingFont((int)GetWindowLongPtrA(page, DWLP_USER));
        return FALSE;
    case WM_NOTIFY: {
        const NMHDR* header = (const NMHDR*)lParam;
        int number = (int)GetWindowLongPtrA(page, DWLP_USER);
        switch (header->code) {
        case PSN_SETACTIVE:
            ActivatePage(page, number);
            SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
            return TRUE;
        case PSN_WIZNEXT: {
            int ok = 1;
            if (number == PAGE_DIRECTORY)
                ok = AcceptDestination(page);
            else if (number == PAGE_INSTALL)
                ok = Install(page);
            SetWindowLongPtrA(page, DWLP_MSGRESULT, ok ? 0 : -1);
            return TRUE;
        }
        }
        return FALSE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case SETUP_BROWSE:
            GetDlgItemTextA(page, SETUP_DESTINATION, destinationFolder, sizeof(destinationFolder));
            if (ChooseFolder(page, destinationFolder))
                ShowDestination(page);
            return TRUE;
        case SETUP_TEST_DRIVE:
            RunInstalled("/C");
            return TRUE;
        case SETUP_CONFIGURE:
            WinExec("control desktop", SW_SHOWNORMAL);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

// --- Import filters -------------------------------------------------------------

int InstallImportFilters(const char* destination)
{
    // The saver's own filter: copied beside the saver and registered where
    // the picture loader looks for filters (machine-wide: without
    // administrator rights the registration fails quietly).
    char path[MAX_PATH];
    if (!CopyFromSource(IMPORT_FILTER_FILE, destination) ||
        !JoinPath(path, sizeof(path), destination, IMPORT_FILTER_FILE))
        return 0;
    return RegisterImportFilter(path);
}
