// The settings store: displays as registry keys, with load, save, first-run
// defaults, captures, the display list and the file-type registration.
#include "settings/registry.h"
#include "runtime/framework.h"
#include "runtime/common.h"
#include "runtime/soundlink.h"
#include "graphics/palette.h"
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

volatile int sheetOpen = 0;

char controlNames[SLOT_COUNT][VALUE_NAME_SIZE];
char rangeLoNames[SLOT_COUNT][VALUE_NAME_SIZE];
char rangeHiNames[SLOT_COUNT][VALUE_NAME_SIZE];
char checkNames[SLOT_COUNT][VALUE_NAME_SIZE];
char senseNames[SLOT_COUNT][VALUE_NAME_SIZE];

enum {
    FIELD_VALUE = 0, FIELD_LOW, FIELD_HIGH, FIELD_SENSE, FIELD_SOURCE, FIELD_COUNT,
    PALETTE_NAME_SIZE = 32,
    CUSTOM_SIZE = PALETTE_ENTRIES * 3,
    SOURCE_LIMIT = 21,       // the highest ControlSource: the 18KHz band
    SENSE_LIMIT = 10,
    SPEED_LIMIT = 10,
    SHOW_NAME_LIMIT = 120,
    CAPTURE_LIMIT = 100000
};

static char paletteNames[PALETTE_SLOTS][FIELD_COUNT][PALETTE_NAME_SIZE];
static volatile int namesBuilt = 0;

static const char* const channelNames[3] = {"Red", "Green", "Blue"};
static const char* const parameterNames[PALETTE_PARAMETERS] = {
    "Scale", "Density", "FadeFactor", "RampDecay", "Seconds",
    "CycleRate", "Event", "Direction", "MorphRate", "Intensity"
};
static const char* const fieldSuffixes[FIELD_COUNT] = {"", "RangeLo", "RangeHi", "Sense", "Source"};
static const char* const effectNames[3] = {"RedEffect", "GreenEffect", "BlueEffect"};

void BuildValueNames(void)
{
    for (unsigned long slot = 0; slot < SLOT_COUNT; ++slot) {
        snprintf(controlNames[slot], VALUE_NAME_SIZE, "Control%lu", slot);
        snprintf(rangeLoNames[slot], VALUE_NAME_SIZE, "RangeLo%lu", slot);
        snprintf(rangeHiNames[slot], VALUE_NAME_SIZE, "RangeHi%lu", slot);
        snprintf(checkNames[slot], VALUE_NAME_SIZE, "Check%lu", slot);
        snprintf(senseNames[slot], VALUE_NAME_SIZE, "Sense%lu", slot);
    }
    for (int k = 0; k < PALETTE_SLOTS; ++k) {
        int parameter = k / 3;
        int channel = k % 3;
        for (int field = 0; field < FIELD_COUNT; ++field) {
            // Cycle Rate is one set of names for all channels, and the green
            // Duration sense has no name of its own: both are part of the
            // stored format.
            const char* colour = channelNames[channel];
            if (parameter == PARAM_CYCLE_RATE)
                colour = "";
            else if (parameter == PARAM_DURATION && channel == 1 && field == FIELD_SENSE)
                colour = "Red";
            snprintf(paletteNames[k][field], PALETTE_NAME_SIZE, "%s%s%s", colour,
                     parameterNames[parameter], fieldSuffixes[field]);
        }
    }
    namesBuilt = 1;
}

static void NeedNames(void)
{
    if (!namesBuilt)
        BuildValueNames();
}

// --- Names and paths ------------------------------------------------------------

