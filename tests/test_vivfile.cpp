// .VIV files against the real registry and file system of the test prefix:
// the format, export and import, the checks that keep damaged files out, the
// overwrite question and the file dialogs.
#include <gtest/gtest.h>
#include "settings/vivfile.h"
#include "settings/registry.h"
#include "imagefiles/filedialog.h"
#include "runtime/framework.h"
#include "runtime/common.h"
#include "graphics/palette.h"
#include "support/harness.h"
#include <aclapi.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace {

typedef std::vector<BYTE> Bytes;
// Every key (value name empty, type ~0) and value below a key, by lower-case
// relative path and name.
typedef std::map<std::string, std::pair<DWORD, Bytes>> Tree;

std::string Lower(std::string text)
{
    for (char& c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

void ReadTree(HKEY key, const std::string& relative, Tree* tree)
{
    (*tree)["K:" + Lower(relative)] = std::make_pair(~0u, Bytes());
    for (DWORD index = 0;; ++index) {
        char name[512];
        BYTE data[4096];
        DWORD nameLength = sizeof(name);
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueA(key, index, name, &nameLength, NULL, &type, data, &size) != ERROR_SUCCESS)
            break;
        (*tree)["V:" + Lower(relative) + "|" + Lower(name)] = std::make_pair(type, Bytes(data, data + size));
    }
    for (DWORD index = 0;; ++index) {
        char name[512];
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        HKEY sub;
        if (RegOpenKeyExA(key, name, 0, KEY_READ, &sub) != ERROR_SUCCESS)
            continue;
        ReadTree(sub, relative.empty() ? name : relative + "\\" + name, tree);
        RegCloseKey(sub);
    }
}

Tree Snapshot(const std::string& path)
{
    Tree tree;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        ReadTree(key, "", &tree);
        RegCloseKey(key);
    }
    return tree;
}

std::string DisplayPath(const std::string& name)
{
    return std::string(SAVED_KEY) + "\\" + name;
}

// Byte for byte, through the wide interfaces: every key and every value with
// its exact name, type and data, in enumeration order.
typedef std::vector<std::pair<std::wstring, std::pair<DWORD, Bytes>>> ExactTree;

void ReadExact(HKEY key, const std::wstring& relative, ExactTree* tree)
{
    tree->push_back(std::make_pair(L"K:" + relative, std::make_pair(~0u, Bytes())));
    for (DWORD index = 0;; ++index) {
        WCHAR name[1024];
        static BYTE data[65536];
        DWORD nameLength = 1024;
        DWORD size = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, NULL, &type, data, &size) != ERROR_SUCCESS)
            break;
        tree->push_back(std::make_pair(L"V:" + relative + L"|" + name, std::make_pair(type, Bytes(data, data + size))));
    }
    for (DWORD index = 0;; ++index) {
        WCHAR name[1024];
        DWORD length = 1024;
        if (RegEnumKeyExW(key, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        HKEY sub;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) != ERROR_SUCCESS) {
            tree->push_back(std::make_pair(L"unreadable:" + relative + L"\\" + name, std::make_pair(0u, Bytes())));
            continue;
        }
        ReadExact(sub, relative.empty() ? std::wstring(name) : relative + L"\\" + name, tree);
        RegCloseKey(sub);
    }
}

ExactTree ExactSnapshot(const std::string& path)
{
    ExactTree tree;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        ReadExact(key, L"", &tree);
        RegCloseKey(key);
    }
    return tree;
}

// Writes a value by hand, as another program might.
void PutValue(const std::string& path, const char* name, DWORD type, const Bytes& data)
{
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, data.data(), (DWORD)data.size()), ERROR_SUCCESS) << name;
    RegCloseKey(key);
}

// Gives everyone full access to the key except what `denied` takes away.
bool SetKeyAccess(HKEY key, DWORD denied, DWORD inheritance = NO_INHERITANCE)
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = NULL;
    if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone))
        return false;
    EXPLICIT_ACCESSA entries[2];
    ZeroMemory(entries, sizeof(entries));
    entries[0].grfAccessPermissions = denied;
    entries[0].grfAccessMode = DENY_ACCESS;
    entries[0].grfInheritance = inheritance;
    entries[0].Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entries[0].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entries[0].Trustee.ptstrName = (LPSTR)everyone;
    entries[1] = entries[0];
    entries[1].grfAccessPermissions = KEY_ALL_ACCESS;
    entries[1].grfAccessMode = GRANT_ACCESS;
    entries[1].grfInheritance = NO_INHERITANCE;
    PACL acl = NULL;
    bool ok = SetEntriesInAclA(denied ? 2 : 1, denied ? entries : entries + 1, NULL, &acl) == ERROR_SUCCESS &&
              SetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, NULL, NULL, acl, NULL) ==
                  ERROR_SUCCESS;
    LocalFree(acl);
    FreeSid(everyone);
    return ok;
}

bool DenyDelete(HKEY key)
{
    return SetKeyAccess(key, DELETE);
}

void AllowDelete(const std::string& path)
{
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, WRITE_DAC, &key), ERROR_SUCCESS);
    EXPECT_TRUE(SetKeyAccess(key, 0));
    RegCloseKey(key);
}

// Only the values of a tree: a key without values is nothing a file carries.
Tree ValuesOf(const Tree& tree)
{
    Tree values;
    for (const auto& item : tree)
        if (item.first[0] == 'V')
            values.insert(item);
    return values;
}

// The saver key without one display's part.
Tree SnapshotExcept(const std::string& display)
{
    Tree all = Snapshot(SAVER_KEY);
    std::string prefix = Lower("Saved\\" + display);
    Tree rest;
    for (const auto& item : all) {
        std::string path = item.first.substr(2);
        if (path.compare(0, prefix.size(), prefix) == 0 &&
            (path.size() == prefix.size() || path[prefix.size()] == '\\' || path[prefix.size()] == '|'))
            continue;
        rest.insert(item);
    }
    return rest;
}

Bytes ReadFileBytes(const std::string& path)
{
    Bytes data;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file)
        return data;
    BYTE buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0)
        data.insert(data.end(), buffer, buffer + got);
    fclose(file);
    return data;
}

void WriteFileBytes(const std::string& path, const Bytes& data)
{
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_TRUE(file) << path;
    if (!data.empty())
        fwrite(data.data(), 1, data.size(), file);
    fclose(file);
}

