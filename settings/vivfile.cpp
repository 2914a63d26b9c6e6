// .VIV files: a flat dump of one display's registry tree. Every value of the
// display key and its sub-keys becomes one record of relative key path, value
// name, type and data.
#include "settings/vivfile.h"
#include "settings/registry.h"
#include "imagefiles/filedialog.h"
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { KEY_NAME_LIMIT = 255 };

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

// Values of the key first, then each sub-key with all its values before its
// own sub-keys.
static int WriteKey(HANDLE file, HKEY key, const char* relative)
{
    int ok = 1;
    for (DWORD index = 0;; ++index) {
        char name[128];
        BYTE data[VIV_DATA_LIMIT];
        DWORD nameLength = sizeof(name);
        DWORD dataLength = sizeof(data);
        DWORD type = 0;
        LONG result = RegEnumValueA(key, index, name, &nameLength, NULL, &type, data, &dataLength);
        // A value beyond the limits could not be imported again: leave it
        // out rather than end the walk there.
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        ok &= WriteRecord(file, relative, name, type, data, dataLength);
    }
    for (DWORD index = 0;; ++index) {
        char child[KEY_NAME_LIMIT + 1];
        DWORD length = sizeof(child);
        LONG result = RegEnumKeyExA(key, index, child, &length, NULL, NULL, NULL, NULL);
        if (result == ERROR_MORE_DATA)
            continue;
        if (result != ERROR_SUCCESS)
            break;
        char path[VIV_TEXT_LIMIT];
        int pathLength = relative[0] ? snprintf(path, sizeof(path), "%s\\%s", relative, child)
                                     : snprintf(path, sizeof(path), "%s", child);
        if (pathLength <= 0 || pathLength >= (int)sizeof(path))
            continue;
        HKEY sub = 0;
        if (RegOpenKeyExA(key, child, 0, KEY_READ, &sub) != ERROR_SUCCESS)
            continue;
        ok &= WriteKey(file, sub, path);
        RegCloseKey(sub);
    }
    return ok;
}

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
        RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        ok = 0;
    if (key) {
        ok &= WriteKey(file, key, "");
        RegCloseKey(key);
    }
    CloseHandle(file);
    return ok;
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
    if (!CheckSettingsData(data, size)) {
        free(data);
        return 0;
    }

    EnsureFirstRunDefaults();
    DeleteDisplay(display);
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
        if (!key || RegSetValueExA(key, record.name, 0, record.type, record.data, record.size) != ERROR_SUCCESS)
            result = 0;
    }
    if (key)
        RegCloseKey(key);
    free(data);
    return result;
}

int ImportDisplayFile(HWND owner, const char* fileName, char* name)
{
    char local[DIALOG_NAME_SIZE];
    if (!name)
        name = local;
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
        ImportDisplayFile(owner, path, name);
    }
    return 1;
}