int ValidDisplayName(const char* name)
{
    if (!name || !name[0])
        return 0;
    if (strnlen(name, DISPLAY_NAME_SIZE) > DISPLAY_NAME_LIMIT)
        return 0;
    if (strchr(name, '\\'))
        return 0;
    return strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

int DisplayKeyPath(const char* name, char* path, int size)
{
    if (!ValidDisplayName(name))
        return 0;
    int length = snprintf(path, size, SAVED_KEY "\\%s", name);
    return length > 0 && length < size;
}

// A key below the display's own key.
static int DisplaySubKeyPath(const char* display, const char* below, char* path, int size)
{
    if (!DisplayKeyPath(display, path, size))
        return 0;
    int used = (int)strlen(path);
    int length = snprintf(path + used, size - used, "\\%s", below);
    return length > 0 && length < size - used;
}

static int ModuleKeyPath(const char* display, int module, char* path, int size)
{
    if (module < 0 || module >= MODULE_COUNT || !DisplayKeyPath(display, path, size))
        return 0;
    int used = (int)strlen(path);
    int length = snprintf(path + used, size - used, "\\Modules\\%s", moduleNames[module]);
    return length > 0 && length < size - used;
}

static int PaletteKeyPath(const char* display, char* path, int size)
{
    return DisplaySubKeyPath(display, "Palette", path, size);
}

static HKEY OpenForReading(const char* path)
{
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    return key;
}

static HKEY CreateForWriting(const char* path)
{
    HKEY key = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL,
                        &key, NULL) != ERROR_SUCCESS)
        return 0;
    return key;
}

// --- Values ------------------------------------------------------------------------

// A stored 32-bit integer: 4 bytes of REG_BINARY (or REG_DWORD). Leaves *out
// alone when the value is missing or has another size.
static int ReadInt(HKEY key, const char* name, int* out)
{
    DWORD type = 0;
    DWORD size = 4;
    BYTE data[4];
    if (RegQueryValueExA(key, name, NULL, &type, data, &size) != ERROR_SUCCESS)
        return 0;
    if (size != 4 || (type != REG_BINARY && type != REG_DWORD))
        return 0;
    memcpy(out, data, 4);
    return 1;
}

// Reads an integer that must lie in low..high; anything else counts as missing.
static int ReadIntWithin(HKEY key, const char* name, int* out, int low, int high)
{
    int value = 0;
    if (!ReadInt(key, name, &value) || value < low || value > high)
        return 0;
    *out = value;
    return 1;
}

static void WriteInt(HKEY key, const char* name, int value)
{
    RegSetValueExA(key, name, 0, REG_BINARY, (const BYTE*)&value, 4);
}

int ReadSaverValue(const char* name, DWORD type, void* buffer, DWORD size)
{
    if (buffer && size)
        memset(buffer, 0, size);
    if (!buffer || !size)
        return 0;
    HKEY key = OpenForReading(SAVER_KEY);
    if (!key)
        return 0;
    DWORD storedType = 0;
    DWORD storedSize = size;
    LONG result = RegQueryValueExA(key, name, NULL, &storedType, (BYTE*)buffer, &storedSize);
    RegCloseKey(key);
    // A value of another type would be misread (a text as a frame delay).
    if (result != ERROR_SUCCESS || storedType != type) {
        memset(buffer, 0, size);
        return 0;
    }
    if (type == REG_SZ)
        ((char*)buffer)[size - 1] = 0;
    return 1;
}