void PutWord(Bytes* out, DWORD word)
{
    out->insert(out->end(), (BYTE*)&word, (BYTE*)&word + 4);
}

// One record with explicit lengths, so that broken ones can be built too.
void PutRecord(Bytes* out, const std::string& path, const std::string& name, DWORD type, const Bytes& data)
{
    PutWord(out, (DWORD)path.size() + 1);
    out->insert(out->end(), path.begin(), path.end());
    out->push_back(0);
    PutWord(out, (DWORD)name.size() + 1);
    out->insert(out->end(), name.begin(), name.end());
    out->push_back(0);
    PutWord(out, type);
    PutWord(out, (DWORD)data.size());
    out->insert(out->end(), data.begin(), data.end());
}

Bytes Magic(void)
{
    Bytes out;
    PutWord(&out, VIV_MAGIC);
    return out;
}

Bytes IntData(int value)
{
    return Bytes((BYTE*)&value, (BYTE*)&value + 4);
}

struct FileRecord {
    std::string path, name;
    DWORD type;
    Bytes data;
};

// An independent reader of the format, for checking what export wrote.
bool ParseFile(const Bytes& file, std::vector<FileRecord>* records)
{
    if (file.size() < 4 || memcmp(file.data(), "\x00\x42\x00\x42", 4) != 0)
        return false;
    size_t at = 4;
    auto word = [&](DWORD* out) {
        if (file.size() - at < 4)
            return false;
        memcpy(out, &file[at], 4);
        at += 4;
        return true;
    };
    while (at < file.size()) {
        FileRecord record;
        DWORD length;
        if (!word(&length) || file.size() - at < length || length == 0)
            return false;
        record.path.assign((const char*)&file[at], length - 1);
        at += length;
        if (!word(&length) || file.size() - at < length || length == 0)
            return false;
        record.name.assign((const char*)&file[at], length - 1);
        at += length;
        if (!word(&record.type) || !word(&length) || file.size() - at < length)
            return false;
        record.data.assign(file.begin() + at, file.begin() + at + length);
        at += length;
        records->push_back(record);
    }
    return true;
}

std::string Folder(void)
{
    std::string folder = OutputPath("viv");
    CreateDirectoryA(folder.c_str(), NULL);
    return folder;
}

std::string FilePath(const char* name)
{
    return Folder() + "\\" + name;
}

const SaverSettings initialSettings = {{0}, 64, 1, 1, 0, 0, 0, 1, 1, 0, {0}};

class Viv : public ::testing::Test {
protected:
    PaletteState* palette = 0;

    void SetUp() override
    {
        RegDeleteTreeA(HKEY_CURRENT_USER, SAVER_KEY);
        BuildValueNames();
        memset(moduleTable, 0, sizeof(moduleTable));
        for (int module = 0; module < MODULE_COUNT; ++module)
            moduleTable[module].name = moduleNames[module];
        for (int row = 0; row < controlCount; ++row) {
            const ControlDefinition* c = &controlTable[row];
            DefineControl(c->module, c->labelId, c->slot, c->defaultValue, c->minimum, c->maximum);
        }
        saverSettings = initialSettings;
        palette = (PaletteState*)calloc(1, sizeof(PaletteState));
        ResetPalette(palette);
        currentPalette = palette;
        SeedRandom(7);
    }
    void TearDown() override
    {
        currentPalette = 0;
        free(palette);
    }

    // A display with three modules (one with a path), a custom palette and
    // changed globals.
    void SaveOriginal(const char* name = "Original")
    {
        memset(saverSettings.moduleActive, 0, sizeof(saverSettings.moduleActive));
        saverSettings.moduleActive[MODULE_BEZIER] = 1;
        saverSettings.moduleActive[MODULE_STAR] = 1;
        saverSettings.moduleActive[MODULE_BITMAP] = 1;
        strcpy(moduleTable[MODULE_BITMAP].path, "C:\\Pictures\\*.bmp");
        moduleTable[MODULE_BEZIER].value[0] = 12;
        moduleTable[MODULE_STAR].source[2] = 2;
        palette->effect[1] = EFFECT_CUSTOM;
        for (int i = 0; i < PALETTE_ENTRIES; ++i)
            palette->customPalette[i].red = (BYTE)i;
        saverSettings.showName = 9;
        ASSERT_TRUE(SaveDisplay(name));
    }
};

// --- Names ------------------------------------------------------------------------------

TEST_F(Viv, FileNamesFromDisplayNamesAndBack)
{
    char text[300];
    SuggestFileName("My Display #1", text, sizeof(text));
    EXPECT_STREQ(text, "My Display #1");
    SuggestFileName("A/B:C", text, sizeof(text));
    EXPECT_STREQ(text, "A_B_C");
    SuggestFileName("a*b?c<d>e|f\"g\\h\ti", text, sizeof(text));
    EXPECT_STREQ(text, "a_b_c_d_e_f_g_h_i");
    SuggestFileName("$%'-_@ ~`!(){.}^#&+,;=[]", text, sizeof(text));
    EXPECT_STREQ(text, "$%'-_@ ~`!(){.}^#&+,;=[]");
    SuggestFileName("caf\xe9", text, sizeof(text));
    EXPECT_STREQ(text, "caf_");
    SuggestFileName("abcdef", text, 4);
    EXPECT_STREQ(text, "abc");

    DisplayNameOfFile("C:\\Files\\Space Trip.VIV", text, sizeof(text));
    EXPECT_STREQ(text, "Space Trip");
    DisplayNameOfFile("Z:/tmp/v1.2 final.viv", text, sizeof(text));
    EXPECT_STREQ(text, "v1.2 final");
    DisplayNameOfFile("D:Plain", text, sizeof(text));
    EXPECT_STREQ(text, "Plain");
}

// --- Export ---------------------------------------------------------------------------------

