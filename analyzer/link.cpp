#include "analyzer/link.h"
#include <math.h>
#include <stdio.h>
#include <string.h>

SoundShare* OpenAnalyzerLink(HANDLE* mapping)
{
    *mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0,
                                  SOUND_SHARE_SIZE, SOUND_SHARE_NAME);
    if (!*mapping)
        return 0;
    int existed = GetLastError() == ERROR_ALREADY_EXISTS;
    SoundShare* share = (SoundShare*)MapViewOfFile(*mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!share || (existed && (share->size != SOUND_SHARE_SIZE || share->version != SOUND_SHARE_VERSION))) {
        if (share)
            UnmapViewOfFile(share);
        CloseHandle(*mapping);
        *mapping = 0;
        return 0;
    }
    if (!existed)
        memset(share, 0, SOUND_SHARE_SIZE);
    share->version = SOUND_SHARE_VERSION;
    share->size = SOUND_SHARE_SIZE;
    return share;
}

void CloseAnalyzerLink(SoundShare* share, HANDLE mapping)
{
    if (share)
        UnmapViewOfFile(share);
    if (mapping)
        CloseHandle(mapping);
}

void PublishLevels(SoundShare* share, const Levels* levels, float gainDb)
{
    float gain = powf(10.0f, gainDb / 20.0f);
    // Divisors first: a reader between the two writes sees the new scale with
    // the old levels, which is off by at most one gain step.
    share->volumeScale = VOLUME_SCALE / gain;
    share->bandScale = BAND_SCALE / gain;
    share->gainDivisor = GAIN_DIVISOR;
    share->leftLevel = levels->left;
    share->rightLevel = levels->right;
    for (int b = 0; b < BAND_COUNT; ++b) {
        share->bandLevelA[b] = levels->bandA[b];
        share->bandLevelB[b] = levels->bandB[b];
    }
}

static int SetLine(char* field, const char* text)
{
    char line[64];
    snprintf(line, sizeof(line), "%s", text ? text : "");
    if (memcmp(field, line, sizeof(line)) == 0)
        return 0;
    memset(field, 0, 64);
    memcpy(field, line, strlen(line));
    return 1;
}

void PublishInfo(SoundShare* share, const char* line1, const char* line2, const char* line3)
{
    int changed = SetLine(share->infoText1, line1);
    changed |= SetLine(share->infoText2, line2);
    changed |= SetLine(share->infoText3, line3);
    if (changed)
        share->infoSerial = share->infoSerial + 1;
}

int RegisterAnalyzer(const char* programPath, char* message, int messageSize)
{
    HKEY key;
    int ok = 1;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Sonalyx", 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) == ERROR_SUCCESS) {
        DWORD version = (ANALYZER_MAJOR << 16) | ANALYZER_MINOR;
        DWORD build = ANALYZER_BUILD;
        ok &= RegSetValueExA(key, "Current Version", 0, REG_DWORD, (const BYTE*)&version, 4) == ERROR_SUCCESS;
        ok &= RegSetValueExA(key, "Build", 0, REG_DWORD, (const BYTE*)&build, 4) == ERROR_SUCCESS;
        RegCloseKey(key);
    } else {
        ok = 0;
    }
    char command[MAX_PATH + 2];
    snprintf(command, sizeof(command), "\"%s\"", programPath);
    int machine = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Sonalyx", 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) == ERROR_SUCCESS) {
        machine = RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE*)command, (DWORD)strlen(command) + 1) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    if (message && messageSize > 0) {
        if (!ok)
            snprintf(message, messageSize, "Sonalyx could not write its version to the registry.");
        else if (!machine)
            snprintf(message, messageSize,
                     "Sonalyx is registered for you, but the saver cannot start it by itself: "
                     "writing the start command needs an administrator.");
        else
            snprintf(message, messageSize, "Sonalyx is registered; the saver can start it.");
    }
    return ok && machine;
}
