// Control sources: fixed, random, oscillating or following a sound level of
// the shared record.
#pragma once

enum ControlSource {
    SOURCE_SET = 0, SOURCE_RANDOM = 1, SOURCE_OSCILLATE = 2,
    SOURCE_VOLUME = 3, SOURCE_LEFT = 4, SOURCE_RIGHT = 5,
    SOURCE_FIRST_BAND = 6, SOURCE_LAST = 21
};

extern const int sineTable[2048];
extern const char* const sourceNames[22];

int IsLiveSource(int source);
float ControlValue(int source, float* state, int sense, float rangeLo, float rangeHi);
float SoundLevel(int source);
// A live value held inside a control's hard limits: a level above 1 may carry
// it past the range, never past what the control allows.
float WithinLimits(float value, int minimum, int maximum);

// Restores the process-wide normalisation maxima and minima (tests).
void ResetSoundNormalisation(void);