TEST_F(Viv, ExportWritesEveryValueDepthFirst)
{
    SaveOriginal();
    std::string file = FilePath("original.viv");
    ASSERT_EQ(WriteDisplayFile("Original", file.c_str()), 1);
    Bytes bytes = ReadFileBytes(file);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(bytes[0], 0x00);
    EXPECT_EQ(bytes[1], 0x42);
    EXPECT_EQ(bytes[2], 0x00);
    EXPECT_EQ(bytes[3], 0x42);
    std::vector<FileRecord> records;
    ASSERT_TRUE(ParseFile(bytes, &records));

    // Each value of the display appears once, with its type and data.
    Tree tree = Snapshot(DisplayPath("Original"));
    size_t values = 0;
    for (const auto& item : tree)
        values += item.first[0] == 'V';
    EXPECT_EQ(records.size(), values);
    for (const FileRecord& record : records) {
        auto found = tree.find("V:" + Lower(record.path) + "|" + Lower(record.name));
        ASSERT_NE(found, tree.end()) << record.path << " " << record.name;
        EXPECT_EQ(found->second.first, record.type) << record.name;
        EXPECT_EQ(found->second.second, record.data) << record.name;
    }
    // Globals first; each key's records together, before its sub-keys'.
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].path, "");
    std::vector<std::string> order;
    for (const FileRecord& record : records)
        if (order.empty() || order.back() != record.path)
            order.push_back(record.path);
    for (size_t i = 0; i < order.size(); ++i)
        for (size_t j = i + 1; j < order.size(); ++j)
            EXPECT_NE(order[i], order[j]) << "records of " << order[i] << " are split";
    EXPECT_EQ(order.size(), 5u);   // "", Modules\Bezier, Modules\Bitmap, Modules\Star, Palette
    bool pathSeen = false;
    for (const FileRecord& record : records) {
        if (record.name == "Path") {
            pathSeen = true;
            EXPECT_EQ(record.path, "Modules\\Bitmap");
            EXPECT_EQ(record.type, (DWORD)REG_SZ);
            EXPECT_EQ(record.data.size(), (size_t)PATH_SIZE);
        }
    }
    EXPECT_TRUE(pathSeen);
}

TEST_F(Viv, ExportOfAMissingDisplayHoldsOnlyTheMagic)
{
    std::string file = FilePath("missing.viv");
    EXPECT_EQ(WriteDisplayFile("Nothing Here", file.c_str()), 0);
    Bytes bytes = ReadFileBytes(file);
    EXPECT_EQ(bytes, Magic());
    // And such a file imports nothing.
    SaveOriginal();
    Tree before = Snapshot(SAVER_KEY);
    EXPECT_EQ(ImportSettingsFile(file.c_str(), "Original"), 0);
    EXPECT_EQ(Snapshot(SAVER_KEY), before);
}

// --- Import ---------------------------------------------------------------------------------

TEST_F(Viv, ExportThenImportUnderAnotherNameIsEqualValueByValue)
{
    SaveOriginal();
    std::string file = FilePath("roundtrip.viv");
    ASSERT_EQ(WriteDisplayFile("Original", file.c_str()), 1);
    // An older display of that name with a module the file does not hold.
    memset(saverSettings.moduleActive, 0, sizeof(saverSettings.moduleActive));
    saverSettings.moduleActive[MODULE_VORTEX] = 1;
    ASSERT_TRUE(SaveDisplay("Copy"));
    ASSERT_TRUE(KeyExists((DisplayPath("Copy") + "\\Modules\\Vortex").c_str()));

    EXPECT_EQ(ImportSettingsFile(file.c_str(), "Copy"), 1);
    Tree original = Snapshot(DisplayPath("Original"));
    Tree copy = Snapshot(DisplayPath("Copy"));
    EXPECT_EQ(copy, original);
    EXPECT_FALSE(KeyExists((DisplayPath("Copy") + "\\Modules\\Vortex").c_str()));

    // The copy loads like the original.
    EXPECT_EQ(LoadDisplay("Copy"), 1);
    EXPECT_TRUE(saverSettings.moduleActive[MODULE_STAR]);
    EXPECT_FALSE(saverSettings.moduleActive[MODULE_VORTEX]);
    EXPECT_STREQ(moduleTable[MODULE_BITMAP].path, "C:\\Pictures\\*.bmp");
    EXPECT_EQ(moduleTable[MODULE_BEZIER].value[0], 12);
    EXPECT_EQ(palette->effect[1], EFFECT_CUSTOM);
    EXPECT_EQ(palette->customPalette[100].red, 100);
}

TEST_F(Viv, FirstImportOnAnEmptyRegistryStillGetsTheDefaults)
{
    SaveOriginal();
    std::string file = FilePath("Space Trip.VIV");
    ASSERT_EQ(WriteDisplayFile("Original", file.c_str()), 1);
    RegDeleteTreeA(HKEY_CURRENT_USER, SAVER_KEY);
    // The module table holds running values, not the defaults.
    moduleTable[MODULE_BEZIER].value[0] = 19;
    saverSettings.showInfo = 0;
    ModuleRecord kept[MODULE_COUNT];
    memcpy(kept, moduleTable, sizeof(moduleTable));

    EXPECT_EQ(ImportSettingsFile(file.c_str(), "Space Trip"), 1);
    EXPECT_TRUE(KeyExists(DisplayPath("Space Trip").c_str()));
    EXPECT_TRUE(KeyExists(DisplayPath("[D] Vortex").c_str()));
    EXPECT_TRUE(KeyExists(DisplayPath("[D] Bezier").c_str()));
    DWORD type;
    int value = 0;
    DWORD size = 4;
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, (DisplayPath("[D] Bezier") + "\\Modules\\Bezier").c_str(), 0,
                            KEY_READ, &key),
              ERROR_SUCCESS);
    RegQueryValueExA(key, "Control0", NULL, &type, (BYTE*)&value, &size);
    RegCloseKey(key);
    EXPECT_EQ(value, 1);   // the default, not the running 19
    EXPECT_EQ(memcmp(kept, moduleTable, sizeof(moduleTable)), 0);
    EXPECT_EQ(saverSettings.showInfo, 0);
}

