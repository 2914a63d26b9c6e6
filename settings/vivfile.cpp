// .VIV files: a flat dump of one display's registry tree. Every value of the
// display key and its sub-keys becomes one record of relative key path, value
// name, type and data.
#include "settings/vivfile.h"
#include "settings/registry.h"
#include "imagefiles/filedialog.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum {
    KEY_NAME_LIMIT = 255,
    // The longest key path the registry takes below HKEY_CURRENT_USER.
    KEY_PATH_LIMIT = 255,
    // The longest relative path that fits below the key of any display name.
    RELATIVE_PATH_LIMIT = KEY_PATH_LIMIT - (int)(sizeof(SAVED_KEY "\\") - 1) - DISPLAY_NAME_LIMIT - 1,
    VIV_VALUE_NAME_SIZE = 128   // value names of up to 127 characters
};

static const char fileNameCharacters[] = "$%'-_@ ~`!(){.}^#&+,;=[]";

void SuggestFileName(const char* display, char* fileName, int size)
{
    if (size <= 0)
        return;
    int i = 0;
    for (; display && display[i] && i < size - 1; ++i) {
        char c = display[i];
        int kept = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                   strchr(fileNameCharacters, c) != NULL;
        fileName[i] = kept ? c : '_';
    }
    fileName[i] = 0;
}

void DisplayNameOfFile(const char* fileName, char* display, int size)
{
    if (size <= 0)
        return;
    const char* base = fileName;
    for (const char* p = fileName; *p; ++p)
        if (*p == '\\' || *p == '/' || *p == ':')
            base = p + 1;
    const char* dot = strrchr(base, '.');
    int length = dot ? (int)(dot - base) : (int)strlen(base);
    if (length > size - 1)
        length = size - 1;
    memcpy(display, base, length);
    display[length] = 0;
}

// --- Export ------------------------------------------------------------------------------

static int WriteBytes(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    return WriteFile(file, data, size, &written, NULL) && written == size;
}

static int WriteRecord(HANDLE file, const char* path, const char* name, DWORD type, const BYTE* data,
                       DWORD size)
{
    DWORD pathLength = (DWORD)strlen(path) + 1;
    DWORD nameLength = (DWORD)strlen(name) + 1;
    return WriteBytes(file, &pathLength, 4) && WriteBytes(file, path, pathLength) &&
           WriteBytes(file, &nameLength, 4) && WriteBytes(file, name, nameLength) &&
           WriteBytes(file, &type, 4) && WriteBytes(file, &size, 4) && WriteBytes(file, data, size);
}

// 1 when the import takes a value of this type and size.
static int ImportableValue(DWORD type, DWORD size)
{
    if (type != REG_SZ && type != REG_BINARY && type != REG_DWORD)
        return 0;
    return size <= VIV_DATA_LIMIT && (type != REG_DWORD || size == 4);
}

