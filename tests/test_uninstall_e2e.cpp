// The real UnInstall.EXE against an installed state built here: files in the
// system and Windows folders, the destination folder, the registry, the
// desktop and Startup items and SYSTEM.INI. Its message boxes are answered
// the way a user would.
#include <gtest/gtest.h>
#include "support/harness.h"
#include <windows.h>
#include <string>
#include <vector>

static const char* const SHELL_FOLDERS = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
static const char* const SAVER_KEY = "Control Panel\\Screen Saver.Vivra";
static const char* const UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vivra";
static const char* const TEST_ROOT = "C:\\uninstall-test";
// Import filters: ours as setup registers it, and another program's.
static const char* const OWN_FILTER = "SOFTWARE\\Microsoft\\Shared Tools\\Graphics Filters\\Import\\Vivra PNG";
static const char* const OTHER_FILTER = "SOFTWARE\\Microsoft\\Shared Tools\\Graphics Filters\\Import\\Vivra TIF";

// What earlier versions and this one leave in the system and Windows folders.
static const char* const savedFiles[] = {
    "Runner.EXE",
    "VRCYCL32.SCR", "VRPATT32.SCR", "VRPOLY32.SCR", "VRSTAN32.SCR",
    "VRPLAS32.SCR", "VRSTAR32.SCR", "VRVORT32.SCR", "VRBEZR32.SCR",
    "VRCYCL16.SCR", "VRPATT16.SCR", "VRPOLY16.SCR", "VRSTAN16.SCR",
    "VRPLAS16.SCR", "VRSTAR16.SCR", "VRVORT16.SCR", "VRBEZR16.SCR",
    "Vivra.SCR",
};
// What setup put in the destination folder; none of it may go.
static const char* const destinationFiles[] = {
    "UnInstall.EXE", "Runner.EXE", "Setup.EXE", "ReadMe.TXT", "License.TXT", "File_ID.DIZ", "Ocean.VIV",
};

static std::string SystemFolder(void)
{
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, MAX_PATH);
    return folder;
}

static std::string WindowsFolder(void)
{
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, MAX_PATH);
    return folder;
}

static std::string UninstallPath(void)
{
    std::string saver = SaverPath();
    return saver.substr(0, saver.find_last_of('\\') + 1) + "UnInstall.EXE";
}

static std::string Join(const std::string& folder, const char* name)
{
    return folder + "\\" + name;
}

static void WriteText(const std::string& path, const char* text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD written = 0;
    WriteFile(file, text, lstrlenA(text), &written, NULL);
    CloseHandle(file);
}

static bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static bool KeyExists(HKEY root, const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

static void SetString(HKEY root, const char* path, const char* name, const std::string& value)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(root, path, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL), ERROR_SUCCESS) << path;
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(key);
}

// The value's text, or "<missing>".
static std::string GetString(HKEY root, const char* path, const char* name)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "<missing>";
    char text[512] = "";
    DWORD size = sizeof(text) - 1;
    DWORD type = 0;
    LONG result = RegQueryValueExA(key, name, NULL, &type, (BYTE*)text, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string(text) : std::string("<missing>");
}

static std::string BootSaver(void)
{
    char text[MAX_PATH] = "";
    GetPrivateProfileStringA("BOOT", "SCRNSAVE.EXE", "<missing>", text, sizeof(text), "SYSTEM.INI");
    return text;
}

static void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(Join(folder, "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(Join(folder, name.c_str()));
            else
                DeleteFileA(Join(folder, name.c_str()).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// A message box of the uninstaller: its caption, text and buttons.
struct Box {
    HWND window;
    std::string caption;
    std::string text;
    bool yesNo;
    bool ok;
};

struct BoxSearch {
    DWORD processId;
    HWND found;
};

static BOOL CALLBACK FindBox(HWND window, LPARAM lParam)
{
    BoxSearch* search = (BoxSearch*)lParam;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[32] = "";
    GetClassNameA(window, className, sizeof(className));
    if (owner == search->processId && lstrcmpA(className, "#32770") == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Waits for the next message box of the process; false when the process
// ended or none came within timeoutMs.
static bool WaitBox(const PROCESS_INFORMATION& process, Box* box, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        BoxSearch search = {process.dwProcessId, 0};
        EnumWindows(FindBox, (LPARAM)&search);
        if (search.found) {
            char text[512] = "";
            box->window = search.found;
            GetWindowTextA(search.found, text, sizeof(text));
            box->caption = text;
            text[0] = 0;
            GetDlgItemTextA(search.found, 0xFFFF, text, sizeof(text));
            box->text = text;
            box->yesNo = GetDlgItem(search.found, IDYES) && GetDlgItem(search.found, IDNO);
            box->ok = GetDlgItem(search.found, IDOK) != NULL;
            return true;
        }
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0)
            return false;
    }
    return false;
}

// Presses a button of the box and waits until the box is gone.
static void Answer(const Box& box, int button)
{
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box.window, button));
    for (int i = 0; i < 100 && IsWindow(box.window); i++)
        Sleep(50);
}

// Launcher windows of an earlier version, run on a thread of their own.
struct Launchers {
    HANDLE thread;
    DWORD threadId;
    HWND titled;      // "Zelkor V2.5": closes when asked
    HWND classed;     // class "Zelkor v3.0": closes when asked
    HWND stubborn;    // "Zelkor": ignores WM_CLOSE (only when asked for)
    bool withStubborn;
    HANDLE ready;
};

static LRESULT CALLBACK StubbornProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE)
        return 0;
    return DefWindowProcA(window, message, wParam, lParam);
}