TEST_F(Viv, DamagedFilesAreRejectedWhole)
{
    SaveOriginal();
    SaveOriginal("Bystander");
    std::string good = FilePath("good.viv");
    ASSERT_EQ(WriteDisplayFile("Original", good.c_str()), 1);
    Bytes valid = ReadFileBytes(good);

    struct Case {
        std::string what;
        Bytes file;
    };
    std::vector<Case> cases;
    cases.push_back({"empty file", Bytes()});
    cases.push_back({"three bytes", Bytes(valid.begin(), valid.begin() + 3)});
    {
        Bytes wrong = valid;
        wrong[0] = 0x42;
        wrong[1] = 0x00;
        cases.push_back({"wrong magic", wrong});
    }
    cases.push_back({"magic only", Magic()});
    // Cut inside every field of the first record and inside the last one.
    for (size_t cut : {5u, 8u, 9u, 12u, 14u, 20u, 24u, 27u, 30u})
        cases.push_back({"cut at " + std::to_string(cut), Bytes(valid.begin(), valid.begin() + cut)});
    cases.push_back({"last record cut", Bytes(valid.begin(), valid.end() - 1)});
    cases.push_back({"last record cut in half", Bytes(valid.begin(), valid.end() - 40)});

    auto withTail = [&](const std::string& what, const Bytes& tail) {
        Bytes file = valid;   // good records first: none of them may land
        file.insert(file.end(), tail.begin(), tail.end());
        cases.push_back({what, file});
    };
    auto record = [](const std::string& path, const std::string& name, DWORD type, const Bytes& data) {
        Bytes out;
        PutRecord(&out, path, name, type, data);
        return out;
    };
    withTail("path of 261 bytes", record(std::string(260, 'p'), "v", REG_BINARY, IntData(1)));
    withTail("name of 261 bytes", record("Palette", std::string(260, 'n'), REG_BINARY, IntData(1)));
    withTail("data of 1025 bytes", record("Palette", "v", REG_BINARY, Bytes(1025, 1)));
    withTail("type REG_EXPAND_SZ", record("Palette", "v", REG_EXPAND_SZ, Bytes(4, 'a')));
    withTail("type REG_MULTI_SZ", record("Palette", "v", REG_MULTI_SZ, Bytes(4, 0)));
    withTail("type 0", record("Palette", "v", REG_NONE, Bytes(4, 0)));
    withTail("type 0x80000003", record("Palette", "v", 0x80000003u, Bytes(4, 0)));
    withTail("REG_DWORD of 3 bytes", record("Palette", "v", REG_DWORD, Bytes(3, 0)));
    withTail("REG_DWORD of 8 bytes", record("Palette", "v", REG_DWORD, Bytes(8, 0)));
    for (const char* path : {"..", ".", "Modules\\..", "Modules\\..\\..\\..\\Hijacked", "..\\Bystander",
                             "\\Palette", "Palette\\", "Modules\\\\Bezier", "\\", "Modules\\.\\Bezier"})
        withTail(std::string("path ") + path, record(path, "v", REG_BINARY, IntData(1)));
    withTail("key name of 256 characters", record(std::string(256, 'k'), "v", REG_BINARY, IntData(1)));
    {
        Bytes tail;
        PutWord(&tail, 0);   // a path length of 0 has no terminating zero
        withTail("path length 0", tail);
    }
    {
        Bytes tail;
        PutWord(&tail, 0xFFFFFFFFu);
        withTail("path length 0xFFFFFFFF", tail);
        Bytes data;
        PutRecord(&data, "Palette", "v", REG_BINARY, IntData(1));
        memcpy(&data[data.size() - 8], "\xF0\xFF\xFF\xFF", 4);   // data length
        withTail("data length 0xFFFFFFF0", data);
    }
    {
        Bytes tail;
        PutWord(&tail, 8);
        tail.insert(tail.end(), {'P', 'a', 'l', 'e', 't', 't', 'e', 'x'});
        withTail("path without terminating zero", tail);
        Bytes inner;
        PutWord(&inner, 8);
        inner.insert(inner.end(), {'P', 'a', 'l', 0, 't', 't', 'e', 0});
        PutWord(&inner, 2);
        inner.insert(inner.end(), {'v', 0});
        PutWord(&inner, REG_BINARY);
        PutWord(&inner, 0);
        withTail("zero inside the path", inner);
    }
    {
        Bytes tail;
        PutWord(&tail, 1);
        tail.push_back(0);
        PutWord(&tail, 3);
        tail.insert(tail.end(), {'a', 'b', 'c'});
        PutWord(&tail, REG_BINARY);
        PutWord(&tail, 0);
        withTail("name without terminating zero", tail);
    }
    {
        // Far above any display: valid records past the size limit.
        Bytes huge = valid;
        Bytes one;
        PutRecord(&one, "Palette", "Filler", REG_BINARY, Bytes(1000, 7));
        while (huge.size() <= (size_t)VIV_FILE_LIMIT)
            huge.insert(huge.end(), one.begin(), one.end());
        cases.push_back({"file above the size limit", huge});
    }

    Tree before = Snapshot(SAVER_KEY);
    std::string file = FilePath("damaged.viv");
    for (const Case& c : cases) {
        WriteFileBytes(file, c.file);
        EXPECT_EQ(CheckSettingsData(c.file.data(), (DWORD)c.file.size()), 0) << c.what;
        EXPECT_EQ(ImportSettingsFile(file.c_str(), "Original"), 0) << c.what;
        EXPECT_EQ(ImportSettingsFile(file.c_str(), "Newcomer"), 0) << c.what;
        ASSERT_TRUE(Snapshot(SAVER_KEY) == before) << c.what << ": the registry changed";
    }
    // A missing file and unusable display names are rejected the same way.
    EXPECT_EQ(ImportSettingsFile(FilePath("no such file.viv").c_str(), "Original"), 0);
    for (const char* name : {"", "Saved\\Original", "..", "."})
        EXPECT_EQ(ImportSettingsFile(good.c_str(), name), 0) << name;
    EXPECT_EQ(ImportSettingsFile(good.c_str(), NULL), 0);
    EXPECT_TRUE(Snapshot(SAVER_KEY) == before);

    // The untouched file still imports.
    EXPECT_EQ(ImportSettingsFile(good.c_str(), "Newcomer"), 1);
}

