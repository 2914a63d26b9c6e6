// The sound link: one named shared-memory record exchanged with the sound
// analyzer (Sonalyx), other savers and the configuration sheet.
#pragma once
#include <windows.h>
#include <stddef.h>

#define SOUND_SHARE_NAME "VRNXSLXSharedFileMappingQZKT"
enum { SOUND_SHARE_SIZE = 786, SOUND_SHARE_VERSION = 5 };

#pragma pack(push, 1)
struct SoundShare {
    int size;                    // 0
    int version;                 // 4
    char unused8[4];
    float leftLevel;             // 12
    float rightLevel;            // 16
    float volumeScale;           // 20
    unsigned int gainDivisor;    // 24
    char unused28[4];
    float bandScale;             // 32
    char unused36[64];
    float bandLevelA[16];        // 100
    float bandLevelB[16];        // 164
    char unused228[8];
    char infoText2[64];          // 236
    char infoText1[64];          // 300
    char infoText3[64];          // 364
    int infoSerial;              // 428
    char unused432[8];
    short analyzerMajor;         // 440
    short analyzerMinor;         // 442
    char unused444[2];
    short saverMajor;            // 446
    short saverMinor;            // 448
    short saverBuild;            // 450
    char unused452[6];
    int saverCount;              // 458
    int paletteUsesSound;        // 462
    int modulesUseSound;         // 466
    int paletteSoundEnabled;     // 470
    int moduleSoundEnabled;      // 474
    int fullScreen;              // 478
    int autoGain;                // 482
    char unused486[6];
    int slowCpu;                 // 492
    int analyzerRunning;         // 496
    int clientCount;             // 500
    char displayName[260];       // 504
    int resetRequest;            // 764
    int captureRequest;          // 768
    int horizontalSteps;         // 772
    short digitKey;              // 776
    int verticalSteps;           // 778
    int quitRequest;             // 782
};
#pragma pack(pop)

static_assert(sizeof(SoundShare) == SOUND_SHARE_SIZE, "SoundShare is 786 bytes");
static_assert(offsetof(SoundShare, leftLevel) == 12, "layout");
static_assert(offsetof(SoundShare, gainDivisor) == 24, "layout");
static_assert(offsetof(SoundShare, bandScale) == 32, "layout");
static_assert(offsetof(SoundShare, bandLevelA) == 100, "layout");
static_assert(offsetof(SoundShare, bandLevelB) == 164, "layout");
static_assert(offsetof(SoundShare, infoText2) == 236, "layout");
static_assert(offsetof(SoundShare, infoText1) == 300, "layout");
static_assert(offsetof(SoundShare, infoText3) == 364, "layout");
static_assert(offsetof(SoundShare, infoSerial) == 428, "layout");
static_assert(offsetof(SoundShare, analyzerMajor) == 440, "layout");
static_assert(offsetof(SoundShare, saverMajor) == 446, "layout");
static_assert(offsetof(SoundShare, saverBuild) == 450, "layout");
static_assert(offsetof(SoundShare, saverCount) == 458, "layout");
static_assert(offsetof(SoundShare, paletteSoundEnabled) == 470, "layout");
static_assert(offsetof(SoundShare, fullScreen) == 478, "layout");
static_assert(offsetof(SoundShare, autoGain) == 482, "layout");
static_assert(offsetof(SoundShare, slowCpu) == 492, "layout");
static_assert(offsetof(SoundShare, analyzerRunning) == 496, "layout");
static_assert(offsetof(SoundShare, clientCount) == 500, "layout");
static_assert(offsetof(SoundShare, displayName) == 504, "layout");
static_assert(offsetof(SoundShare, resetRequest) == 764, "layout");
static_assert(offsetof(SoundShare, captureRequest) == 768, "layout");
static_assert(offsetof(SoundShare, horizontalSteps) == 772, "layout");
static_assert(offsetof(SoundShare, digitKey) == 776, "layout");
static_assert(offsetof(SoundShare, verticalSteps) == 778, "layout");
static_assert(offsetof(SoundShare, quitRequest) == 782, "layout");

// The record this process has open (saver window or configuration sheet);
// null while the link is closed.
extern SoundShare* volatile sound;

// Creates or joins the record; null when it cannot be mapped or when an
// existing record has another size or version.
SoundShare* OpenSoundLink(void);
void CloseSoundLink(SoundShare* share);
