// The built VRNXSLX.HLP opened in the system's help viewer: the contents
// topic comes up, and each page's keyword of the index leads to its topic.
#include <gtest/gtest.h>
#include "support/harness.h"
#include "support/install_driver.h"
#include "support/sheet_driver.h"
#include <windows.h>
#include <prsht.h>
#include <string>
#include <vector>

// The help requests of the configuration pages, and the heading of the topic
// each one must reach.
struct KeywordTopic {
    const char* keyword;
    const char* heading;
};
static const KeywordTopic pageKeywords[] = {
    {"The Vivarent Screen Saver - Sound Settings", "Sound"},
    {"The Vivarent Screen Saver - Main Settings", "Main Settings"},
    {"The Vivarent Screen Saver - Palette Settings", "Palette"},
    {"The Vivarent Screen Saver - Display Settings", "Display"},
    {"The Vivarent Screen Saver - Custom Palette Settings", "Custom"},
};

static const int VIEWER_TEXT_ID = 0x701;      // the viewer's topic text control
static const int VIEWER_INDEX_LIST_ID = 0x151;

static std::string HelpFilePath(void)
{
    std::string saver = SaverPath();
    return saver.substr(0, saver.find_last_of('\\') + 1) + "VRNXSLX.HLP";
}

struct WindowSearch {
    DWORD processId;
    bool dialog;       // a dialog (#32770), or the viewer's main window
    HWND found;
};

static BOOL CALLBACK FindProcessWindow(HWND window, LPARAM lParam)
{
    WindowSearch* search = (WindowSearch*)lParam;
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window))
        return TRUE;
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    bool isDialog = lstrcmpA(className, "#32770") == 0;
    if (isDialog == search->dialog && (isDialog || GetDlgItem(window, VIEWER_TEXT_ID))) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static HWND WaitProcessWindow(DWORD processId, bool dialog, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        WindowSearch search = {processId, dialog, 0};
        EnumWindows(FindProcessWindow, (LPARAM)&search);
        if (search.found)
            return search.found;
        Sleep(100);
    } while (GetTickCount() - start < timeoutMs);
    return 0;
}

static std::string TopicText(HWND viewer)
{
    HWND text = GetDlgItem(viewer, VIEWER_TEXT_ID);
    std::vector<char> buffer(16384, 0);
    SendMessageA(text, WM_GETTEXT, buffer.size(), (LPARAM)buffer.data());
    return buffer.data();
}

// Waits until the shown topic begins with `heading`; returns the text then.
static std::string WaitTopic(HWND viewer, const char* heading, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    std::string text;
    do {
        text = TopicText(viewer);
        if (text.compare(0, lstrlenA(heading), heading) == 0)
            return text;
        Sleep(200);
    } while (GetTickCount() - start < timeoutMs);
    return text;
}

struct ChildSearch {
    int id;
    const char* textPart;
    HWND found;
};

static BOOL CALLBACK FindChild(HWND window, LPARAM lParam)
{
    ChildSearch* search = (ChildSearch*)lParam;
    if (search->id && GetDlgCtrlID(window) == search->id) {
        search->found = window;
        return FALSE;
    }
    if (search->textPart) {
        char text[64] = "";
        GetWindowTextA(window, text, sizeof(text));
        std::string plain;
        for (const char* p = text; *p; p++)
            if (*p != '&')
                plain += *p;
        if (plain.find(search->textPart) != std::string::npos) {
            search->found = window;
            return FALSE;
        }
    }
    return TRUE;
}

static HWND FindDescendant(HWND parent, int id, const char* textPart)
{
    ChildSearch search = {id, textPart, 0};
    EnumChildWindows(parent, FindChild, (LPARAM)&search);
    return search.found;
}

class HelpFile : public ::testing::Test {
protected:
    PROCESS_INFORMATION viewer;
    HWND window;

