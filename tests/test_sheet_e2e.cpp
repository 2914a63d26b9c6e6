// The configuration sheet of a real "Vivra.scr /c" process, driven through
// its windows the way a user's input reaches them; the registry is checked
// afterwards.
#include <gtest/gtest.h>
#include "support/harness.h"
#include "support/sheet_driver.h"
#include "config/pages.h"
#include "resources/resource.h"
#include "runtime/framework.h"
#include "settings/registry.h"
#include <commctrl.h>
#include <prsht.h>
#include <map>
#include <set>
#include <string>

namespace {

enum { PAGE_BEZIER = 0, PAGE_STAR = 7, PAGE_RANDOM = 11, PAGE_SLIDE_SHOW = 12, PAGE_MAIN = 16 };
const DWORD START_TIMEOUT = 30000;

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
    // Presses OK or Cancel and waits for the process to end.
    void Finish(int button)
    {
        PressSheetButton(process.sheet, button);
        EXPECT_TRUE(WaitSheetExit(&process, 20000)) << "the sheet did not close";
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