TEST_F(Viv, MutatedFilesNeverTouchAnotherDisplay)
{
    SaveOriginal();
    SaveOriginal("Bystander");
    std::string good = FilePath("base.viv");
    ASSERT_EQ(WriteDisplayFile("Original", good.c_str()), 1);
    const Bytes base = ReadFileBytes(good);
    ASSERT_GT(base.size(), 1000u);
    const Tree others = SnapshotExcept("Target");
    Tree target = Snapshot(DisplayPath("Target"));
    const DWORD interesting[] = {0, 1, 2, 3, 4, 259, 260, 261, 1023, 1024, 1025, 0x7FFFFFFF, 0x80000000u,
                                 0xFFFFFFFFu, 0xFFFFFFFCu, REG_SZ, REG_BINARY, REG_DWORD};
    std::string file = FilePath("mutated.viv");
    SeedRandom(20240601);
    int accepted = 0;
    const int rounds = 3000;
    for (int round = 0; round < rounds; ++round) {
        Bytes data = base;
        int mutations = 1 + Random() % 3;
        for (int m = 0; m < mutations && !data.empty(); ++m) {
            size_t at = (size_t)((Random() << 15 | Random()) % data.size());
            switch (Random() % 5) {
            case 0:
                data[at] = (BYTE)Random();
                break;
            case 1: {
                DWORD word = interesting[Random() % (sizeof(interesting) / sizeof(interesting[0]))];
                for (int i = 0; i < 4 && at + i < data.size(); ++i)
                    data[at + i] = (BYTE)(word >> (8 * i));
                break;
            }
            case 2:
                data.resize(at);
                break;
            case 3:
                data.insert(data.begin() + at, (size_t)(1 + Random() % 8), (BYTE)Random());
                break;
            default:
                data.erase(data.begin() + at, data.begin() + std::min(data.size(), at + 1 + Random() % 16));
                break;
            }
        }
        WriteFileBytes(file, data);
        int expected = CheckSettingsData(data.data(), (DWORD)data.size());
        int result = ImportSettingsFile(file.c_str(), "Target");
        ASSERT_EQ(result, expected) << "round " << round;
        Tree now = Snapshot(DisplayPath("Target"));
        if (result) {
            ++accepted;
            target = now;
        } else {
            ASSERT_TRUE(now == target) << "round " << round << ": a rejected file changed the display";
        }
        if (round % 500 == 0) {
            ASSERT_TRUE(SnapshotExcept("Target") == others) << "round " << round;
        }
    }
    printf("%d of %d mutated files imported\n", accepted, rounds);
    EXPECT_TRUE(SnapshotExcept("Target") == others);
    // Both kinds were exercised.
    EXPECT_GT(accepted, rounds / 50);
    EXPECT_LT(accepted, rounds - rounds / 50);
}

TEST_F(Viv, NamesLongerThanTheListsHoldNeverEnter)
{
    SaveOriginal();
    std::string file = FilePath("names.viv");
    ASSERT_EQ(WriteDisplayFile("Original", file.c_str()), 1);
    const std::string longest(DISPLAY_NAME_LIMIT, 'a');
    const std::string over(DISPLAY_NAME_LIMIT + 1, 'b');

    EXPECT_TRUE(SaveDisplay(longest.c_str()));
    EXPECT_FALSE(SaveDisplay(over.c_str()));
    EXPECT_FALSE(KeyExists(DisplayPath(over).c_str()));
    EXPECT_EQ(ImportSettingsFile(file.c_str(), over.c_str()), 0);
    EXPECT_FALSE(KeyExists(DisplayPath(over).c_str()));

    // The name a file's name gives.
    std::string longFile = FilePath((over + ".VIV").c_str());
    std::string fitFile = FilePath((std::string(DISPLAY_NAME_LIMIT, 'c') + ".VIV").c_str());
    ASSERT_TRUE(CopyFileA(file.c_str(), longFile.c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(file.c_str(), fitFile.c_str(), FALSE));
    char name[DIALOG_NAME_SIZE] = "";
    EXPECT_EQ(ImportDisplayFile(NULL, longFile.c_str(), name), 0);
    EXPECT_FALSE(KeyExists(DisplayPath(over).c_str()));
    EXPECT_EQ(ImportDisplayFile(NULL, fitFile.c_str(), name), 1);
    EXPECT_EQ(std::string(name), std::string(DISPLAY_NAME_LIMIT, 'c'));
    EXPECT_TRUE(KeyExists(DisplayPath(name).c_str()));
}

// --- Export and import agree ----------------------------------------------------------------

// Exports `display`, imports the file as `copy` and checks the copy.
void RoundTrip(const std::string& display, const std::string& copy, bool wholeTree)
{
    std::string file = FilePath("roundtrip-each.viv");
    ASSERT_EQ(WriteDisplayFile(display.c_str(), file.c_str()), 1) << display;
    ASSERT_EQ(ImportSettingsFile(file.c_str(), copy.c_str()), 1) << display;
    Tree original = Snapshot(DisplayPath(display));
    Tree imported = Snapshot(DisplayPath(copy));
    if (wholeTree)
        EXPECT_TRUE(imported == original) << display;
    else
        EXPECT_TRUE(ValuesOf(imported) == ValuesOf(original)) << display;
    DeleteDisplay(copy.c_str());
}

TEST_F(Viv, EveryDisplayTheSaverWritesComesBackEqual)
{
    // The first-run defaults, the fallback, a saved display with a picture
    // path and a custom palette, one with every module, a capture with live
    // colours, and a display under the longest name.
    EnsureDefaultDisplays();
    ASSERT_TRUE(WriteDefaultDisplay(-1, RANDOM_DISPLAY, EFFECT_RANDOM));
    SaveOriginal();
    for (int module = 0; module < MODULE_COUNT; ++module)
        saverSettings.moduleActive[module] = 1;
    for (int k = 0; k < PALETTE_SLOTS; ++k)
        palette->source[k] = k % 22;
    ASSERT_TRUE(SaveDisplay("Everything"));
    saverSettings.captureLiveColours = 1;
    for (int c = 0; c < 3; ++c)
        palette->effect[c] = EFFECT_CUSTOM;
    ASSERT_EQ(CaptureDisplay(), 1);
    std::string longest(DISPLAY_NAME_LIMIT, 'L');
    ASSERT_TRUE(SaveDisplay(longest.c_str()));

    HKEY saved;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, SAVED_KEY, 0, KEY_READ, &saved), ERROR_SUCCESS);
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[300];
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(saved, index, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.push_back(name);
    }
    RegCloseKey(saved);
    EXPECT_EQ(names.size(), 14u);
    // Each one under a name of the longest length too: its deepest key must
    // still fit.
    std::string otherLongest(DISPLAY_NAME_LIMIT, 'M');
    for (const std::string& name : names) {
        RoundTrip(name, "Copy", true);
        RoundTrip(name, otherLongest, true);
    }
}