static DWORD WINAPI LauncherThread(void* parameter)
{
    Launchers* launchers = (Launchers*)parameter;
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "Zelkor v3.0";
    RegisterClassA(&windowClass);
    windowClass.lpszClassName = "TestLauncher";
    RegisterClassA(&windowClass);
    windowClass.lpfnWndProc = StubbornProc;
    windowClass.lpszClassName = "TestStubbornLauncher";
    RegisterClassA(&windowClass);
    launchers->titled = CreateWindowA("TestLauncher", "Zelkor V2.5", WS_OVERLAPPEDWINDOW, 0, 0, 120, 80, NULL, NULL,
                                      GetModuleHandleA(NULL), NULL);
    launchers->classed = CreateWindowA("Zelkor v3.0", "Runner", WS_OVERLAPPEDWINDOW, 0, 0, 120, 80, NULL, NULL,
                                       GetModuleHandleA(NULL), NULL);
    if (launchers->withStubborn)
        launchers->stubborn = CreateWindowA("TestStubbornLauncher", "Zelkor", WS_OVERLAPPEDWINDOW, 0, 0, 120, 80,
                                            NULL, NULL, GetModuleHandleA(NULL), NULL);
    SetEvent(launchers->ready);
    MSG message;
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (launchers->stubborn)
        DestroyWindow(launchers->stubborn);
    return 0;
}

static void StartLaunchers(Launchers* launchers, bool withStubborn)
{
    ZeroMemory(launchers, sizeof(*launchers));
    launchers->withStubborn = withStubborn;
    launchers->ready = CreateEventA(NULL, TRUE, FALSE, NULL);
    launchers->thread = CreateThread(NULL, 0, LauncherThread, launchers, 0, &launchers->threadId);
    WaitForSingleObject(launchers->ready, 5000);
}

static void StopLaunchers(Launchers* launchers)
{
    PostThreadMessageA(launchers->threadId, WM_QUIT, 0, 0);
    WaitForSingleObject(launchers->thread, 5000);
    CloseHandle(launchers->thread);
    CloseHandle(launchers->ready);
}

class Uninstall : public ::testing::Test {
protected:
    std::string startup, desktop, destination, savedSettings;
    std::string oldStartup, oldDesktop, oldDesktopSaver, oldBootSaver;
    std::string installedSaver;

