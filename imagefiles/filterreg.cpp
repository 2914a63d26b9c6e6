#include "imagefiles/filterreg.h"
#include "imagefiles/imageload.h"
#include <windows.h>
#include <string.h>

static const struct {
    const char* key;
    const char* name;
    const char* extension;
} ownFilters[] = {
    {"Vivra PNG", "Portable Network Graphics", "png"},
    {"Vivra JPG", "JPEG File Interchange Format", "jpg"},
    {"Vivra JPEG", "JPEG File Interchange Format", "jpeg"},
    {"Vivra GIF", "Graphics Interchange Format", "gif"},
    {"Vivra TIF", "Tagged Image File Format", "tif"},
    {"Vivra TIFF", "Tagged Image File Format", "tiff"},
};
enum { OWN_FILTERS = sizeof(ownFilters) / sizeof(ownFilters[0]) };

static int WriteText(HKEY key, const char* name, const char* text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)strlen(text) + 1) == ERROR_SUCCESS;
}

int RegisterImportFilter(const char* filterPath)
{
    // The reader takes at most 127 characters of a path.
    if (!filterPath || !filterPath[0] || strlen(filterPath) >= FILTER_PATH_SIZE)
        return 0;
    HKEY root;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, IMPORT_FILTER_KEY, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &root, NULL) !=
        ERROR_SUCCESS)
        return 0;
    int written = 0;
    for (int i = 0; i < OWN_FILTERS; ++i) {
        HKEY filter;
        if (RegCreateKeyExA(root, ownFilters[i].key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &filter, NULL) !=
            ERROR_SUCCESS)
            continue;
        written += WriteText(filter, "Name", ownFilters[i].name) && WriteText(filter, "Extensions", ownFilters[i].extension) &&
                   WriteText(filter, "Path", filterPath);
        RegCloseKey(filter);
    }
    RegCloseKey(root);
    return written == OWN_FILTERS;
}

void UnregisterImportFilter(void)
{
    HKEY root;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, IMPORT_FILTER_KEY, 0, KEY_ALL_ACCESS, &root) != ERROR_SUCCESS)
        return;
    for (int i = 0; i < OWN_FILTERS; ++i)
        RegDeleteKeyA(root, ownFilters[i].key);
    RegCloseKey(root);
}
