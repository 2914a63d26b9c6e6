// The configuration sheet of a real "Vivra.scr /c" process, driven through
// its windows the way a user's input reaches them; the registry is checked
// afterwards.
#include <gtest/gtest.h>
#include "support/harness.h"
#include "support/sheet_driver.h"
#include "support/picture_files.h"
#include "imagefiles/imageload.h"
#include "config/pages.h"
#include "resources/resource.h"
#include "runtime/framework.h"
#include "settings/registry.h"
#include <commctrl.h>
#include <prsht.h>
#include <tlhelp32.h>
#include <map>
#include <set>
#include <string>

namespace {

enum { PAGE_BEZIER = 0, PAGE_STAR = 7, PAGE_RANDOM = 11, PAGE_SLIDE_SHOW = 12, PAGE_MAIN = 16 };
// Generous: a loaded test machine starts processes slowly.
const DWORD START_TIMEOUT = 240000;

std::string ReadActive(void)
{
    char name[PATH_SIZE] = "";
    ReadSaverValue("Active", REG_SZ, name, sizeof(name));
    return name;
}

void WriteActive(const char* name)
{
    WriteSaverValue("Active", REG_SZ, name, (DWORD)strlen(name) + 1);
}

int DisplayExists(const char* name)
{
    char path[KEY_PATH_SIZE];
    return DisplayKeyPath(name, path, sizeof(path)) && KeyExists(path);
}

// The module keys a display holds.
std::set<std::string> DisplayModules(const char* name)
{
    std::set<std::string> modules;
    for (int module = 0; module < MODULE_COUNT; ++module)
        if (ModuleKeyExists(name, module))
            modules.insert(moduleNames[module]);
    return modules;
}

int ReadModuleValue(const char* display, const char* module, const char* value, DWORD* out)
{
    char path[KEY_PATH_SIZE];
    snprintf(path, sizeof(path), SAVED_KEY "\\%s\\Modules\\%s", display, module);
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD size = sizeof(*out);
    LONG result = RegQueryValueExA(key, value, NULL, NULL, (BYTE*)out, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// Every value below a key, by "subkey\name", as type and bytes.
void Snapshot(HKEY key, const std::string& prefix, std::map<std::string, std::string>* out)
{
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD nameSize = sizeof(name);
        BYTE data[4096];
        DWORD dataSize = sizeof(data), type = 0;
        if (RegEnumValueA(key, index, name, &nameSize, NULL, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        (*out)[prefix + name] = std::to_string(type) + ":" + std::string((const char*)data, dataSize);
    }
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        HKEY child;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &child) == ERROR_SUCCESS) {
            Snapshot(child, prefix + name + "\\", out);
            RegCloseKey(child);
        }
    }
}

std::map<std::string, std::string> DisplaySnapshot(const char* name)
{
    std::map<std::string, std::string> values;
    char path[KEY_PATH_SIZE];
    HKEY key;
    if (DisplayKeyPath(name, path, sizeof(path)) &&
        RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        Snapshot(key, "", &values);
        RegCloseKey(key);
    }
    return values;
}

void SetLogPixels(DWORD dpi)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key,
                        NULL) == ERROR_SUCCESS) {
        RegSetValueExA(key, "LogPixels", 0, REG_DWORD, (const BYTE*)&dpi, sizeof(dpi));
        RegCloseKey(key);
    }
}

void SetPaletteEmulation(DWORD mode)
{
    WriteSaverValue("PaletteEmulation", REG_DWORD, &mode, sizeof(mode));
}

void ClearPaletteEmulation(void)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SAVER_KEY, 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "PaletteEmulation");
        RegCloseKey(key);
    }
}

class SheetTest : public ::testing::Test {
protected:
    SheetProcess process;