    void SetUp() override
    {
        oldStartup = GetString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Startup");
        oldDesktop = GetString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Desktop");
        oldDesktopSaver = GetString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "SCRNSAVE.EXE");
        oldBootSaver = BootSaver();
        RemoveTree(TEST_ROOT);
        CreateDirectoryA(TEST_ROOT, NULL);
        // The shell keeps these values in step with the real folders (it
        // rewrites them when it looks a folder up), so the items go into the
        // prefix's own Startup and Desktop folders.
        startup = oldStartup != "<missing>" ? oldStartup : Join(TEST_ROOT, "Startup");
        desktop = oldDesktop != "<missing>" ? oldDesktop : Join(TEST_ROOT, "Desktop");
        destination = Join(TEST_ROOT, "Vivra");
        savedSettings = Join(desktop, "VRNX - Saved Settings");
        CreateFolders(startup);
        CreateFolders(desktop);
        CreateDirectoryA(destination.c_str(), NULL);
        RemoveTree(savedSettings);
        CreateDirectoryA(savedSettings.c_str(), NULL);
        SetString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Startup", startup);
        SetString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Desktop", desktop);
        installedSaver = Join(SystemFolder(), "VIVRA.SCR");
        Install();
    }

    static void CreateFolders(const std::string& path)
    {
        for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
            CreateDirectoryA(path.substr(0, at).c_str(), NULL);
        CreateDirectoryA(path.c_str(), NULL);
    }

    void TearDown() override
    {
        for (const char* name : savedFiles) {
            DeleteFileA(Join(SystemFolder(), name).c_str());
            DeleteFileA(Join(WindowsFolder(), name).c_str());
        }
        DeleteFileA(Join(SystemFolder(), "OTHERSAV.SCR").c_str());
        DeleteFileA(Join(WindowsFolder(), "VRNXSLX.HLP").c_str());
        DeleteFileA(Join(startup, "Runner.EXE").c_str());
        DeleteFileA(Join(desktop, "VRNX.EXE").c_str());
        RemoveTree(savedSettings);
        RemoveTree(TEST_ROOT);
        RestoreString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Startup", oldStartup);
        RestoreString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Desktop", oldDesktop);
        RestoreString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "SCRNSAVE.EXE", oldDesktopSaver);
        WritePrivateProfileStringA("BOOT", "SCRNSAVE.EXE", oldBootSaver == "<missing>" ? NULL : oldBootSaver.c_str(),
                                   "SYSTEM.INI");
        RegDeleteKeyA(HKEY_CLASSES_ROOT, ".VIV");
        RegDeleteKeyA(HKEY_CLASSES_ROOT, "Vivra\\shell\\open\\command");
        RegDeleteKeyA(HKEY_CLASSES_ROOT, "Vivra\\shell\\open");
        RegDeleteKeyA(HKEY_CLASSES_ROOT, "Vivra\\shell");
        RegDeleteKeyA(HKEY_CLASSES_ROOT, "Vivra\\DefaultIcon");
        RegDeleteKeyA(HKEY_CLASSES_ROOT, "Vivra");
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, OWN_FILTER);
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, OTHER_FILTER);
    }

    static void RestoreString(HKEY root, const char* path, const char* name, const std::string& value)
    {
        if (value != "<missing>") {
            SetString(root, path, name, value);
            return;
        }
        HKEY key;
        if (RegOpenKeyExA(root, path, 0, KEY_WRITE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, name);
            RegCloseKey(key);
        }
    }

    // What setup leaves behind, plus the savers of earlier versions.
    void Install()
    {
        for (const char* name : savedFiles) {
            WriteText(Join(SystemFolder(), name), name);
            WriteText(Join(WindowsFolder(), name), name);
        }
        WriteText(Join(SystemFolder(), "OTHERSAV.SCR"), "another saver");
        WriteText(Join(WindowsFolder(), "VRNXSLX.HLP"), "help");
        for (const char* name : destinationFiles)
            WriteText(Join(destination, name), name);
        WriteText(Join(startup, "Runner.EXE"), "launcher");
        WriteText(Join(desktop, "VRNX.EXE"), "configuration utility");
        WriteText(Join(savedSettings, "Ocean.VIV"), "display");
        WriteText(Join(savedSettings, "Fire.VIV"), "display");

        SetString(HKEY_CURRENT_USER, SAVER_KEY, "VivraDir", destination);
        SetString(HKEY_CURRENT_USER, SAVER_KEY, "Active", "Ocean");
        SetString(HKEY_CURRENT_USER, "Control Panel\\Screen Saver.Vivra\\Saved\\Ocean\\Modules\\Bezier", "Path", "");
        SetString(HKEY_CURRENT_USER, "Control Panel\\Screen Saver.Vivra\\Saved\\Ocean\\Palette", "Note", "x");
        SetString(HKEY_CURRENT_USER, "Software\\Vivra", "Note", "stamp");
        SetString(HKEY_CLASSES_ROOT, ".VIV", "", "Vivra");
        SetString(HKEY_CLASSES_ROOT, ".VIV", "Content Type", "application/vivra");
        SetString(HKEY_CLASSES_ROOT, "Vivra\\shell\\open\\command", "", "Vivra.SCR /S %1");
        SetString(HKEY_CLASSES_ROOT, "Vivra\\DefaultIcon", "", installedSaver + ",2");
        SetString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayName", "The Vivarent Screen Saver");
        SetString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "UninstallString", Join(destination, "UnInstall.EXE"));
        SetString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "SCRNSAVE.EXE", installedSaver);
        SetString(HKEY_LOCAL_MACHINE, OWN_FILTER, "Path", Join(destination, "VIVIMP32.FLT"));
        SetString(HKEY_LOCAL_MACHINE, OTHER_FILTER, "Path", "C:\\Imaging\\TIFF32.FLT");
        WritePrivateProfileStringA("BOOT", "SCRNSAVE.EXE", installedSaver.c_str(), "SYSTEM.INI");
    }

    // Starts the uninstaller in `folder` as its working folder.
    bool Start(PROCESS_INFORMATION* process, const char* folder = NULL)
    {
        std::string command = "\"" + UninstallPath() + "\"";
        std::vector<char> line(command.begin(), command.end());
        line.push_back(0);
        STARTUPINFOA startupInfo;
        ZeroMemory(&startupInfo, sizeof(startupInfo));
        startupInfo.cb = sizeof(startupInfo);
        ZeroMemory(process, sizeof(*process));
        return CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, folder, &startupInfo, process) != 0;
    }

    // Answers the first question with Yes and the launcher question with
    // `launcher`, checks the closing box, and returns the exit code (-1 when
    // a box is missing or the program does not end).
    DWORD RunAnswering(int launcher, const char* folder = NULL)
    {
        PROCESS_INFORMATION process;
        EXPECT_TRUE(Start(&process, folder)) << UninstallPath();
        if (!process.hProcess)
            return (DWORD)-1;
        DWORD code = (DWORD)-1;
        Box box;
        if (WaitBox(process, &box, 60000)) {
            Answer(box, IDYES);
            Box second;
            if (WaitBox(process, &second, 60000)) {
                EXPECT_EQ(second.caption, "UnInstall Runner");
                EXPECT_EQ(second.text, "Do you wish to uninstall the taskbar screen saver launcher?");
                EXPECT_TRUE(second.yesNo);
                Answer(second, launcher);
                Box last;
                if (WaitBox(process, &last, 60000)) {
                    EXPECT_EQ(last.caption, "UnInstall Complete");
                    EXPECT_EQ(last.text, "The Vivarent Screen Saver has been removed.");
                    EXPECT_TRUE(last.ok);
                    Answer(last, IDOK);
                } else {
                    ADD_FAILURE() << "no closing box";
                }
            } else {
                ADD_FAILURE() << "no launcher question";
            }
        } else {
            ADD_FAILURE() << "no first question";
        }
        if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        else
            TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return code;
    }

    // Everything that must be gone after a completed removal, whatever the
    // launcher answer was.
    void ExpectRemoved()
    {
        for (const char* name : savedFiles) {
            EXPECT_FALSE(Exists(Join(SystemFolder(), name))) << "system folder: " << name;
            EXPECT_FALSE(Exists(Join(WindowsFolder(), name))) << "Windows folder: " << name;
        }
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, SAVER_KEY));
        EXPECT_FALSE(Exists(Join(desktop, "VRNX.EXE")));
        EXPECT_FALSE(Exists(Join(savedSettings, "Ocean.VIV")));
        EXPECT_FALSE(Exists(Join(savedSettings, "Fire.VIV")));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".VIV"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "Vivra"));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, UNINSTALL_KEY));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, OWN_FILTER));
        EXPECT_EQ(BootSaver(), "(None)");
    }

    // What the removal never touches.
    void ExpectKept()
    {
        EXPECT_TRUE(Exists(Join(SystemFolder(), "OTHERSAV.SCR")));
        EXPECT_TRUE(Exists(Join(WindowsFolder(), "VRNXSLX.HLP")));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, OTHER_FILTER)) << "a filter of someone else's";
        for (const char* name : destinationFiles)
            EXPECT_TRUE(Exists(Join(destination, name))) << name;
        EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Software\\Vivra", "Note"), "stamp");
        EXPECT_EQ(GetString(HKEY_CURRENT_USER, "Control Panel\\Desktop", "SCRNSAVE.EXE"), installedSaver);
    }
};