int WriteSaverValue(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SAVER_KEY, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return 0;
    LONG result;
    if (size == 0)
        result = RegDeleteValueA(key, name);
    else
        result = RegSetValueExA(key, name, 0, type, (const BYTE*)data, size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

int KeyExists(const char* path)
{
    if (!path)
        return 0;
    HKEY key = OpenForReading(path);
    if (!key)
        return 0;
    RegCloseKey(key);
    return 1;
}

// Deletes sub-key `name` of `parent` with everything below it.
static LONG DeleteSubTree(HKEY parent, const char* name)
{
    HKEY key = 0;
    LONG result = RegOpenKeyExA(parent, name, 0, KEY_ALL_ACCESS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    for (;;) {
        char child[512];
        DWORD length = sizeof(child);
        result = RegEnumKeyExA(key, 0, child, &length, NULL, NULL, NULL, NULL);
        if (result == ERROR_NO_MORE_ITEMS) {
            result = ERROR_SUCCESS;
            break;
        }
        if (result != ERROR_SUCCESS)
            break;
        result = DeleteSubTree(key, child);
        if (result != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    if (result != ERROR_SUCCESS)
        return result;
    return RegDeleteKeyA(parent, name);
}

LONG DeleteKeyTree(HKEY root, const char* path)
{
    if (!path || !path[0])
        return ERROR_BADKEY;
    return DeleteSubTree(root, path);
}

int DeleteDisplay(const char* name)
{
    char path[KEY_PATH_SIZE];
    // An empty name would otherwise name the "Saved" key itself.
    if (!DisplayKeyPath(name, path, sizeof(path)))
        return 0;
    return DeleteKeyTree(HKEY_CURRENT_USER, path) == ERROR_SUCCESS;
}

int ModuleKeyExists(const char* display, int module)
{
    char path[KEY_PATH_SIZE];
    return ModuleKeyPath(display, module, path, sizeof(path)) && KeyExists(path);
}

// --- Loading -------------------------------------------------------------------------

static void LoadModule(const char* display, int module)
{
    ModuleRecord* record = &moduleTable[module];
    char path[KEY_PATH_SIZE];
    HKEY key = ModuleKeyPath(display, module, path, sizeof(path)) ? OpenForReading(path) : 0;
    saverSettings.moduleActive[module] = key != 0;
    if (!key)
        return;

    DWORD type = 0;
    DWORD size = PATH_SIZE;
    if (RegQueryValueExA(key, "Path", NULL, &type, (BYTE*)record->path, &size) != ERROR_SUCCESS)
        record->path[0] = 0;
    record->path[PATH_SIZE - 1] = 0;

    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!record->defined[slot])
            continue;
        if (!ReadInt(key, controlNames[slot], &record->value[slot]))
            record->value[slot] = record->defaultValue[slot];
        if (!ReadInt(key, rangeLoNames[slot], &record->rangeLo[slot]))
            record->rangeLo[slot] = record->minimum[slot];
        if (!ReadInt(key, rangeHiNames[slot], &record->rangeHi[slot]))
            record->rangeHi[slot] = record->maximum[slot];
        // A source or sense beyond the lists would index past the sound
        // levels: such a value counts as missing.
        if (!ReadIntWithin(key, checkNames[slot], &record->source[slot], 0, SOURCE_LIMIT))
            record->source[slot] = 0;
        if (!ReadIntWithin(key, senseNames[slot], &record->sense[slot], 0, SENSE_LIMIT))
            record->sense[slot] = 10;
    }
    RegCloseKey(key);
}

// The palette layout of earlier versions.
static void ConvertOldPalette(HKEY key, PaletteState* palette)
{
    int shifted = 0;
    int together = 0;
    ReadInt(key, "Shifted", &shifted);
    ReadInt(key, "Together", &together);
    for (int c = 0; c < 3; ++c) {
        if (shifted != 0) {
            int low = 1 + Random() % 3;
            if (Random() & 1)
                low = -low;
            palette->rangeLo[3 * PARAM_DIRECTION + c] = low;
        }
        int density = 3 * PARAM_COLOR_FREQUENCY + c;
        palette->rangeLo[density] = palette->source[density];
        palette->rangeHi[density] = palette->source[density] + 4;
        palette->source[density] = 1;

        char name[PALETTE_NAME_SIZE];
        int oldSource = 0;
        snprintf(name, sizeof(name), "%sSource", channelNames[c]);
        if (ReadInt(key, name, &oldSource) && oldSource >= 2) {
            int brightness = 3 * PARAM_BRIGHTNESS + c;
            palette->source[brightness] = oldSource;
            snprintf(name, sizeof(name), "%sScale", channelNames[c]);
            ReadInt(key, name, &palette->value[brightness]);
            snprintf(name, sizeof(name), "%sScaleLo", channelNames[c]);
            ReadInt(key, name, &palette->rangeLo[brightness]);
            snprintf(name, sizeof(name), "%sScaleHi", channelNames[c]);
            ReadInt(key, name, &palette->rangeHi[brightness]);
            snprintf(name, sizeof(name), "%sSense", channelNames[c]);
            ReadInt(key, name, &palette->sense[brightness]);
        }
        palette->rangeLo[3 * PARAM_RAMP_FREQUENCY + c] *= 3;
        if (together != 0)
            palette->effect[c] = palette->allEffect;
    }
}

// Stored palette values outside the parameter limits fall back the way
// module controls do, so a damaged display cannot drive the engine off its
// tables.
static void RepairPalette(PaletteState* palette, const PaletteState* defaults)
{
    for (int k = 0; k < PALETTE_SLOTS; ++k) {
        int parameter = k / 3;
        int minimum = palette->minimum[parameter];
        int maximum = palette->maximum[parameter];
        if (minimum <= maximum) {
            if (palette->value[k] < minimum || palette->value[k] > maximum)
                palette->value[k] = defaults->value[k];
            if (palette->rangeLo[k] < minimum || palette->rangeLo[k] > maximum)
                palette->rangeLo[k] = minimum;
            if (palette->rangeHi[k] < minimum || palette->rangeHi[k] > maximum)
                palette->rangeHi[k] = maximum;
        }
        if (palette->source[k] < 0 || palette->source[k] > SOURCE_LIMIT)
            palette->source[k] = defaults->source[k];
        if (palette->sense[k] < 0 || palette->sense[k] > SENSE_LIMIT)
            palette->sense[k] = defaults->sense[k];
    }
}

static void LoadPalette(const char* display, PaletteState* palette)
{
    ResetPalette(palette);
    char path[KEY_PATH_SIZE];
    HKEY key = PaletteKeyPath(display, path, sizeof(path)) ? OpenForReading(path) : 0;
    if (!key)
        return;

    ReadInt(key, "AllEffect", &palette->allEffect);
    for (int c = 0; c < 3; ++c)
        palette->effect[c] = palette->allEffect;

    BYTE custom[CUSTOM_SIZE];
    DWORD type = 0;
    DWORD size = sizeof(custom);
    if (RegQueryValueExA(key, "Custom", NULL, &type, custom, &size) == ERROR_SUCCESS && size == CUSTOM_SIZE) {
        for (int i = 0; i < PALETTE_ENTRIES; ++i) {
            palette->customPalette[i].red = custom[3 * i];
            palette->customPalette[i].green = custom[3 * i + 1];
            palette->customPalette[i].blue = custom[3 * i + 2];
            palette->customPalette[i].used = 1;
        }
    }

    for (int c = 0; c < 3; ++c) {
        for (int p = 0; p < PALETTE_PARAMETERS; ++p) {
            int k = 3 * p + c;
            ReadInt(key, paletteNames[k][FIELD_VALUE], &palette->value[k]);
            ReadInt(key, paletteNames[k][FIELD_LOW], &palette->rangeLo[k]);
            ReadInt(key, paletteNames[k][FIELD_HIGH], &palette->rangeHi[k]);
            ReadInt(key, paletteNames[k][FIELD_SENSE], &palette->sense[k]);
            ReadInt(key, paletteNames[k][FIELD_SOURCE], &palette->source[k]);
        }
        ReadInt(key, effectNames[c], &palette->effect[c]);
    }

    if (RegQueryValueExA(key, "Shifted", NULL, NULL, NULL, NULL) == ERROR_SUCCESS)
        ConvertOldPalette(key, palette);
    RegCloseKey(key);

    PaletteState* defaults = (PaletteState*)calloc(1, sizeof(PaletteState));
    if (defaults) {
        ResetPalette(defaults);
        RepairPalette(palette, defaults);
        free(defaults);
    }
}

static void LoadGlobals(const char* display)
{
    char path[KEY_PATH_SIZE];
    HKEY key = DisplayKeyPath(display, path, sizeof(path)) ? OpenForReading(path) : 0;
    if (!key)
        return;
    SoundShare* share = sound;
    int slowCpu = 1;
    int autoGain = 1;
    saverSettings.showInfo = 0;
    saverSettings.showName = 0;
    saverSettings.autoRun = 0;
    if (share) {
        share->paletteSoundEnabled = 1;
        share->moduleSoundEnabled = 1;
    }
    int priority = saverSettings.priority;
    if (ReadInt(key, "Priority", &priority) &&
        (priority == HIGH_PRIORITY_CLASS || priority == NORMAL_PRIORITY_CLASS || priority == IDLE_PRIORITY_CLASS))
        saverSettings.priority = priority;
    ReadInt(key, "ClearFirst", &saverSettings.clearFirst);
    ReadInt(key, "SlowCPU", &slowCpu);
    ReadInt(key, "ShowInfo", &saverSettings.showInfo);
    ReadIntWithin(key, "ShowName", &saverSettings.showName, 0, SHOW_NAME_LIMIT);
    ReadInt(key, "AutoRun", &saverSettings.autoRun);
    ReadInt(key, "AutoGain", &autoGain);
    RegCloseKey(key);

    saverSettings.slowCpu = slowCpu;
    saverSettings.autoGain = autoGain;
    if (share) {
        share->slowCpu = slowCpu;
        share->autoGain = autoGain;
    }
}

// Sound sources stay only where they can be served; the others oscillate.
static void ReplaceSoundSources(PaletteState* palette)
{
    SoundShare* share = sound;
    if (share) {
        share->modulesUseSound = 0;
        share->paletteUsesSound = 0;
    }
    int keepModules = sheetOpen || (share && share->analyzerRunning && share->moduleSoundEnabled);
    int keepPalette = sheetOpen || (share && share->analyzerRunning && share->paletteSoundEnabled);
    for (int module = 0; module < MODULE_COUNT; ++module) {
        if (!saverSettings.moduleActive[module])
            continue;
        ModuleRecord* record = &moduleTable[module];
        for (int slot = 0; slot < SLOT_COUNT; ++slot) {
            if (!record->defined[slot] || record->source[slot] <= 2)
                continue;
            if (keepModules) {
                if (share)
                    share->modulesUseSound = 1;
            } else {
                record->source[slot] = 2;
            }
        }
    }
    if (!palette)
        return;
    for (int k = 0; k < PALETTE_SLOTS; ++k) {
        if (palette->source[k] <= 2)
            continue;
        if (keepPalette) {
            if (share) {
                share->paletteUsesSound = 1;
                share->modulesUseSound = 1;
            }
        } else {
            palette->source[k] = 2;
        }
    }
}

int LoadDisplay(const char* name)
{
    NeedNames();
    if (!name)
        name = "";
    lstrcpynA(saverSettings.displayName, name, PATH_SIZE);
    SoundShare* share = sound;
    if (share)
        lstrcpynA(share->displayName, name, sizeof(share->displayName));

    int result = 0;
    for (int module = 0; module < MODULE_COUNT; ++module) {
        LoadModule(name, module);
        result |= saverSettings.moduleActive[module];
        ClampControls(&moduleTable[module]);
    }

    PaletteState* palette = currentPalette;
    if (palette)
        LoadPalette(name, palette);

    LoadGlobals(name);

    DWORD speed = 0;
    ReadSaverValue("Speed", REG_DWORD, &speed, sizeof(speed));
    // The render loop sleeps Speed x 10 ms per frame: a wild value would
    // freeze the picture.
    saverSettings.speed = speed <= SPEED_LIMIT ? (int)speed : 0;

    ReplaceSoundSources(palette);
    return result;
}

// --- Saving ---------------------------------------------------------------------------

int SaveModule(int module, const char* name)
{
    NeedNames();
    char path[KEY_PATH_SIZE];
    if (!ModuleKeyPath(name, module, path, sizeof(path)))
        return 0;
    DeleteKeyTree(HKEY_CURRENT_USER, path);
    HKEY key = CreateForWriting(path);
    if (!key)
        return 0;
    const ModuleRecord* record = &moduleTable[module];
    // The whole buffer, as the format has it.
    if (record->path[0])
        RegSetValueExA(key, "Path", 0, REG_SZ, (const BYTE*)record->path, PATH_SIZE);
    for (int slot = 0; slot < SLOT_COUNT; ++slot) {
        if (!record->defined[slot])
            continue;
        WriteInt(key, controlNames[slot], record->value[slot]);
        WriteInt(key, rangeLoNames[slot], record->rangeLo[slot]);
        WriteInt(key, rangeHiNames[slot], record->rangeHi[slot]);
        WriteInt(key, checkNames[slot], record->source[slot]);
        WriteInt(key, senseNames[slot], record->sense[slot]);
    }
    RegCloseKey(key);
    return 1;
}

int SavePalette(PaletteState* palette, const char* name)
{
    NeedNames();
    char path[KEY_PATH_SIZE];
    if (!palette || !PaletteKeyPath(name, path, sizeof(path)))
        return 0;
    DeleteKeyTree(HKEY_CURRENT_USER, path);
    HKEY key = CreateForWriting(path);
    if (!key)
        return 0;

    if (palette->effect[0] == EFFECT_CUSTOM || palette->effect[1] == EFFECT_CUSTOM ||
        palette->effect[2] == EFFECT_CUSTOM) {
        BYTE custom[CUSTOM_SIZE];
        const PaletteBlock* onScreen = saverSettings.captureLiveColours ? palette->entries : 0;
        for (int i = 0; i < PALETTE_ENTRIES; ++i) {
            if (onScreen) {
                custom[3 * i] = onScreen->entry[i].peRed;
                custom[3 * i + 1] = onScreen->entry[i].peGreen;
                custom[3 * i + 2] = onScreen->entry[i].peBlue;
            } else {
                custom[3 * i] = palette->customPalette[i].red;
                custom[3 * i + 1] = palette->customPalette[i].green;
                custom[3 * i + 2] = palette->customPalette[i].blue;
            }
        }
        RegSetValueExA(key, "Custom", 0, REG_BINARY, custom, CUSTOM_SIZE);
    } else {
        RegDeleteValueA(key, "Custom");
    }
    for (int c = 0; c < 3; ++c)
        WriteInt(key, effectNames[c], palette->effect[c]);
    for (int k = 0; k < PALETTE_SLOTS; ++k) {
        WriteInt(key, paletteNames[k][FIELD_VALUE], palette->value[k]);
        WriteInt(key, paletteNames[k][FIELD_LOW], palette->rangeLo[k]);
        WriteInt(key, paletteNames[k][FIELD_HIGH], palette->rangeHi[k]);
        WriteInt(key, paletteNames[k][FIELD_SENSE], palette->sense[k]);
        WriteInt(key, paletteNames[k][FIELD_SOURCE], palette->source[k]);
    }
    RegCloseKey(key);
    return 1;
}

int SaveGlobals(const char* name)
{
    char path[KEY_PATH_SIZE];
    if (!DisplayKeyPath(name, path, sizeof(path)))
        return 0;
    HKEY key = CreateForWriting(path);
    if (!key)
        return 0;
    SoundShare* share = sound;
    WriteInt(key, "SlowCPU", share ? share->slowCpu : saverSettings.slowCpu);
    WriteInt(key, "Priority", saverSettings.priority);
    WriteInt(key, "ClearFirst", saverSettings.clearFirst);
    WriteInt(key, "ShowInfo", saverSettings.showInfo);
    WriteInt(key, "ShowName", saverSettings.showName);
    WriteInt(key, "AutoRun", saverSettings.autoRun);
    WriteInt(key, "AutoGain", share ? share->autoGain : saverSettings.autoGain);
    RegCloseKey(key);
    return 1;
}

int SaveDisplay(const char* name)
{
    if (!ValidDisplayName(name))
        return 0;
    DeleteDisplay(name);
    for (int module = 0; module < MODULE_COUNT; ++module)
        if (saverSettings.moduleActive[module])
            SaveModule(module, name);
    if (currentPalette)
        SavePalette(currentPalette, name);
    if (!SaveGlobals(name))
        return 0;
    DWORD speed = (DWORD)saverSettings.speed;
    WriteSaverValue("Speed", REG_DWORD, &speed, sizeof(speed));
    WriteSaverValue("Active", REG_SZ, name, (DWORD)strlen(name) + 1);
    return 1;
}

int WriteDefaultDisplay(int module, const char* name, int effect)
{
    char display[KEY_PATH_SIZE];
    if (!name)
        return 0;
    if (module >= 0 && module < MODULE_COUNT) {
        snprintf(display, sizeof(display), "%s %s", name, moduleNames[module]);
    } else {
        saverSettings.moduleActive[MODULE_RANDOM] = 1;
        saverSettings.showInfo = 1;
        module = MODULE_RANDOM;
        lstrcpynA(display, name, sizeof(display));
    }
    if (!ValidDisplayName(display))
        return 0;
    SaveModule(module, display);

    PaletteState* palette = (PaletteState*)calloc(1, sizeof(PaletteState));
    if (palette) {
        ResetPalette(palette);
        for (int c = 0; c < 3; ++c)
            palette->effect[c] = effect;
        SavePalette(palette, display);
        free(palette);
    }
    return SaveGlobals(display);
}

void EnsureDefaultDisplays(void)
{
    if (KeyExists(SAVED_KEY))
        return;
    for (int module = 0; module <= MODULE_VORTEX; ++module)
        WriteDefaultDisplay(module, "[D]", module == MODULE_STAR ? EFFECT_RAMP : EFFECT_RANDOM);
}

void EnsureFirstRunDefaults(void)
{
    if (KeyExists(SAVED_KEY))
        return;
    ModuleRecord* kept = (ModuleRecord*)malloc(sizeof(moduleTable));
    if (!kept)
        return;
    memcpy(kept, moduleTable, sizeof(moduleTable));
    SaverSettings keptSettings = saverSettings;
    for (int row = 0; row < controlCount; ++row) {
        const ControlDefinition* c = &controlTable[row];
        DefineControl(c->module, c->labelId, c->slot, c->defaultValue, c->minimum, c->maximum);
    }
    EnsureDefaultDisplays();
    memcpy(moduleTable, kept, sizeof(moduleTable));
    saverSettings = keptSettings;
    free(kept);
}

int CaptureDisplay(void)
{
    int randomActive = saverSettings.moduleActive[MODULE_RANDOM];
    saverSettings.moduleActive[MODULE_RANDOM] = 0;
    int sources[MODULE_COUNT][SLOT_COUNT];
    for (int module = 0; module < MODULE_COUNT; ++module) {
        memcpy(sources[module], moduleTable[module].source, sizeof(sources[module]));
        memset(moduleTable[module].source, 0, sizeof(moduleTable[module].source));
    }

    int stored = 0;
    for (int n = 1; n < CAPTURE_LIMIT; ++n) {
        char name[32];
        snprintf(name, sizeof(name), "Capture #%d", n);
        char path[KEY_PATH_SIZE];
        if (DisplayKeyPath(name, path, sizeof(path)) && KeyExists(path))
            continue;
        if (SaveDisplay(name))
            stored = n;
        break;
    }

    SoundShare* share = sound;
    if (share)
        share->captureRequest = 0;
    saverSettings.moduleActive[MODULE_RANDOM] = randomActive;
    saverSettings.captureLiveColours = 0;
    for (int module = 0; module < MODULE_COUNT; ++module)
        memcpy(moduleTable[module].source, sources[module], sizeof(sources[module]));
    return stored;
}

// --- Lists, file type, version ------------------------------------------------------

int ListDisplays(HWND combo, int selectScratch)
{
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    HKEY key = CreateForWriting(SAVED_KEY);
    int added = 0;
    if (key) {
        for (DWORD index = 0; added < LIST_LIMIT; ++index) {
            char name[DISPLAY_NAME_SIZE];
            DWORD length = sizeof(name);
            LONG result = RegEnumKeyExA(key, index, name, &length, NULL, NULL, NULL, NULL);
            // A name too long to hold hides only itself, not the names after it.
            if (result == ERROR_MORE_DATA)
                continue;
            if (result != ERROR_SUCCESS)
                break;
            SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)name);
            ++added;
        }
        RegCloseKey(key);
    }
    char selection[DISPLAY_NAME_SIZE];
    if (selectScratch)
        lstrcpynA(selection, SCRATCH_DISPLAY, sizeof(selection));
    else
        ReadSaverValue("Active", REG_SZ, selection, sizeof(selection));
    // The whole name must match: a prefix search would pick "Capture #12"
    // for a deleted "Capture #1".
    LRESULT index = SendMessageA(combo, CB_FINDSTRINGEXACT, (WPARAM)-1, (LPARAM)selection);
    SendMessageA(combo, CB_SETCURSEL, index == CB_ERR ? (WPARAM)-1 : (WPARAM)index, 0);
    return added;
}

// The classes of the machine (HKEY_CLASSES_ROOT), or the user's own
// ("Software\Classes" of HKEY_CURRENT_USER) for a per-user installation.
static int SetClassValue(int perUser, const char* path, const char* name, const char* data)
{
    char userPath[MAX_PATH];
    if (perUser && snprintf(userPath, sizeof(userPath), "Software\\Classes\\%s", path) >= (int)sizeof(userPath))
        return 0;
    HKEY key = 0;
    if (RegCreateKeyExA(perUser ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT, perUser ? userPath : path, 0, NULL,
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return 0;
    LONG result = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)data, (DWORD)strlen(data) + 1);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

int RegisterFileType(const char* saverPath)
{
    return RegisterFileTypeFor(0, saverPath);
}

int RegisterFileTypeFor(int perUser, const char* saverPath)
{
    char icon[MAX_PATH + 8];
    char command[MAX_PATH + 16];
    char own[MAX_PATH];
    if (!saverPath || !saverPath[0]) {
        own[0] = 0;
        GetModuleFileNameA(NULL, own, sizeof(own));
        own[sizeof(own) - 1] = 0;
        saverPath = own;
    }
    snprintf(icon, sizeof(icon), "%s,2", saverPath);
    // The full path: a bare "Vivra.SCR" is found only through the search path,
    // which a 64-bit shell walks in the real System32, not in SysWOW64.
    snprintf(command, sizeof(command), "\"%s\" /S \"%%1\"", saverPath);
    int ok = SetClassValue(perUser, ".VIV", NULL, "Vivra");
    ok &= SetClassValue(perUser, ".VIV", "Content Type", "application/vivra");
    ok &= SetClassValue(perUser, "Vivra\\shell\\open\\command", NULL, command);
    ok &= SetClassValue(perUser, "Vivra\\DefaultIcon", NULL, icon);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, NULL, NULL);
    return ok;
}

void WriteVersionStamp(int major, int minor, int build)
{
    HKEY key = CreateForWriting(VERSION_KEY);
    if (!key)
        return;
    DWORD version = ((DWORD)(major & 0xFFFF) << 16) | (DWORD)(minor & 0xFFFF);
    DWORD number = (DWORD)(build & 0xFFFF);
    RegSetValueExA(key, "Current Version", 0, REG_DWORD, (const BYTE*)&version, sizeof(version));
    RegSetValueExA(key, "Build", 0, REG_DWORD, (const BYTE*)&number, sizeof(number));
    RegCloseKey(key);
}