    void SetUp() override
    {
        BuildValueNames();
        ZeroMemory(&process, sizeof(process));
        // Every case starts from a first run: the sheet writes the defaults.
        DeleteKeyTree(HKEY_CURRENT_USER, SAVER_KEY);
    }
    void TearDown() override
    {
        CloseSheet(&process);
        SetLogPixels(96);
    }
    // Starts the sheet; fails the test when it does not come.
    HWND Open(void)
    {
        EXPECT_TRUE(StartSheet("/c", &process, START_TIMEOUT));
        EXPECT_TRUE(process.sheet != NULL) << "no configuration sheet appeared";
        return process.sheet;
    }
    // Presses OK or Cancel (or nothing, for -1) and waits for the process
    // to end.
    void Finish(int button)
    {
        if (button >= 0)
            PressSheetButton(process.sheet, button);
        EXPECT_TRUE(WaitSheetExit(&process, 120000)) << "the sheet did not close";
        EXPECT_EQ(SheetExitCode(&process), 0u);
    }
};

// Screenshots of the pages a user sees first, with a check that no visible
// control of a page sticks out of it or covers another.
void CheckPageLayout(HWND page, const char* what)
{
    RECT client;
    GetClientRect(page, &client);
    MapWindowPoints(page, NULL, (POINT*)&client, 2);
    std::vector<std::pair<int, RECT>> shown;
    for (HWND child = GetWindow(page, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!(GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE))
            continue;
        RECT box;
        GetWindowRect(child, &box);
        int id = GetDlgCtrlID(child);
        EXPECT_TRUE(box.left >= client.left && box.top >= client.top && box.right <= client.right &&
                    box.bottom <= client.bottom)
            << what << ": control " << id << " reaches outside the page";
        char className[32] = "";
        GetClassNameA(child, className, sizeof(className));
        // Group boxes hold other controls by design.
        if (strcmp(className, "Button") == 0 && (GetWindowLongA(child, GWL_STYLE) & 0xF) == BS_GROUPBOX)
            continue;
        // A combo box's rectangle includes its closed drop-down only.
        shown.push_back({id, box});
    }
    for (size_t i = 0; i < shown.size(); ++i) {
        for (size_t j = i + 1; j < shown.size(); ++j) {
            RECT overlap;
            if (IntersectRect(&overlap, &shown[i].second, &shown[j].second))
                ADD_FAILURE() << what << ": controls " << shown[i].first << " and " << shown[j].first
                              << " overlap";
        }
    }
}

void ShootPages(HWND sheet, const char* suffix)
{
    struct Shot {
        int page;
        const char* name;
        int secondPage;
    } shots[] = {{PAGE_MAIN, "sheet_main", 0},
                 {PAGE_BEZIER, "sheet_bezier", 0},
                 {PAGE_STAR, "sheet_star_page2", 1},
                 {PAGE_SLIDE_SHOW, "sheet_slideshow", 0}};
    for (const Shot& shot : shots) {
        HWND page = SelectSheetPage(sheet, shot.page);
        ASSERT_TRUE(page != NULL);
        if (shot.secondPage)
            ClickSpin(page, IDC_PAGE_SPIN, 0);
        char name[64];
        snprintf(name, sizeof(name), "%s_%s.bmp", shot.name, suffix);
        EXPECT_TRUE(SaveSheetShot(sheet, name));
        CheckPageLayout(page, name);
    }
    for (int index = 0; index <= PAGE_SLIDE_SHOW; ++index) {
        HWND page = SelectSheetPage(sheet, index);
        char name[64];
        snprintf(name, sizeof(name), "module page %d at %s", index, suffix);
        CheckPageLayout(page, name);
    }
}

// The saver window of another process (a test run), or null.
struct SaverSearch {
    DWORD except;
    HWND found;
};

BOOL CALLBACK FindTestSaver(HWND window, LPARAM lParam)
{
    SaverSearch* search = (SaverSearch*)lParam;
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->except && strcmp(className, "WindowsScreenSaverClass") == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitTestSaver(DWORD sheetProcess, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do {
        SaverSearch search = {sheetProcess, 0};
        EnumWindows(FindTestSaver, (LPARAM)&search);
        if (search.found)
            return search.found;
        Sleep(100);
    } while (GetTickCount() - start < timeoutMs);
    return 0;
}

// Closes a test saver with a key press and waits until its process is gone.
void CloseTestSaver(HWND saver)
{
    DWORD id = 0;
    GetWindowThreadProcessId(saver, &id);
    HANDLE handle = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, id);
    PostMessageA(saver, WM_KEYDOWN, VK_SPACE, 0);
    if (handle) {
        if (WaitForSingleObject(handle, 120000) != WAIT_OBJECT_0) {
            ADD_FAILURE() << "the test saver did not end";
            TerminateProcess(handle, 1);
        }
        CloseHandle(handle);
    }
}