TEST_F(Uninstall, NoToTheFirstQuestionChangesNothing)
{
    PROCESS_INFORMATION process;
    ASSERT_TRUE(Start(&process)) << UninstallPath();
    Box box;
    ASSERT_TRUE(WaitBox(process, &box, 60000));
    EXPECT_EQ(box.caption, "UnInstall");
    EXPECT_EQ(box.text, "Are you sure you want to remove the Vivarent Screen Saver from your system?");
    EXPECT_TRUE(box.yesNo);
    SaveScreenBmp(OutputPath("uninstall_question.bmp").c_str());
    Answer(box, IDNO);
    ASSERT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    EXPECT_EQ(code, 0u);

    for (const char* name : savedFiles) {
        EXPECT_TRUE(Exists(Join(SystemFolder(), name))) << name;
        EXPECT_TRUE(Exists(Join(WindowsFolder(), name))) << name;
    }
    EXPECT_TRUE(Exists(Join(startup, "Runner.EXE")));
    EXPECT_TRUE(Exists(Join(desktop, "VRNX.EXE")));
    EXPECT_TRUE(Exists(Join(savedSettings, "Ocean.VIV")));
    EXPECT_EQ(GetString(HKEY_CURRENT_USER, SAVER_KEY, "Active"), "Ocean");
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Control Panel\\Screen Saver.Vivra\\Saved\\Ocean\\Modules\\Bezier"));
    EXPECT_EQ(GetString(HKEY_CLASSES_ROOT, ".VIV", ""), "Vivra");
    EXPECT_EQ(GetString(HKEY_CLASSES_ROOT, "Vivra\\shell\\open\\command", ""), "Vivra.SCR /S %1");
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, "DisplayName"), "The Vivarent Screen Saver");
    EXPECT_EQ(BootSaver(), installedSaver);
    ExpectKept();
}