// 1 when the key or any key below it holds a value (or cannot be read).
static int HoldsValues(HKEY key)
{
    DWORD keys = 0, values = 0;
    if (RegQueryInfoKeyA(key, NULL, NULL, NULL, &keys, NULL, NULL, &values, NULL, NULL, NULL, NULL) !=
            ERROR_SUCCESS ||
        values)
        return 1;
    for (DWORD index = 0; index < keys; ++index) {
        char child[KEY_NAME_LIMIT + 1];
        DWORD length = sizeof(child);
        HKEY sub = 0;
        if (RegEnumKeyExA(key, index, child, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS ||
            RegOpenKeyExA(key, child, 0, KEY_READ, &sub) != ERROR_SUCCESS)
            return 1;
        int holds = HoldsValues(sub);
        RegCloseKey(sub);
        if (holds)
            return 1;
    }
    return 0;
}

// Values of the key first, then each sub-key with all its values before its
// own sub-keys. Returns 0 when anything could not be written or could not be
// imported again (a name or value beyond the limits, a foreign type, a path
// too deep for a display of the longest name); the walk still goes on.
static int WriteKey(HANDLE file, HKEY key, const char* relative)
{
    int ok = 1;
    for (DWORD index = 0;; ++index) {
        char name[VIV_VALUE_NAME_SIZE];
        BYTE data[VIV_DATA_LIMIT];
        DWORD nameLength = sizeof(name);
        DWORD dataLength = sizeof(data);
        DWORD type = 0;
        LONG result = RegEnumValueA(key, index, name, &nameLength, NULL, &type, data, &dataLength);
        if (result == ERROR_MORE_DATA) {
            ok = 0;
            continue;
        }
        if (result != ERROR_SUCCESS)
            break;
        if (!ImportableValue(type, dataLength)) {
            ok = 0;
            continue;
        }
        ok &= WriteRecord(file, relative, name, type, data, dataLength);
    }
    for (DWORD index = 0;; ++index) {
        char child[KEY_NAME_LIMIT + 1];
        DWORD length = sizeof(child);
        LONG result = RegEnumKeyExA(key, index, child, &length, NULL, NULL, NULL, NULL);
        if (result == ERROR_MORE_DATA) {
            ok = 0;
            continue;
        }
        if (result != ERROR_SUCCESS)
            break;
        char path[VIV_TEXT_LIMIT];
        int pathLength = relative[0] ? snprintf(path, sizeof(path), "%s\\%s", relative, child)
                                     : snprintf(path, sizeof(path), "%s", child);
        HKEY sub = 0;
        if (RegOpenKeyExA(key, child, 0, KEY_READ, &sub) != ERROR_SUCCESS) {
            ok = 0;
            continue;
        }
        // A key too deep for the file matters only when it holds values.
        if (pathLength <= 0 || pathLength > RELATIVE_PATH_LIMIT)
            ok &= !HoldsValues(sub);
        else
            ok &= WriteKey(file, sub, path);
        RegCloseKey(sub);
    }
    return ok;
}

static BYTE* ReadWholeFile(const char* fileName, DWORD* size);

int WriteDisplayFile(const char* display, const char* fileName)
{
    HANDLE file = CreateFileA(fileName, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD magic = VIV_MAGIC;
    int ok = WriteBytes(file, &magic, 4);
    char path[KEY_PATH_SIZE];
    HKEY key = 0;
    if (!DisplayKeyPath(display, path, sizeof(path)) ||
        RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        // The file holds only the magic.
        CloseHandle(file);
        return 0;
    }
    int carried = WriteKey(file, key, "");
    RegCloseKey(key);
    CloseHandle(file);

    // What the import would refuse is no export: the same checks decide.
    if (ok && carried) {
        DWORD size = 0;
        BYTE* data = ReadWholeFile(fileName, &size);
        carried = data && CheckSettingsData(data, size);
        free(data);
    }
    if (ok && carried)
        return 1;
    // A file that lacks part of the display would import as another one.
    DeleteFileA(fileName);
    return 0;
}

int ExportDisplay(HWND, const char* display)
{
    char fileName[DIALOG_NAME_SIZE];
    SuggestFileName(display, fileName, sizeof(fileName));
    if (!FileDialog(fileName, "*.VIV", 1))
        return 0;
    return WriteDisplayFile(display, fileName);
}

// --- Import -------------------------------------------------------------------------------

struct SettingsRecord {
    const char* path;
    const char* name;
    DWORD type;
    const BYTE* data;
    DWORD size;
};

static int TakeWord(const BYTE* data, DWORD size, DWORD* offset, DWORD* word)
{
    if (size - *offset < 4)
        return 0;
    memcpy(word, data + *offset, 4);
    *offset += 4;
    return 1;
}

// A zero-terminated text of 1 to 260 bytes with no zero before its end.
static int TakeText(const BYTE* data, DWORD size, DWORD* offset, const char** text)
{
    DWORD length = 0;
    if (!TakeWord(data, size, offset, &length))
        return 0;
    if (length < 1 || length > VIV_TEXT_LIMIT || size - *offset < length)
        return 0;
    const char* start = (const char*)data + *offset;
    if (start[length - 1] != 0 || strlen(start) != length - 1)
        return 0;
    *text = start;
    *offset += length;
    return 1;
}

// Empty (the display key itself) or sub-key names joined by backslashes:
// no empty part, no "." or "..", no part longer than a key name can be.
static int RelativeKeyPath(const char* path)
{
    if (!path[0])
        return 1;
    const char* part = path;
    for (;;) {
        const char* end = strchr(part, '\\');
        size_t length = end ? (size_t)(end - part) : strlen(part);
        if (length == 0 || length > KEY_NAME_LIMIT)
            return 0;
        if ((length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.'))
            return 0;
        if (!end)
            return 1;
        part = end + 1;
    }
}

// Reads the record at *offset; 0 when it is incomplete or breaks a rule.
static int TakeRecord(const BYTE* data, DWORD size, DWORD* offset, SettingsRecord* record)
{
    if (!TakeText(data, size, offset, &record->path) || !RelativeKeyPath(record->path))
        return 0;
    if (!TakeText(data, size, offset, &record->name))
        return 0;
    if (!TakeWord(data, size, offset, &record->type) || !TakeWord(data, size, offset, &record->size))
        return 0;
    if (record->type != REG_SZ && record->type != REG_BINARY && record->type != REG_DWORD)
        return 0;
    if (record->size > VIV_DATA_LIMIT || (record->type == REG_DWORD && record->size != 4))
        return 0;
    if (size - *offset < record->size)
        return 0;
    record->data = data + *offset;
    *offset += record->size;
    return 1;
}

int CheckSettingsData(const BYTE* data, DWORD size)
{
    DWORD magic = 0;
    DWORD offset = 0;
    if (!data || size > VIV_FILE_LIMIT || !TakeWord(data, size, &offset, &magic) || magic != VIV_MAGIC)
        return 0;
    int records = 0;
    while (offset < size) {
        SettingsRecord record;
        if (!TakeRecord(data, size, &offset, &record))
            return 0;
        ++records;
    }
    return records > 0;
}

// The whole file, or null when it cannot be read or is too large.
static BYTE* ReadWholeFile(const char* fileName, DWORD* size)
{
    HANDLE file = CreateFileA(fileName, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD high = 0;
    DWORD length = GetFileSize(file, &high);
    BYTE* data = 0;
    if (length != INVALID_FILE_SIZE && high == 0 && length <= VIV_FILE_LIMIT) {
        data = (BYTE*)malloc(length ? length : 1);
        DWORD read = 0;
        if (data && (!ReadFile(file, data, length, &read, NULL) || read != length)) {
            free(data);
            data = 0;
        }
    }
    CloseHandle(file);
    *size = length;
    return data;
}

// --- Snapshot of a display ------------------------------------------------------------------

// A key tree held in memory, so that a failed import can put it back byte for
// byte: one run of items, each key (its path below the tree's root) followed
// by its values and then its sub-keys. The wide interfaces read names and
// texts exactly as stored, whatever program wrote them and in what code page.
struct TreeSnapshot {
    BYTE* items;
    DWORD used;
    DWORD capacity;
    int complete;   // 0 when part of the tree could not be read
};

enum { ITEM_KEY = 1, ITEM_VALUE = 2, SNAPSHOT_LIMIT = 1 << 28 };

static int Append(TreeSnapshot* snapshot, const void* data, DWORD size)
{
    if (snapshot->capacity - snapshot->used < size) {
        DWORD capacity = snapshot->capacity ? snapshot->capacity : 4096;
        while (capacity - snapshot->used < size) {
            if (capacity >= SNAPSHOT_LIMIT)
                return 0;
            capacity *= 2;
        }
        BYTE* grown = (BYTE*)realloc(snapshot->items, capacity);
        if (!grown)
            return 0;
        snapshot->items = grown;
        snapshot->capacity = capacity;
    }
    memcpy(snapshot->items + snapshot->used, data, size);
    snapshot->used += size;
    return 1;
}

// Kind, text length in characters (zero included), text; a value adds its
// type, size and data, padded to an even size so the next text stays aligned.
static void AppendItem(TreeSnapshot* snapshot, DWORD kind, const WCHAR* text, DWORD type, const BYTE* data,
                       DWORD size)
{
    DWORD length = (DWORD)wcslen(text) + 1;
    int ok = Append(snapshot, &kind, 4) && Append(snapshot, &length, 4) &&
             Append(snapshot, text, length * (DWORD)sizeof(WCHAR));
    if (ok && kind == ITEM_VALUE) {
        BYTE pad = 0;
        ok = Append(snapshot, &type, 4) && Append(snapshot, &size, 4) && Append(snapshot, data, size) &&
             ((size & 1) == 0 || Append(snapshot, &pad, 1));
    }
    if (!ok)
        snapshot->complete = 0;
}

// "relative\child", or the child alone below the root; null when out of memory.
static WCHAR* JoinWide(const WCHAR* relative, const WCHAR* child)
{
    size_t length = wcslen(relative) + 1 + wcslen(child) + 1;
    WCHAR* path = (WCHAR*)malloc(length * sizeof(WCHAR));
    if (!path)
        return 0;
    path[0] = 0;
    if (relative[0]) {
        wcscpy(path, relative);
        wcscat(path, L"\\");
    }
    wcscat(path, child);
    return path;
}

static void SnapKey(TreeSnapshot* snapshot, HKEY key, const WCHAR* relative)
{
    AppendItem(snapshot, ITEM_KEY, relative, 0, 0, 0);
    DWORD keys = 0, longestKey = 0, values = 0, longestName = 0, longestData = 0;
    if (RegQueryInfoKeyW(key, NULL, NULL, NULL, &keys, &longestKey, NULL, &values, &longestName, &longestData,
                         NULL, NULL) != ERROR_SUCCESS) {
        snapshot->complete = 0;
        return;
    }
    WCHAR* name = (WCHAR*)malloc((longestName + 1) * sizeof(WCHAR));
    BYTE* data = (BYTE*)malloc(longestData + 1);
    if (!name || !data)
        snapshot->complete = 0;
    for (DWORD index = 0; name && data && index < values; ++index) {
        DWORD nameLength = longestName + 1;
        DWORD size = longestData + 1;
        DWORD type = 0;
        if (RegEnumValueW(key, index, name, &nameLength, NULL, &type, data, &size) != ERROR_SUCCESS) {
            snapshot->complete = 0;
            continue;
        }
        AppendItem(snapshot, ITEM_VALUE, name, type, data, size);
    }
    free(name);
    free(data);

    WCHAR* child = (WCHAR*)malloc((longestKey + 1) * sizeof(WCHAR));
    if (!child)
        snapshot->complete = 0;
    for (DWORD index = 0; child && index < keys; ++index) {
        DWORD length = longestKey + 1;
        HKEY sub = 0;
        WCHAR* path = 0;
        if (RegEnumKeyExW(key, index, child, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS ||
            !(path = JoinWide(relative, child)) || RegOpenKeyExW(key, child, 0, KEY_READ, &sub) != ERROR_SUCCESS) {
            snapshot->complete = 0;
            free(path);
            continue;
        }
        SnapKey(snapshot, sub, path);
        RegCloseKey(sub);
        free(path);
    }
    free(child);
}

// Writes the snapshot back below `root`; 0 when any key or value failed.
static int RestoreSnapshot(const TreeSnapshot* snapshot, const char* root)
{
    WCHAR wideRoot[KEY_PATH_SIZE];
    if (!MultiByteToWideChar(CP_ACP, 0, root, -1, wideRoot, KEY_PATH_SIZE))
        return 0;
    int ok = 1;
    HKEY key = 0;
    DWORD at = 0;
    while (at < snapshot->used) {
        const BYTE* item = snapshot->items + at;
        DWORD kind, length;
        memcpy(&kind, item, 4);
        memcpy(&length, item + 4, 4);
        const WCHAR* text = (const WCHAR*)(item + 8);
        at += 8 + length * (DWORD)sizeof(WCHAR);
        if (kind == ITEM_KEY) {
            if (key)
                RegCloseKey(key);
            key = 0;
            WCHAR* path = JoinWide(wideRoot, text);
            if (!path || RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                         NULL, &key, NULL) != ERROR_SUCCESS) {
                key = 0;
                ok = 0;
            }
            free(path);
            continue;
        }
        DWORD type, size;
        memcpy(&type, snapshot->items + at, 4);
        memcpy(&size, snapshot->items + at + 4, 4);
        const BYTE* data = snapshot->items + at + 8;
        at += 8 + size + (size & 1);
        if (!key || RegSetValueExW(key, text, 0, type, data, size) != ERROR_SUCCESS)
            ok = 0;
    }
    if (key)
        RegCloseKey(key);
    return ok;
}

// --- Import, all or nothing -----------------------------------------------------------------

// 1 when every key the records name fits the registry's path limit below the
// display's key: known before anything is touched.
static int RecordPathsFit(const BYTE* data, DWORD size, const char* displayPath)
{
    size_t room = KEY_PATH_LIMIT - strlen(displayPath);
    DWORD offset = 4;
    while (offset < size) {
        SettingsRecord record;
        if (!TakeRecord(data, size, &offset, &record))
            return 0;
        if (record.path[0] && strlen(record.path) + 1 > room)
            return 0;
    }
    return strlen(displayPath) <= KEY_PATH_LIMIT;
}

static int WriteRecords(const BYTE* data, DWORD size, const char* displayPath)
{
    int result = 1;
    DWORD offset = 4;
    HKEY key = 0;
    const char* keyPath = 0;
    while (offset < size) {
        SettingsRecord record;
        TakeRecord(data, size, &offset, &record);
        if (!keyPath || strcmp(keyPath, record.path) != 0) {
            if (key)
                RegCloseKey(key);
            key = 0;
            keyPath = record.path;
            char path[KEY_PATH_SIZE];
            if (record.path[0])
                snprintf(path, sizeof(path), "%s\\%s", displayPath, record.path);
            else
                snprintf(path, sizeof(path), "%s", displayPath);
            if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                                &key, NULL) != ERROR_SUCCESS)
                key = 0;
        }
        if (!key || RegSetValueExA(key, record.name, 0, record.type, record.data, record.size) != ERROR_SUCCESS) {
            result = 0;
            break;
        }
    }
    if (key)
        RegCloseKey(key);
    return result;
}

int ImportSettingsFile(const char* fileName, const char* display)
{
    char displayPath[KEY_PATH_SIZE];
    if (!fileName || !DisplayKeyPath(display, displayPath, sizeof(displayPath)))
        return 0;
    DWORD size = 0;
    BYTE* data = ReadWholeFile(fileName, &size);
    if (!data)
        return 0;
    // Nothing is touched before the whole file has passed.
    if (!CheckSettingsData(data, size) || !RecordPathsFit(data, size, displayPath)) {
        free(data);
        return 0;
    }

    // What a write can still refuse is undone from a snapshot of the display
    // and of which keys above it existed.
    int saverKeyExisted = KeyExists(SAVER_KEY);
    int savedKeyExisted = KeyExists(SAVED_KEY);
    TreeSnapshot before = {0, 0, 0, 1};
    HKEY old = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, displayPath, 0, KEY_READ, &old) == ERROR_SUCCESS) {
        SnapKey(&before, old, L"");
        RegCloseKey(old);
        if (!before.complete) {
            free(before.items);
            free(data);
            return 0;
        }
    } else {
        old = 0;
    }

    EnsureFirstRunDefaults();
    int result = (DeleteDisplay(display) || !old) && WriteRecords(data, size, displayPath);
    if (!result) {
        if (!saverKeyExisted)
            DeleteKeyTree(HKEY_CURRENT_USER, SAVER_KEY);
        else if (!savedKeyExisted)
            DeleteKeyTree(HKEY_CURRENT_USER, SAVED_KEY);
        else
            DeleteKeyTree(HKEY_CURRENT_USER, displayPath);
        if (old)
            RestoreSnapshot(&before, displayPath);
    }
    free(before.items);
    free(data);
    return result;
}

int ImportDisplayFile(HWND owner, const char* fileName, char* imported)
{
    // The caller learns the name only once the display is there: a file
    // declined or refused names no display to choose.
    char name[DIALOG_NAME_SIZE];
    DisplayNameOfFile(fileName, name, DIALOG_NAME_SIZE);
    char path[KEY_PATH_SIZE];
    if (DisplayKeyPath(name, path, sizeof(path)) && KeyExists(path)) {
        char text[DIALOG_NAME_SIZE + 96];
        snprintf(text, sizeof(text), "This will overwrite your existing settings for \"%s\"\n\nDo you wish to proceed?",
                 name);
        if (MessageBoxA(owner, text, "Settings by this name already exist!", MB_ICONQUESTION | MB_YESNO) != IDYES)
            return 0;
    }
    if (!ImportSettingsFile(fileName, name))
        return 0;
    HWND list = owner ? GetDlgItem(owner, DISPLAY_LIST_ID) : 0;
    if (list && SendMessageA(list, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)name) == CB_ERR)
        SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)name);
    if (imported)
        lstrcpynA(imported, name, DIALOG_NAME_SIZE);
    return 1;
}