TEST_F(Viv, StrayValuesThatImportTakesComeBackEqual)
{
    SaveOriginal();
    std::string path = DisplayPath("Original");
    PutValue(path, "Note", REG_SZ, Bytes({'h', 'i', 0xE9, 0}));
    PutValue(path, "", REG_SZ, Bytes({'d', 'e', 'f', 0}));   // the key's default value
    PutValue(path + "\\Palette", "Counter", REG_DWORD, IntData(77));
    PutValue(path + "\\Palette", "Blob", REG_BINARY, Bytes(VIV_DATA_LIMIT, 0x5A));
    PutValue(path + "\\Palette", "Empty", REG_BINARY, Bytes());
    PutValue(path + "\\Modules\\Bezier", std::string(127, 'n').c_str(), REG_BINARY, IntData(3));
    PutValue(path + "\\Extra\\Deeper", "Kept", REG_BINARY, IntData(5));
    RoundTrip("Original", "Copy", true);
    // A key without values carries nothing; the values still agree.
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path + "\\Hollow").c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &key, NULL),
              ERROR_SUCCESS);
    RegCloseKey(key);
    RoundTrip("Original", "Copy", false);
}

TEST_F(Viv, ExportRefusesWhatImportCannotTake)
{
    struct Stray {
        const char* what;
        std::string key;    // below the display
        std::string name;
        DWORD type;
        Bytes data;
    };
    const std::vector<Stray> strays = {
        {"REG_MULTI_SZ", "Palette", "List", REG_MULTI_SZ, Bytes({'a', 0, 'b', 0, 0})},
        {"REG_EXPAND_SZ", "", "Where", REG_EXPAND_SZ, Bytes({'%', 'x', '%', 0})},
        {"REG_QWORD", "Palette", "Wide", REG_QWORD, Bytes(8, 1)},
        {"8-byte REG_DWORD", "Modules\\Star", "Odd", REG_DWORD, Bytes(8, 2)},
        {"REG_NONE", "", "Nothing", REG_NONE, Bytes(2, 0)},
        {"data of 1025 bytes", "Palette", "Big", REG_BINARY, Bytes(VIV_DATA_LIMIT + 1, 3)},
        {"value name of 128 characters", "Palette", std::string(128, 'v'), REG_BINARY, IntData(1)},
        {"key too deep for the longest name", std::string(60, 'a') + "\\" + std::string(60, 'b'), "Deep",
         REG_BINARY, IntData(1)},
    };
    std::string file = FilePath("refused.viv");
    for (const Stray& stray : strays) {
        RegDeleteTreeA(HKEY_CURRENT_USER, SAVER_KEY);
        SaveOriginal();
        std::string key = DisplayPath("Original") + (stray.key.empty() ? "" : "\\" + stray.key);
        PutValue(key, stray.name.c_str(), stray.type, stray.data);
        DeleteFileA(file.c_str());
        EXPECT_EQ(WriteDisplayFile("Original", file.c_str()), 0) << stray.what;
        // No file that would import as something else.
        EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << stray.what;
        // Without the stray value the same display exports again.
        HKEY handle;
        ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_ALL_ACCESS, &handle), ERROR_SUCCESS);
        RegDeleteValueA(handle, stray.name.c_str());
        RegCloseKey(handle);
        EXPECT_EQ(WriteDisplayFile("Original", file.c_str()), 1) << stray.what;
    }
    // A display with no values at all makes no importable file either.
    HKEY empty;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, DisplayPath("Hollow").c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &empty, NULL),
              ERROR_SUCCESS);
    RegCloseKey(empty);
    EXPECT_EQ(WriteDisplayFile("Hollow", file.c_str()), 0);
}

// --- Import is all or nothing ---------------------------------------------------------------

// A file that passes every check of its own: records for the display key, a
// module and a key whose relative path is long but legal.
Bytes FileWithPath(const std::string& deepPath)
{
    Bytes file = Magic();
    PutRecord(&file, "", "Priority", REG_BINARY, IntData(32));
    PutRecord(&file, "Modules\\Star", "Control0", REG_BINARY, IntData(4));
    PutRecord(&file, deepPath, "Deep", REG_BINARY, IntData(9));
    return file;
}

TEST_F(Viv, KeyPathBeyondTheRegistryLimitIsRefusedBeforeAnythingChanges)
{
    SaveOriginal();
    SaveOriginal("Bystander");
    // Legal relative paths (parts under 256, whole under 260) that do not fit
    // below the display's key.
    const std::string deep = std::string(200, 'd') + "\\" + std::string(50, 'e');
    Bytes data = FileWithPath(deep);
    ASSERT_EQ(CheckSettingsData(data.data(), (DWORD)data.size()), 1);
    std::string file = FilePath("deep.viv");
    WriteFileBytes(file, data);
    Tree before = Snapshot(SAVER_KEY);
    for (const char* display : {"Original", "Newcomer", TEST_DISPLAY}) {
        EXPECT_EQ(ImportSettingsFile(file.c_str(), display), 0) << display;
        EXPECT_TRUE(Snapshot(SAVER_KEY) == before) << display << ": the registry changed";
    }
    // A path that fits below a short name but not below a long one.
    const std::string middle = std::string(100, 'm');
    data = FileWithPath(middle);
    WriteFileBytes(file, data);
    EXPECT_EQ(ImportSettingsFile(file.c_str(), "Original"), 1);
    EXPECT_TRUE(KeyExists((DisplayPath("Original") + "\\" + middle).c_str()));
    std::string longName(DISPLAY_NAME_LIMIT, 'x');
    EXPECT_EQ(ImportSettingsFile(file.c_str(), longName.c_str()), 0);
    EXPECT_FALSE(KeyExists(DisplayPath(longName).c_str()));
}

