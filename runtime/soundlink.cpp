#include "runtime/soundlink.h"
#include <string.h>

SoundShare* volatile sound = 0;

// Open views and their mapping handles: the saver window holds one, tests
// and the configuration sheet may hold more.
enum { MAX_LINKS = 8 };
static SoundShare* linkViews[MAX_LINKS];
static HANDLE linkMappings[MAX_LINKS];

static void RememberMapping(SoundShare* view, HANDLE mapping)
{
    for (int i = 0; i < MAX_LINKS; ++i) {
        if (!linkViews[i]) {
            linkViews[i] = view;
            linkMappings[i] = mapping;
            return;
        }
    }
    // No slot left: the handle is leaked rather than the name lost.
}

SoundShare* OpenSoundLink(void)
{
    HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE,
                                        0, SOUND_SHARE_SIZE, SOUND_SHARE_NAME);
    if (!mapping)
        return 0;
    int existed = GetLastError() == ERROR_ALREADY_EXISTS;
    SoundShare* share = (SoundShare*)MapViewOfFile(mapping, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!share) {
        CloseHandle(mapping);
        return 0;
    }
    if (existed) {
        // Another program owns a record of a layout we do not know: touch nothing.
        if (share->size != SOUND_SHARE_SIZE || share->version != SOUND_SHARE_VERSION) {
            UnmapViewOfFile(share);
            CloseHandle(mapping);
            return 0;
        }
    } else {
        memset(share, 0, SOUND_SHARE_SIZE);
    }
    share->version = SOUND_SHARE_VERSION;
    share->size = SOUND_SHARE_SIZE;
    share->saverMajor = 3;
    share->saverMinor = 6;
    share->saverBuild = 505;
    // The name lives only while a handle is open, so each view keeps its
    // mapping handle until it is closed.
    RememberMapping(share, mapping);
    return share;
}

void CloseSoundLink(SoundShare* share)
{
    if (!share)
        return;
    UnmapViewOfFile(share);
    for (int i = 0; i < MAX_LINKS; ++i) {
        if (linkViews[i] == share) {
            CloseHandle(linkMappings[i]);
            linkViews[i] = 0;
            linkMappings[i] = 0;
        }
    }
}
