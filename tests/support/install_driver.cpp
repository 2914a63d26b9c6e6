#include <gtest/gtest.h>
#include "support/install_driver.h"
#include "support/harness.h"
#include "runtime/framework.h"
#include "settings/registry.h"
#include "settings/vivfile.h"
#include "setup/setup.h"
#include <commctrl.h>
#include <stdlib.h>
#include <vector>

static std::string FolderOf(const std::string& path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

static void RemoveTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

std::string FreshFolder(const char* name)
{
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string folder = std::string(temp) + name;
    RemoveTree(folder);
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

static int WriteTextFile(const std::string& path, const std::string& text)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
    return written == text.size();
}

std::string DistributionSlogan(void)
{
    std::string text = "Colours that move with the music. ";
    while (text.size() < 300)
        text += "Vivarent paints the night. ";
    return text.substr(0, 300);
}

int MakeDistribution(const std::string& folder, unsigned parts)
{
    std::string saver = SaverPath();
    if (!CopyFileA(saver.c_str(), (folder + "\\Setup.EXE").c_str(), FALSE))
        return 0;
    std::string runner = EnvironmentPath("VIVRA_RUNNER");
    if (parts & DIST_UNINSTALL) {
        std::string uninstall = FolderOf(saver) + "\\UnInstall.exe";
        if (FileExists(uninstall))
            CopyFileA(uninstall.c_str(), (folder + "\\UnInstall.EXE").c_str(), FALSE);
    }
    if ((parts & DIST_RUNNER) && !CopyFileA(runner.c_str(), (folder + "\\Runner.EXE").c_str(), FALSE))
        return 0;
    if ((parts & DIST_ANALYZER) && !CopyFileA(runner.c_str(), (folder + "\\Sonalyx.EXE").c_str(), FALSE))
        return 0;
    if (parts & DIST_TEXTS) {
        WriteTextFile(folder + "\\ReadMe.TXT", "Read me.\r\n");
        WriteTextFile(folder + "\\License.TXT", "License.\r\n");
        WriteTextFile(folder + "\\File_ID.DIZ", "The Vivarent Screen Saver\r\n");
        WriteTextFile(folder + "\\VRNXSLX.HLP", "help\r\n");
    }
    if (parts & DIST_FILTER) {
        std::string filter = EnvironmentPath("VIVRA_FLT");
        if (!CopyFileA(filter.c_str(), (folder + "\\VIVIMP32.FLT").c_str(), FALSE))
            return 0;
    }
    if (parts & DIST_HELP) {
        std::string pages = FolderOf(saver) + "\\Help";
        CreateDirectoryA((folder + "\\Help").c_str(), NULL);
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((pages + "\\*.htm").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE)
            return 0;
        do
            CopyFileA((pages + "\\" + found.cFileName).c_str(), (folder + "\\Help\\" + found.cFileName).c_str(), 0);
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    if (parts & DIST_SLOGAN)
        WriteTextFile(folder + "\\Slogan.TXT", DistributionSlogan());
    return 1;
}

int AddDistributionDisplay(const std::string& folder, const char* name, int module)
{
    static int initialised = 0;
    if (!initialised) {
        InitModules();
        initialised = 1;
    }
    ResetModuleControls(module);
    if (!WriteDefaultDisplay(module, "[T]", 5))
        return 0;
    std::string display = std::string("[T] ") + moduleNames[module];
    std::string file = folder + "\\" + name + ".VIV";
    int ok = WriteDisplayFile(display.c_str(), file.c_str());
    DeleteDisplay(display.c_str());
    return ok;
}

struct WindowSearch {
    DWORD processId;
    const char* className;
    const char* title;
    HWND found;
};

static BOOL CALLBACK MatchWindow(HWND window, LPARAM lParam)
{
    WindowSearch* search = (WindowSearch*)lParam;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (search->processId && owner != search->processId)
        return TRUE;
    char text[256] = "";
    if (search->className) {
        GetClassNameA(window, text, sizeof(text));
        if (lstrcmpA(text, search->className) != 0)
            return TRUE;
    }
    if (search->title) {
        GetWindowTextA(window, text, sizeof(text));
        if (lstrcmpA(text, search->title) != 0)
            return TRUE;
    }
    if (!IsWindowVisible(window))
        return TRUE;
    search->found = window;
    return FALSE;
}

static HWND WaitForWindow(DWORD processId, const char* className, const char* title, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        WindowSearch search = {processId, className, title, NULL};
        EnumWindows(MatchWindow, (LPARAM)&search);
        if (search.found || GetTickCount() - start > timeoutMs)
            return search.found;
        Sleep(50);
    }
}

HWND FindTopWindow(const char* className, const char* title, DWORD timeoutMs)
{
    return WaitForWindow(0, className, title, timeoutMs);
}

struct WizardSearch {
    DWORD processId;
    DWORD otherThan;   // with processId 0: any process but this one
    HWND found;
};

static BOOL CALLBACK MatchWizard(HWND window, LPARAM lParam)
{
    WizardSearch* search = (WizardSearch*)lParam;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char className[16] = "";
    GetClassNameA(window, className, sizeof(className));
    if ((search->processId ? owner != search->processId : owner == search->otherThan) ||
        lstrcmpA(className, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    if (!SendMessageA(window, PSM_GETCURRENTPAGEHWND, 0, 0))
        return TRUE;
    search->found = window;
    return FALSE;
}

int StartSetup(const std::string& folder, SetupProcess* setup, DWORD timeoutMs)
{
    ZeroMemory(setup, sizeof(*setup));
    std::string command = "\"" + folder + "\\Setup.EXE\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, folder.c_str(), &startup, &setup->info))
        return 0;
    // The wizard: the process's dialog window that holds a current page (the
    // screen-saver library's own empty dialog is there too).
    DWORD start = GetTickCount();
    for (;;) {
        WizardSearch search = {setup->info.dwProcessId, 0, NULL};
        EnumWindows(MatchWizard, (LPARAM)&search);
        setup->wizard = search.found;
        if (setup->wizard)
            return 1;
        // A setup that ended shows no wizard any more.
        if (WaitForSingleObject(setup->info.hProcess, 0) == WAIT_OBJECT_0 || GetTickCount() - start > timeoutMs)
            return 0;
        Sleep(100);
    }
}

int AttachSetup(DWORD otherThan, SetupProcess* setup, DWORD timeoutMs)
{
    ZeroMemory(setup, sizeof(*setup));
    DWORD start = GetTickCount();
    WizardSearch search = {0, otherThan, NULL};
    while (EnumWindows(MatchWizard, (LPARAM)&search), !search.found && GetTickCount() - start < timeoutMs)
        Sleep(100);
    if (!search.found)
        return 0;
    setup->wizard = search.found;
    GetWindowThreadProcessId(search.found, &setup->info.dwProcessId);
    setup->info.hProcess = OpenProcess(PROCESS_ALL_ACCESS, FALSE, setup->info.dwProcessId);
    return setup->info.hProcess != NULL;
}

DWORD RunUninstaller(const std::string& path)
{
    std::string command = "\"" + path + "\"";
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return (DWORD)-1;
    static const char* const captions[] = {"UnInstall", "UnInstall Runner", "UnInstall Complete"};
    static const int answers[] = {IDYES, IDNO, IDOK};
    int answered = 0;
    for (HWND box; answered < 3 && (box = WaitForMessageBox(process.dwProcessId, captions[answered], NULL, 60000));)
        AnswerMessageBox(box, answers[answered++]);
    DWORD code = (DWORD)-1;
    if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0 && answered == 3)
        GetExitCodeProcess(process.hProcess, &code);
    TerminateProcess(process.hProcess, 1);   // a process that ended ignores it
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

HWND CurrentPage(const SetupProcess* setup)
{
    return (HWND)SendMessageA(setup->wizard, PSM_GETCURRENTPAGEHWND, 0, 0);
}

HWND WaitForPage(const SetupProcess* setup, int id, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND page = CurrentPage(setup);
        if (page && GetDlgItem(page, id))
            return page;
        if (GetTickCount() - start > timeoutMs)
            return NULL;
        Sleep(50);
    }
}

void PressNext(const SetupProcess* setup)
{
    PostMessageA(setup->wizard, PSM_PRESSBUTTON, PSBTN_NEXT, 0);
}

void PressFinish(const SetupProcess* setup)
{
    PostMessageA(setup->wizard, PSM_PRESSBUTTON, PSBTN_FINISH, 0);
}

static BOOL CALLBACK CollectText(HWND child, LPARAM lParam)
{
    char className[32] = "", text[512] = "";
    GetClassNameA(child, className, sizeof(className));
    if (lstrcmpiA(className, "Static") == 0 && GetWindowTextA(child, text, sizeof(text)) && text[0]) {
        std::string* collected = (std::string*)lParam;
        if (!collected->empty())
            *collected += "\n";
        *collected += text;
    }
    return TRUE;
}

HWND WaitForMessageBox(DWORD processId, const char* caption, std::string* text, DWORD timeoutMs)
{
    HWND box = WaitForWindow(processId, "#32770", caption, timeoutMs);
    if (box && text) {
        text->clear();
        EnumChildWindows(box, CollectText, (LPARAM)text);
    }
    return box;
}

void AnswerMessageBox(HWND box, int button)
{
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
}

void ClickWizardButton(HWND page, int id)
{
    PostMessageA(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(page, id));
}

HWND ReachOptions(const SetupProcess* setup, const std::string& destination, DWORD timeoutMs)
{
    HWND page = WaitForPage(setup, SETUP_DESTINATION, timeoutMs);
    EXPECT_NE(page, nullptr) << "no destination page";
    if (!page)
        return NULL;
    SendMessageA(GetDlgItem(page, SETUP_DESTINATION), WM_SETTEXT, 0, (LPARAM)destination.c_str());
    PressNext(setup);
    page = WaitForPage(setup, SETUP_DEFAULT_SAVER, timeoutMs);
    EXPECT_NE(page, nullptr) << "setup did not reach the options page";
    return page;
}

HWND InstallTo(const SetupProcess* setup, const std::string& destination, DWORD timeoutMs)
{
    HWND page = ReachOptions(setup, destination, timeoutMs);
    if (!page)
        return NULL;
    PressNext(setup);
    page = WaitForPage(setup, SETUP_TEST_DRIVE, timeoutMs);
    EXPECT_NE(page, nullptr) << "setup did not reach the last page";
    return page;
}

DWORD SetupExitCode(const SetupProcess* setup)
{
    DWORD code = STILL_ACTIVE;
    if (setup->info.hProcess)
        GetExitCodeProcess(setup->info.hProcess, &code);
    return code;
}

int EndSetup(SetupProcess* setup, DWORD timeoutMs)
{
    if (!setup->info.hProcess)
        return 0;
    if (IsWindow(setup->wizard))
        PressFinish(setup);
    int ended = WaitForSingleObject(setup->info.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(setup->info.hProcess, 1);
    CloseHandle(setup->info.hProcess);
    CloseHandle(setup->info.hThread);
    ZeroMemory(setup, sizeof(*setup));
    return ended;
}

int InstallDistribution(const std::string& distribution, const std::string& destination)
{
    if (!MakeDistribution(distribution, DIST_ALL & ~DIST_ANALYZER) ||
        !AddDistributionDisplay(distribution, "Sample Bezier", MODULE_BEZIER) ||
        !AddDistributionDisplay(distribution, "Sample Star", MODULE_STAR))
        return 0;
    SetupProcess setup;
    if (!StartSetup(distribution, &setup, 60000)) {
        EndSetup(&setup, 0);
        return 0;
    }
    HWND page = InstallTo(&setup, destination, 120000);
    return EndSetup(&setup, 30000) && page != NULL;
}

std::string ReadRegistryString(HKEY root, const char* key, const char* value, REGSAM view)
{
    HKEY handle;
    if (RegOpenKeyExA(root, key, 0, KEY_READ | view, &handle) != ERROR_SUCCESS)
        return "";
    char text[1024] = "";
    DWORD size = sizeof(text) - 1, type = 0;
    if (RegQueryValueExA(handle, value, NULL, &type, (BYTE*)text, &size) != ERROR_SUCCESS)
        text[0] = 0;
    RegCloseKey(handle);
    return text;
}

std::string SystemFolder(void)
{
    char folder[MAX_PATH];
    GetSystemDirectoryA(folder, sizeof(folder));
    return folder;
}

std::string WindowsFolder(void)
{
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, sizeof(folder));
    return folder;
}

std::string ShellFolder(const char* name)
{
    return ReadRegistryString(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, name);
}

int FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string FileText(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    std::string text;
    char buffer[65536];
    DWORD read = 0;
    while (file != INVALID_HANDLE_VALUE && ReadFile(file, buffer, sizeof(buffer), &read, NULL) && read)
        text.append(buffer, read);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return text;
}

void ScreenshotTo(const char* name)
{
    SaveScreenBmp(OutputPath(name).c_str());
}