// Waits until the sheet has started `expected` test savers, then closes
// each once it shows its window and waits until all have ended; returns how
// many there were.
int CloseTestSavers(DWORD sheetProcess, size_t expected)
{
    std::vector<std::pair<DWORD, HANDLE>> savers;
    DWORD start = GetTickCount();
    while (savers.size() < expected && GetTickCount() - start < START_TIMEOUT) {
        HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 entry;
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
            int known = 0;
            for (const auto& saver : savers)
                known |= saver.first == entry.th32ProcessID;
            HANDLE saver = entry.th32ParentProcessID == sheetProcess && !known
                                   ? OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID) : 0;
            if (saver)
                savers.push_back({entry.th32ProcessID, saver});
        }
        CloseHandle(snapshot);
        Sleep(20);
    }
    for (const auto& saver : savers) {
        start = GetTickCount();
        while (WaitForSingleObject(saver.second, 200) != WAIT_OBJECT_0 && GetTickCount() - start < START_TIMEOUT) {
            HWND window = FindProcessWindow(saver.first, NULL);
            if (window)
                PostMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
        }
        CloseHandle(saver.second);
    }
    return (int)savers.size();
}

// The sheet comes back to the front after a test run, as it does when the
// test saver closes.
void ReturnToSheet(HWND sheet)
{
    SetForegroundWindow(sheet);
    DWORD_PTR result;
    SendMessageTimeoutA(sheet, WM_ACTIVATE, WA_ACTIVE, 0, SMTO_NORMAL, 30000, &result);
}