TEST_F(Uninstall, NoToTheLauncherKeepsItAndRemovesEverythingElse)
{
    // The user keeps other files next to the saved displays.
    WriteText(Join(savedSettings, "My notes.TXT"), "mine");
    EXPECT_EQ(RunAnswering(IDNO), (DWORD)IDOK);
    ExpectRemoved();
    ExpectKept();
    EXPECT_TRUE(Exists(Join(startup, "Runner.EXE")));
    EXPECT_TRUE(Exists(Join(savedSettings, "My notes.TXT")));
}

TEST_F(Uninstall, YesToTheLauncherClosesAndRemovesIt)
{
    Launchers launchers;
    StartLaunchers(&launchers, false);
    ASSERT_TRUE(IsWindow(launchers.titled));
    ASSERT_TRUE(IsWindow(launchers.classed));
    EXPECT_EQ(RunAnswering(IDYES), (DWORD)IDOK);
    EXPECT_FALSE(IsWindow(launchers.titled));
    EXPECT_FALSE(IsWindow(launchers.classed));
    StopLaunchers(&launchers);
    ExpectRemoved();
    ExpectKept();
    EXPECT_FALSE(Exists(Join(startup, "Runner.EXE")));
    EXPECT_FALSE(Exists(savedSettings));
}

// A launcher that never closes held the removal for ever.
TEST_F(Uninstall, LauncherThatIgnoresCloseDoesNotHangTheRemoval)
{
    Launchers launchers;
    StartLaunchers(&launchers, true);
    ASSERT_TRUE(IsWindow(launchers.stubborn));
    // Without a bound on the wait the closing box never comes.
    EXPECT_EQ(RunAnswering(IDYES), (DWORD)IDOK);
    EXPECT_TRUE(IsWindow(launchers.stubborn));
    EXPECT_FALSE(IsWindow(launchers.titled));
    StopLaunchers(&launchers);
    ExpectRemoved();
    EXPECT_FALSE(Exists(Join(startup, "Runner.EXE")));
}

// Empty shell-folder values named the root of the working drive, where the
// removal then deleted files that are not ours.
TEST_F(Uninstall, EmptyShellFoldersLeaveTheDriveRootAlone)
{
    SetString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Startup", "");
    SetString(HKEY_CURRENT_USER, SHELL_FOLDERS, "Desktop", "");
    std::string rootFolder = "C:\\VRNX - Saved Settings";
    bool folderWasThere = Exists(rootFolder);
    CreateDirectoryA(rootFolder.c_str(), NULL);
    const char* const rootFiles[] = {"C:\\VRNX.EXE", "C:\\Runner.EXE", "C:\\VRNX - Saved Settings\\Keep.VIV"};
    for (const char* path : rootFiles)
        ASSERT_FALSE(Exists(path)) << path << " belongs to someone else";
    for (const char* path : rootFiles)
        WriteText(path, "not ours");
    EXPECT_EQ(RunAnswering(IDYES, "C:\\"), (DWORD)IDOK);
    for (const char* path : rootFiles) {
        EXPECT_TRUE(Exists(path)) << path;
        DeleteFileA(path);
    }
    if (!folderWasThere)
        RemoveDirectoryA(rootFolder.c_str());
    // The rest of the removal still ran.
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, SAVER_KEY));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, ".VIV"));
    EXPECT_EQ(BootSaver(), "(None)");
}