TEST_F(Viv, RefusedWriteHalfwayPutsTheDisplayBackByteForByte)
{
    SaveOriginal();
    std::string file = FilePath("halfway.viv");
    ASSERT_EQ(WriteDisplayFile("Original", file.c_str()), 1);

    // The display to be replaced holds things no file could carry: a list, a
    // large value, a text of characters outside the code page, an empty key.
    memset(saverSettings.moduleActive, 0, sizeof(saverSettings.moduleActive));
    saverSettings.moduleActive[MODULE_VORTEX] = 1;
    ASSERT_TRUE(SaveDisplay("Target"));
    std::string path = DisplayPath("Target");
    PutValue(path, "List", REG_MULTI_SZ, Bytes({'a', 0, 'b', 0, 0}));
    PutValue(path + "\\Palette", "Large", REG_BINARY, Bytes(5000, 0xA5));
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path + "\\Hollow").c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &key, NULL),
              ERROR_SUCCESS);
    const WCHAR wide[] = L"\x4e2d\x6587";
    ASSERT_EQ(RegSetValueExW(key, L"\x540d", 0, REG_SZ, (const BYTE*)wide, sizeof(wide)), ERROR_SUCCESS);
    RegCloseKey(key);
    // A sub-key that refuses to be deleted: the import must clear the old
    // display first and is refused halfway through.
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, (path + "\\Zlocked").c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                              &key, NULL),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, "Inside", 0, REG_BINARY, IntData(8).data(), 4), ERROR_SUCCESS);
    ASSERT_TRUE(DenyDelete(key));
    RegCloseKey(key);
    HKEY probe;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, (path + "\\Zlocked").c_str(), 0, DELETE, &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        AllowDelete(path + "\\Zlocked");
        GTEST_SKIP() << "this registry does not enforce key security, so no write can be refused";
    }

    ExactTree before = ExactSnapshot(path);
    Tree others = SnapshotExcept("Target");
    EXPECT_EQ(ImportSettingsFile(file.c_str(), "Target"), 0);
    EXPECT_TRUE(ExactSnapshot(path) == before) << "the display was not put back as it was";
    EXPECT_TRUE(SnapshotExcept("Target") == others);

    AllowDelete(path + "\\Zlocked");
    EXPECT_EQ(ImportSettingsFile(file.c_str(), "Target"), 1);
    EXPECT_TRUE(Snapshot(path) == Snapshot(DisplayPath("Original")));
}

// --- The overwrite question -----------------------------------------------------------------

struct Answerer {
    const char* caption;
    int answer;          // IDYES, IDNO, or a command for a dialog
    volatile int seen;
    volatile int stop;
    char text[512];
    int hasYes, hasNo;
};

DWORD WINAPI AnswerBoxes(LPVOID parameter)
{
    Answerer* a = (Answerer*)parameter;
    while (!a->stop) {
        HWND box = FindWindowA(NULL, a->caption);
        if (box && IsWindowVisible(box)) {
            GetDlgItemTextA(box, 0xFFFF, a->text, sizeof(a->text));
            a->hasYes = GetDlgItem(box, IDYES) != NULL;
            a->hasNo = GetDlgItem(box, IDNO) != NULL;
            a->seen = a->seen + 1;
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(a->answer, BN_CLICKED), 0);
            while (IsWindow(box) && !a->stop)
                Sleep(10);
        }
        Sleep(10);
    }
    return 0;
}

class Question : public Viv {
protected:
    Answerer answerer;
    HANDLE thread = 0;
    HWND page = 0;
    HWND list = 0;

    void SetUp() override
    {
        Viv::SetUp();
        page = CreateWindowA("STATIC", "Main Settings", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, NULL, NULL,
                             GetModuleHandleA(NULL), NULL);
        list = CreateWindowA("COMBOBOX", "", WS_CHILD | CBS_DROPDOWN | CBS_SORT, 0, 0, 200, 200, page,
                             (HMENU)DISPLAY_LIST_ID, GetModuleHandleA(NULL), NULL);
    }
    void TearDown() override
    {
        Stop();
        DestroyWindow(page);
        Viv::TearDown();
    }
    void Answer(int answer)
    {
        Stop();
        memset(&answerer, 0, sizeof(answerer));
        answerer.caption = "Settings by this name already exist!";
        answerer.answer = answer;
        DWORD id;
        thread = CreateThread(NULL, 0, AnswerBoxes, &answerer, 0, &id);
    }
    void Stop()
    {
        if (thread) {
            answerer.stop = 1;
            WaitForSingleObject(thread, 5000);
            CloseHandle(thread);
            thread = 0;
        }
    }
    int ListCount(const char* name)
    {
        int count = 0;
        int items = (int)SendMessageA(list, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < items; ++i) {
            char text[300] = "";
            SendMessageA(list, CB_GETLBTEXT, i, (LPARAM)text);
            count += strcmp(text, name) == 0;
        }
        return count;
    }
};

TEST_F(Question, ImportAsksBeforeReplacingADisplay)
{
    SaveOriginal();
    std::string file = FilePath("Space Trip.VIV");
    ASSERT_EQ(WriteDisplayFile("Original", file.c_str()), 1);

    // A new name: no question, the display appears and joins the list.
    Answer(IDNO);
    char name[260] = "";
    EXPECT_EQ(ImportDisplayFile(page, file.c_str(), name), 1);
    Stop();
    EXPECT_EQ(answerer.seen, 0);
    EXPECT_STREQ(name, "Space Trip");
    EXPECT_EQ(Snapshot(DisplayPath("Space Trip")), Snapshot(DisplayPath("Original")));
    EXPECT_EQ(ListCount("Space Trip"), 1);

    // The name exists now: "No" keeps it as it is.
    memset(saverSettings.moduleActive, 0, sizeof(saverSettings.moduleActive));
    saverSettings.moduleActive[MODULE_RAY] = 1;
    ASSERT_TRUE(SaveDisplay("Space Trip"));
    Tree mine = Snapshot(DisplayPath("Space Trip"));
    Answer(IDNO);
    EXPECT_EQ(ImportDisplayFile(page, file.c_str(), name), 0);
    Stop();
    EXPECT_EQ(answerer.seen, 1);
    EXPECT_STREQ(answerer.text, "This will overwrite your existing settings for \"Space Trip\"\n\nDo you wish to proceed?");
    EXPECT_TRUE(answerer.hasYes);
    EXPECT_TRUE(answerer.hasNo);
    EXPECT_EQ(Snapshot(DisplayPath("Space Trip")), mine);

    // "Yes" replaces it; the list keeps one entry.
    Answer(IDYES);
    EXPECT_EQ(ImportDisplayFile(page, file.c_str(), name), 1);
    Stop();
    EXPECT_EQ(answerer.seen, 1);
    EXPECT_EQ(Snapshot(DisplayPath("Space Trip")), Snapshot(DisplayPath("Original")));
    EXPECT_EQ(ListCount("Space Trip"), 1);
}

// --- File dialogs ---------------------------------------------------------------------------

struct DialogDriver {
    std::string fileName;   // typed into the name box, empty to keep it
    int command;            // IDOK or IDCANCEL
    volatile int seen;
    volatile int stop;
    char shownName[300];    // the name the dialog offered
    char title[128];
};

