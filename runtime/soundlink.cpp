#include "runtime/soundlink.h"
#include <string.h>

SoundShare* volatile sound = 0;

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
    // The view keeps the mapping alive; holding no handle lets several
    // openers in one process (saver window and tests) each own a view.
    CloseHandle(mapping);
    return share;
}

void CloseSoundLink(SoundShare* share)
{
    // The mapping disappears when the last view in any process is gone.
    if (share)
        UnmapViewOfFile(share);
}