// Opening, the one-sheet rule, the module pages' rows and the Main Settings
// page's displays, in one sheet.
TEST_F(SheetTest, ModuleAndMainPagesEditTheSettings)
{
    HWND sheet = Open();
    ASSERT_TRUE(sheet);
    char caption[64] = "";
    GetWindowTextA(sheet, caption, sizeof(caption));
    EXPECT_STREQ(caption, "Vivra v3.6.505");
    EXPECT_EQ(SheetPageCount(sheet), 18);
    EXPECT_EQ(SheetCurrentIndex(sheet), PAGE_MAIN) << "the sheet opens on Main Settings";
    HWND main = CurrentSheetPage(sheet);
    ASSERT_TRUE(main && PageControl(main, IDC_DISPLAY_LIST)) << "the current page is not Main Settings";
    HWND apply = FindWindowExA(sheet, NULL, "Button", "&Apply");
    EXPECT_FALSE(apply && IsWindowVisible(apply)) << "no Apply button";

    // A second /c while the sheet is open shows nothing and ends.
    SheetProcess second;
    ASSERT_TRUE(StartSheet("/c", &second, 5000));
    EXPECT_TRUE(WaitSheetExit(&second, START_TIMEOUT)) << "a second sheet process stayed";
    EXPECT_TRUE(second.sheet == NULL) << "a second sheet was shown";
    CloseSheet(&second);
    EXPECT_TRUE(IsWindow(sheet));

    // The colour note: the saver emulates the palette on this 24-bit
    // screen, so every feature works and the note says so.
    std::string note = ControlText(main, IDC_COLOUR_NOTE);
    EXPECT_NE(note.find("palette emulation"), std::string::npos) << note;
    EXPECT_EQ(note.find("only available in 256"), std::string::npos) << note;
    SetPaletteEmulation(2);
    SelectSheetPage(sheet, PAGE_BEZIER);
    main = SelectSheetPage(sheet, PAGE_MAIN);
    note = ControlText(main, IDC_COLOUR_NOTE);
    EXPECT_NE(note.find("16777216 color video mode"), std::string::npos) << note;
    EXPECT_NE(note.find("only available in 256"), std::string::npos) << note;
    ClearPaletteEmulation();

    // Star: two pages of rows.
    HWND star = SelectSheetPage(sheet, PAGE_STAR);
    ASSERT_TRUE(star);
    EXPECT_EQ(ControlText(star, IDC_TEST_MODULE), "Test Star Settings");
    EXPECT_TRUE(ControlVisible(star, IDC_PAGE_SPIN));
    EXPECT_EQ(ControlText(star, IDC_PAGE_TEXT), "Page 1 of 2");
    EXPECT_TRUE(ControlVisible(star, ROW_LABEL + 0));
    EXPECT_FALSE(ControlVisible(star, ROW_LABEL + 10));
    ClickSpin(star, IDC_PAGE_SPIN, 0);
    EXPECT_EQ(ControlText(star, IDC_PAGE_TEXT), "Page 2 of 2");
    for (int slot = 0; slot < 10; ++slot)
        EXPECT_FALSE(ControlVisible(star, ROW_LABEL + slot)) << "slot " << slot << " on page 2";
    for (int slot = 10; slot <= 13; ++slot)
        EXPECT_TRUE(ControlVisible(star, ROW_LABEL + slot)) << "slot " << slot << " missing on page 2";
    EXPECT_EQ(ControlText(star, ROW_LABEL + 10), "X Tiling");
    EXPECT_EQ(PageControl(star, ROW_LABEL + 14), (HWND)NULL) << "Star defines no slot 14";
    ClickSpin(star, IDC_PAGE_SPIN, 1);
    EXPECT_EQ(ControlText(star, IDC_PAGE_TEXT), "Page 1 of 2");
    EXPECT_TRUE(ControlVisible(star, ROW_LABEL + 0));

    // "Stars" (slot 0) takes no sound; "Star Size" (slot 1, 1..320) does.
    EXPECT_EQ(ComboCount(star, ROW_SOURCE_LIST + 0), 2);
    EXPECT_EQ(ComboItem(star, ROW_SOURCE_LIST + 0, 0), "Set");
    EXPECT_EQ(ComboItem(star, ROW_SOURCE_LIST + 0, 1), "Random");
    EXPECT_EQ(ComboCount(star, ROW_SOURCE_LIST + 1), 22);
    EXPECT_EQ(ComboItem(star, ROW_SOURCE_LIST + 1, 21), "18KHz");

    // Typing beyond the maximum: the box, the slider and the slot hold 320,
    // also when the slot held 320 already.
    SetControlText(star, ROW_VALUE_BOX + 1, "5000", 1);
    EXPECT_EQ(ControlText(star, ROW_VALUE_BOX + 1), "320");
    EXPECT_EQ(TrackbarPosition(star, ROW_VALUE_SLIDER + 1), 320);
    SetControlText(star, ROW_VALUE_BOX + 1, "5000", 1);
    EXPECT_EQ(ControlText(star, ROW_VALUE_BOX + 1), "320") << "the box shows a number the slot does not hold";

    // Oscillate on "Speed" (slot 2): range and sense instead of the value.
    SelectComboItem(star, ROW_SOURCE_LIST + 2, 2);
    EXPECT_FALSE(ControlVisible(star, ROW_VALUE_SLIDER + 2));
    EXPECT_FALSE(ControlVisible(star, ROW_VALUE_BOX + 2));
    EXPECT_TRUE(ControlVisible(star, ROW_LOW_SLIDER + 2));
    EXPECT_TRUE(ControlVisible(star, ROW_HIGH_SLIDER + 2));
    EXPECT_TRUE(ControlVisible(star, ROW_LOW_BOX + 2));
    EXPECT_TRUE(ControlVisible(star, ROW_HIGH_BOX + 2));
    EXPECT_TRUE(ControlVisible(star, ROW_SENSE_BOX + 2));
    EXPECT_TRUE(ControlVisible(star, ROW_SENSE_SPIN + 2));
    int sense = atoi(ControlText(star, ROW_SENSE_BOX + 2).c_str());
    EXPECT_GE(sense, 1);
    for (int i = 0; i < 12; ++i)
        ClickSpin(star, ROW_SENSE_SPIN + 2, 1);
    EXPECT_EQ(ControlText(star, ROW_SENSE_BOX + 2), "10");
    for (int i = 0; i < 12; ++i)
        ClickSpin(star, ROW_SENSE_SPIN + 2, 0);
    EXPECT_EQ(ControlText(star, ROW_SENSE_BOX + 2), "1");
    MoveTrackbar(star, ROW_HIGH_SLIDER + 2, 30);
    EXPECT_EQ(ControlText(star, ROW_HIGH_BOX + 2), "30");

    // Bezier's slots all fit on one page.
    HWND bezier = SelectSheetPage(sheet, PAGE_BEZIER);
    EXPECT_FALSE(ControlVisible(bezier, IDC_PAGE_SPIN));
    EXPECT_FALSE(ControlVisible(bezier, IDC_PAGE_TEXT));

    // Slide Show: the file name goes with a reset.
    // Its formats box names what the installed import filters add.
    ASSERT_TRUE(RegisterTestFilter("SheetTest", "Sheet test pictures", "tst", "C:\\nowhere\\sheet.flt"));
    HWND slides = SelectSheetPage(sheet, PAGE_SLIDE_SHOW);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, IMPORT_FILTER_KEY "\\SheetTest");
    ASSERT_TRUE(slides);
    std::string formats = ControlText(slides, IDC_BITMAP_FORMATS);
    EXPECT_EQ(formats.substr(0, 5), "*.bmp");
    EXPECT_NE(formats.find(", *.tst"), std::string::npos) << formats;
    SetControlText(slides, IDC_BITMAP_FILE, "C:\\pictures\\*.bmp", 1);
    EXPECT_EQ(ControlText(slides, IDC_BITMAP_FILE), "C:\\pictures\\*.bmp");
    ClickButton(slides, IDC_RESET_MODULE);
    EXPECT_EQ(ControlText(slides, IDC_BITMAP_FILE), "");

    // Main Settings: save a display under a name, choose another, delete.
    main = SelectSheetPage(sheet, PAGE_MAIN);
    EXPECT_EQ(ControlText(main, IDC_DISPLAY_LIST), "Scratch") << "changes are shown as Scratch";
    // A name that cannot be saved: the user learns why, the list gains no
    // display that does not exist, and the changes are still unsaved.
    SetControlText(main, IDC_DISPLAY_LIST, "Stars\\Night", 0);
    PostClick(main, IDC_SAVE_DISPLAY);
    HWND refusal = WaitProcessDialog(process.info.dwProcessId, sheet, "Invalid display name!", 20000);
    ASSERT_TRUE(refusal) << "no word on the refused name";
    EXPECT_NE(ControlText(refusal, 0xFFFF).find("backslash"), std::string::npos) << ControlText(refusal, 0xFFFF);
    PostMessageA(refusal, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(refusal); ++i)
        Sleep(100);
    EXPECT_FALSE(SelectComboString(main, IDC_DISPLAY_LIST, "Stars\\Night"));
    SelectSheetPage(sheet, PAGE_BEZIER);
    main = SelectSheetPage(sheet, PAGE_MAIN);
    EXPECT_EQ(ControlText(main, IDC_DISPLAY_LIST), "Scratch") << "the changes count as saved";
    SetControlText(main, IDC_DISPLAY_LIST, "My Stars", 0);
    ClickButton(main, IDC_SAVE_DISPLAY);
    EXPECT_TRUE(DisplayExists("My Stars"));
    EXPECT_EQ(ReadActive(), "My Stars");
    EXPECT_TRUE(SelectComboString(main, IDC_DISPLAY_LIST, "[D] Bezier"));
    EXPECT_EQ(ReadActive(), "[D] Bezier") << "choosing a display makes it active at once";
    EXPECT_TRUE(ButtonChecked(main, IDC_MAIN_BEZIER));
    EXPECT_FALSE(ButtonChecked(main, IDC_MAIN_RANDOM));
    SetControlText(main, IDC_DISPLAY_LIST, "my stars", 0);
    ClickButton(main, IDC_DELETE_DISPLAY);
    EXPECT_FALSE(DisplayExists("My Stars")) << "Delete Selection removes the display without asking";
    EXPECT_FALSE(SelectComboString(main, IDC_DISPLAY_LIST, "My Stars"));
    EXPECT_EQ(ReadActive(), "[D] Bezier");

    // A module box changed, then OK: "Scratch" holds it and is active.
    ClickButton(main, IDC_MAIN_STAR);
    EXPECT_EQ(ControlText(main, IDC_DISPLAY_LIST), "Scratch");
    // Typed and confirmed with Enter: the box never loses the focus.
    star = SelectSheetPage(sheet, PAGE_STAR);
    SetControlText(star, ROW_VALUE_BOX + 1, "77", 0);
    PressEnter(star, ROW_VALUE_BOX + 1);
    Finish(-1);
    EXPECT_EQ(ReadActive(), "Scratch");
    EXPECT_EQ(DisplayModules("Scratch"), (std::set<std::string>{"Bezier", "Star"}));
    DWORD size = 0;
    EXPECT_TRUE(ReadModuleValue("Scratch", "Star", "Control1", &size));
    EXPECT_EQ(size, 77u);
    DWORD speed = 0;
    EXPECT_TRUE(ReadModuleValue("Scratch", "Star", "Check2", &speed));
    EXPECT_EQ(speed, 2u) << "the oscillating source of Star's Speed";
}