// Older NT systems separate the parts of a multiple selection by blanks.
static char SelectionSeparator(void)
{
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwBuildNumber <= 1380)
        return ' ';
    return 0;
}

int ImportDisplays(HWND owner, char* name)
{
    char folder[DIALOG_NAME_SIZE];
    char files[DIALOG_NAME_SIZE];
    ReadSaverValue("VivraDir", REG_SZ, folder, sizeof(folder));
    if (folder[0])
        snprintf(files, sizeof(files), "%s\\*.VIV", folder);
    else
        snprintf(files, sizeof(files), "*.VIV");
    if (!FileDialog(files, "*.VIV", 0))
        return 0;
    files[DIALOG_NAME_SIZE - 1] = 0;

    DWORD attributes = GetFileAttributesA(files);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ImportDisplayFile(owner, files, name);

    // A folder followed by file names, each part ending in the separator;
    // with zero separators the list ends in an empty part.
    char separator = SelectionSeparator();
    int end = 0;
    while (end < DIALOG_NAME_SIZE - 1 && files[end] && files[end] != separator)
        ++end;
    char directory[DIALOG_NAME_SIZE];
    memcpy(directory, files, end);
    directory[end] = 0;
    attributes = GetFileAttributesA(directory);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    int position = end;
    int imported = 0;
    while (position < DIALOG_NAME_SIZE - 1) {
        // A blank-separated list ends at its terminating zero.
        if (separator && !files[position])
            break;
        int start = ++position;
        while (position < DIALOG_NAME_SIZE - 1 && files[position] && files[position] != separator)
            ++position;
        if (position == start)
            break;
        char path[2 * DIALOG_NAME_SIZE];
        snprintf(path, sizeof(path), "%s\\%.*s", directory, position - start, files + start);
        imported |= ImportDisplayFile(owner, path, name);
    }
    return imported;
}