    void SetUp() override
    {
        ZeroMemory(&viewer, sizeof(viewer));
        window = 0;
        ASSERT_NE(GetFileAttributesA(HelpFilePath().c_str()), INVALID_FILE_ATTRIBUTES) << HelpFilePath();
        std::string command = "winhlp32.exe \"" + HelpFilePath() + "\"";
        std::vector<char> line(command.begin(), command.end());
        line.push_back(0);
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof(startup));
        startup.cb = sizeof(startup);
        ASSERT_TRUE(CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &viewer));
        window = WaitProcessWindow(viewer.dwProcessId, false, 90000);
        ASSERT_TRUE(window) << "the help viewer showed no topic window";
    }

    void TearDown() override
    {
        if (!viewer.hProcess)
            return;
        HWND box;
        while ((box = WaitProcessWindow(viewer.dwProcessId, true, 0)) != 0)
            PostMessageA(box, WM_CLOSE, 0, 0), Sleep(200);
        if (window)
            PostMessageA(window, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(viewer.hProcess, 20000) != WAIT_OBJECT_0)
            TerminateProcess(viewer.hProcess, 1);
        CloseHandle(viewer.hProcess);
        CloseHandle(viewer.hThread);
    }

    // Opens the index, chooses `keyword` and confirms; false when the index
    // has no such keyword.
    bool OpenKeyword(const char* keyword)
    {
        HWND button = FindDescendant(window, 0, "Index");
        EXPECT_TRUE(button) << "no Index button";
        if (!button)
            return false;
        PostMessageA(button, BM_CLICK, 0, 0);
        HWND sheet = WaitProcessWindow(viewer.dwProcessId, true, 60000);
        EXPECT_TRUE(sheet) << "no index dialog";
        if (!sheet)
            return false;
        HWND list = 0;
        for (int i = 0; i < 100 && !list; i++, Sleep(100))
            list = FindDescendant(sheet, VIEWER_INDEX_LIST_ID, NULL);
        LRESULT item = list ? SendMessageA(list, LB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)keyword) : LB_ERR;
        if (item == LB_ERR) {
            PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_CANCEL, 0);
            for (int i = 0; i < 100 && IsWindow(sheet); i++)
                Sleep(100);
            return false;
        }
        SendMessageA(list, LB_SETCURSEL, item, 0);
        PostMessageA(sheet, PSM_PRESSBUTTON, PSBTN_OK, 0);
        for (int i = 0; i < 300 && IsWindow(sheet); i++)
            Sleep(100);
        return true;
    }
};

TEST_F(HelpFile, OpensOnTheContentsAndEveryPageKeywordReachesItsTopic)
{
    std::string contents = WaitTopic(window, "The Vivarent Screen Saver", 60000);
    EXPECT_EQ(contents.compare(0, 25, "The Vivarent Screen Saver"), 0) << contents.substr(0, 200);
    // The contents names every page of the configuration.
    for (const KeywordTopic& page : pageKeywords)
        EXPECT_NE(contents.find(page.heading), std::string::npos) << page.heading;

    for (const KeywordTopic& page : pageKeywords) {
        ASSERT_TRUE(OpenKeyword(page.keyword)) << "index lacks \"" << page.keyword << "\"";
        std::string text = WaitTopic(window, page.heading, 60000);
        EXPECT_EQ(text.compare(0, lstrlenA(page.heading), page.heading), 0)
            << page.keyword << " showed: " << text.substr(0, 120);
        // A real page of the guide, not a stub.
        EXPECT_GT(text.size(), 300u) << page.keyword;
        if (lstrcmpA(page.heading, "Main Settings") == 0)
            SaveScreenBmp(OutputPath("help_main_settings.bmp").c_str());
    }
}

// Without WinHelp every Help button of the configuration sheet opens its
// topic's HTML page beside the saver; the module pages open the contents.
TEST(HelpPages, EveryHelpButtonOpensItsTopicsPage)
{
    static const struct {
        int page;
        const char* file;
        const char* heading;
    } buttons[] = {{16, "main_settings.htm", "Main Settings"}, {15, "sound_settings.htm", "Sound"},
                   {13, "palette_settings.htm", "Palette"},    {17, "display_settings.htm", "Display"},
                   {14, "custom_palette.htm", "Custom"},       {3, "index.htm", "The Vivarent Screen Saver"}};
    std::string record = OutputPath("help_opened.txt");
    SetEnvironmentVariableA("VIVRA_SIMULATE", ("no-winhelp;record-shell=" + record).c_str());
    SheetProcess sheet;
    ASSERT_TRUE(StartSheet("/c", &sheet, 60000));
    SetEnvironmentVariableA("VIVRA_SIMULATE", NULL);
    ASSERT_NE(sheet.sheet, nullptr);
    std::string folder = HelpFilePath().substr(0, HelpFilePath().find_last_of('\\')) + "\\Help\\";
    for (const auto& button : buttons) {
        DeleteFileA(record.c_str());
        ClickButton(SelectSheetPage(sheet.sheet, button.page), 1298);
        std::string opened = FileText(record);
        if (opened.compare(0, 5, "open|") != 0) {
            ADD_FAILURE() << button.file << ": nothing was opened";
            continue;
        }
        std::string path = opened.substr(5, opened.find('|', 5) - 5);
        EXPECT_EQ(lstrcmpiA(path.c_str(), (folder + button.file).c_str()), 0) << path;
        EXPECT_NE(FileText(path).find(std::string("<h1>") + button.heading + "</h1>"), std::string::npos) << path;
    }
    PressSheetButton(sheet.sheet, PSBTN_CANCEL);
    EXPECT_TRUE(WaitSheetExit(&sheet, 30000));
    CloseSheet(&sheet);
}