// Cancel keeps the registry as it was; Export and Import bring a display
// back value by value.
TEST_F(SheetTest, ExportImportAndCancel)
{
    HWND sheet = Open();
    ASSERT_TRUE(sheet);
    std::string activeBefore = ReadActive();
    HWND main = CurrentSheetPage(sheet);

    ClickButton(main, IDC_MAIN_PLASMA);
    HWND star = SelectSheetPage(sheet, PAGE_STAR);
    SetControlText(star, ROW_VALUE_BOX + 1, "123", 1);
    main = SelectSheetPage(sheet, PAGE_MAIN);
    SetControlText(main, IDC_DISPLAY_LIST, "Travel", 0);
    std::string file = OutputPath("Travel.VIV");
    DeleteFileA(file.c_str());
    PostClick(main, IDC_EXPORT_DISPLAY);
    HWND dialog = WaitProcessDialog(process.info.dwProcessId, sheet, NULL, START_TIMEOUT);
    ASSERT_TRUE(dialog) << "no save dialog";
    ASSERT_TRUE(AnswerFileDialog(dialog, file.c_str()));
    DWORD start = GetTickCount();
    while (GetFileAttributesA(file.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount() - start < 60000)
        Sleep(100);
    Sleep(500);
    ASSERT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << "no file written";
    std::map<std::string, std::string> exported = DisplaySnapshot("Travel");
    EXPECT_GT(exported.size(), 20u);
    // Plasma was switched on and so is in the display; Star's changed box
    // belongs to a module that is not active and so is not saved.
    int plasmaValues = 0;
    for (const auto& entry : exported)
        plasmaValues += entry.first.rfind("Modules\\Plasma\\", 0) == 0;
    EXPECT_GT(plasmaValues, 0);

    SetControlText(main, IDC_DISPLAY_LIST, "Travel", 0);
    ClickButton(main, IDC_DELETE_DISPLAY);
    ASSERT_FALSE(DisplayExists("Travel"));
    PostClick(main, IDC_IMPORT_DISPLAY);
    dialog = WaitProcessDialog(process.info.dwProcessId, sheet, NULL, START_TIMEOUT);
    ASSERT_TRUE(dialog) << "no open dialog";
    ASSERT_TRUE(AnswerFileDialog(dialog, file.c_str()));
    // Export saved "Travel" and made it active already: wait for the display.
    start = GetTickCount();
    while (!DisplayExists("Travel") && GetTickCount() - start < 60000)
        Sleep(100);
    Sleep(1000);
    EXPECT_EQ(ReadActive(), "Travel") << "the imported display is chosen";
    EXPECT_EQ(DisplaySnapshot("Travel"), exported);
    EXPECT_EQ(ControlText(main, IDC_DISPLAY_LIST), "Travel");

    // Changes after that, cancelled: nothing more is written.
    ClickButton(main, IDC_MAIN_RAY);
    WriteActive(activeBefore.c_str());
    Finish(PSBTN_CANCEL);
    EXPECT_FALSE(DisplayExists("Scratch"));
    EXPECT_EQ(ReadActive(), activeBefore);
}

// Test runs: a second saver with the test display; afterwards the display
// is gone and "Active" is back.
TEST_F(SheetTest, TestRunsLeaveNothingBehind)
{
    HWND sheet = Open();
    ASSERT_TRUE(sheet);
    HWND main = CurrentSheetPage(sheet);
    EXPECT_TRUE(SelectComboString(main, IDC_DISPLAY_LIST, "[D] Cyclic"));
    ClickButton(main, IDC_MAIN_STAR);   // active: Cyclic and Star
    std::string activeBefore = ReadActive();
    ASSERT_EQ(activeBefore, "[D] Cyclic");

    HWND bezier = SelectSheetPage(sheet, PAGE_BEZIER);
    ClickButton(bezier, IDC_TEST_MODULE);
    EXPECT_EQ(ReadActive(), TEST_DISPLAY);
    EXPECT_EQ(DisplayModules(TEST_DISPLAY), (std::set<std::string>{"Bezier"}));
    HWND saver = WaitTestSaver(process.info.dwProcessId, START_TIMEOUT);
    ASSERT_TRUE(saver) << "no test saver";
    CloseTestSaver(saver);
    ReturnToSheet(sheet);
    EXPECT_EQ(ReadActive(), activeBefore);
    EXPECT_FALSE(DisplayExists(TEST_DISPLAY));

    HWND random = SelectSheetPage(sheet, PAGE_RANDOM);
    ClickButton(random, IDC_TEST_MODULE);
    EXPECT_EQ(DisplayModules(TEST_DISPLAY), (std::set<std::string>{"Cyclic", "Star"}))
        << "the Random tab tests every active module";
    saver = WaitTestSaver(process.info.dwProcessId, START_TIMEOUT);
    ASSERT_TRUE(saver) << "no test saver";
    CloseTestSaver(saver);
    ReturnToSheet(sheet);
    EXPECT_EQ(ReadActive(), activeBefore);
    EXPECT_FALSE(DisplayExists(TEST_DISPLAY));

    // Preview pressed twice before the sheet has lost the focus: the second
    // press finds the test display active, and the user's display still
    // comes back.
    main = SelectSheetPage(sheet, PAGE_MAIN);
    PostClick(main, IDC_PREVIEW);
    PostClick(main, IDC_PREVIEW);
    EXPECT_EQ(CloseTestSavers(process.info.dwProcessId, 2), 2);
    ReturnToSheet(sheet);
    EXPECT_EQ(ReadActive(), activeBefore);
    EXPECT_FALSE(DisplayExists(TEST_DISPLAY));

    // A sheet ended while it removes the test display has put "Active" back.
    ClickButton(main, IDC_PREVIEW);
    saver = WaitTestSaver(process.info.dwProcessId, START_TIMEOUT);
    ASSERT_TRUE(saver) << "no test saver";
    KillWatch watch;
    ASSERT_TRUE(StartKillWatch(&watch, process.info.hProcess, (SAVED_KEY "\\" TEST_DISPLAY)));
    CloseTestSaver(saver);
    PostMessageA(sheet, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_TRUE(EndKillWatch(&watch, 60000)) << "the sheet was not ended while it removed the test display";
    EXPECT_EQ(ReadActive(), activeBefore);
}

TEST_F(SheetTest, PagesLookRightAt96And144Dpi)
{
    SetLogPixels(96);
    HWND sheet = Open();
    ASSERT_TRUE(sheet);
    ShootPages(sheet, "96dpi");
    Finish(PSBTN_CANCEL);
    CloseSheet(&process);

    SetLogPixels(144);
    sheet = Open();
    ASSERT_TRUE(sheet);
    RECT box;
    GetWindowRect(sheet, &box);
    EXPECT_LE(box.bottom - box.top, GetSystemMetrics(SM_CYSCREEN)) << "the sheet is taller than the screen";
    ShootPages(sheet, "144dpi");
    Finish(PSBTN_CANCEL);
}

}  // namespace