struct FindContext {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
{
    FindContext* context = (FindContext*)parameter;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char className[64] = "";
    GetClassNameA(window, className, sizeof(className));
    if (process == context->process && strcmp(className, "#32770") == 0 && IsWindowVisible(window)) {
        context->found = window;
        return FALSE;
    }
    return TRUE;
}

// The file name box of an explorer-style dialog.
HWND NameBox(HWND dialog)
{
    HWND box = GetDlgItem(dialog, 0x47c);   // cmb13
    if (!box)
        box = GetDlgItem(dialog, 0x480);    // edt1
    return box;
}

DWORD WINAPI DriveDialog(LPVOID parameter)
{
    DialogDriver* d = (DialogDriver*)parameter;
    DWORD start = GetTickCount();
    while (!d->stop && GetTickCount() - start < 60000) {
        FindContext context = {GetCurrentProcessId(), 0};
        EnumWindows(FindDialog, (LPARAM)&context);
        HWND box = context.found ? NameBox(context.found) : 0;
        if (box) {
            Sleep(300);   // let the dialog finish filling itself
            GetWindowTextA(context.found, d->title, sizeof(d->title));
            GetWindowTextA(box, d->shownName, sizeof(d->shownName));
            if (!d->fileName.empty())
                SetWindowTextA(box, d->fileName.c_str());
            d->seen = 1;
            PostMessageA(context.found, WM_COMMAND, MAKEWPARAM(d->command, BN_CLICKED),
                         (LPARAM)GetDlgItem(context.found, d->command));
            return 0;
        }
        Sleep(50);
    }
    return 0;
}

class Dialogs : public Question {
protected:
    DialogDriver driver;
    HANDLE driverThread = 0;

    void Drive(const std::string& fileName, int command)
    {
        driver.fileName = fileName;
        driver.command = command;
        driver.seen = 0;
        driver.stop = 0;
        driver.shownName[0] = 0;
        driver.title[0] = 0;
        DWORD id;
        driverThread = CreateThread(NULL, 0, DriveDialog, &driver, 0, &id);
    }
    void Finish()
    {
        if (driverThread) {
            driver.stop = 1;
            WaitForSingleObject(driverThread, 5000);
            CloseHandle(driverThread);
            driverThread = 0;
        }
    }
    void TearDown() override
    {
        Finish();
        Question::TearDown();
    }
};

TEST_F(Dialogs, ExportSuggestsTheMappedNameAndAddsTheExtension)
{
    SaveOriginal("A/B:C");
    // Saved under a name with characters a file name cannot hold.
    ASSERT_TRUE(KeyExists(DisplayPath("A/B:C").c_str()));
    std::string folder = Folder();
    lstrcpynA(dialogFolder, folder.c_str(), sizeof(dialogFolder));
    DeleteFileA((folder + "\\A_B_C.VIV").c_str());

    Drive("", IDOK);
    EXPECT_EQ(ExportDisplay(page, "A/B:C"), 1);
    Finish();
    ASSERT_TRUE(driver.seen);
    EXPECT_STREQ(driver.shownName, "A_B_C");
    Bytes bytes = ReadFileBytes(folder + "\\A_B_C.VIV");
    std::vector<FileRecord> records;
    ASSERT_TRUE(ParseFile(bytes, &records));
    EXPECT_GT(records.size(), 100u);
    EXPECT_EQ(Lower(dialogFolder), Lower(folder));

    // Cancel writes nothing.
    DeleteFileA((folder + "\\A_B_C.VIV").c_str());
    Drive("", IDCANCEL);
    EXPECT_EQ(ExportDisplay(page, "A/B:C"), 0);
    Finish();
    EXPECT_TRUE(driver.seen);
    EXPECT_EQ(GetFileAttributesA((folder + "\\A_B_C.VIV").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Dialogs, ImportTakesOneOrSeveralFiles)
{
    SaveOriginal();
    std::string folder = Folder();
    ASSERT_EQ(WriteDisplayFile("Original", (folder + "\\First.VIV").c_str()), 1);
    ASSERT_EQ(WriteDisplayFile("Original", (folder + "\\Second.VIV").c_str()), 1);
    ASSERT_TRUE(WriteSaverValue("VivraDir", REG_SZ, folder.c_str(), (DWORD)folder.size() + 1));
    lstrcpynA(dialogFolder, "C:\\", sizeof(dialogFolder));

    char name[260] = "";
    Drive("First.VIV", IDOK);
    EXPECT_EQ(ImportDisplays(page, name), 1);
    Finish();
    ASSERT_TRUE(driver.seen);
    EXPECT_STREQ(name, "First");
    EXPECT_EQ(Snapshot(DisplayPath("First")), Snapshot(DisplayPath("Original")));
    EXPECT_EQ(ListCount("First"), 1);

    // Two at once; "First" exists now, so its question comes once.
    Answer(IDYES);
    Drive("\"First.VIV\" \"Second.VIV\"", IDOK);
    EXPECT_EQ(ImportDisplays(page, name), 1);
    Finish();
    Stop();
    EXPECT_EQ(answerer.seen, 1);
    EXPECT_STREQ(name, "Second");
    EXPECT_EQ(Snapshot(DisplayPath("Second")), Snapshot(DisplayPath("Original")));
    EXPECT_EQ(ListCount("First"), 1);
    EXPECT_EQ(ListCount("Second"), 1);

    // "First" anew, "Second" declined, a damaged file refused: the name
    // handed back is the last one imported, never one that was not.
    ASSERT_TRUE(DeleteDisplay("First"));
    WriteFileBytes(folder + "\\Broken.VIV", Magic());
    name[0] = 0;
    Answer(IDNO);
    Drive("\"First.VIV\" \"Second.VIV\" \"Broken.VIV\"", IDOK);
    EXPECT_EQ(ImportDisplays(page, name), 1);
    Finish();
    Stop();
    EXPECT_EQ(answerer.seen, 1);
    EXPECT_STREQ(name, "First");
    EXPECT_EQ(ListCount("Broken"), 0);
    // Nothing imported at all: no name, and no success.
    name[0] = 0;
    Answer(IDNO);
    Drive("\"Second.VIV\" \"Broken.VIV\"", IDOK);
    EXPECT_EQ(ImportDisplays(page, name), 0);
    Finish();
    Stop();
    EXPECT_STREQ(name, "");

    Drive("", IDCANCEL);
    EXPECT_EQ(ImportDisplays(page, name), 0);
    Finish();
}

}  // namespace
