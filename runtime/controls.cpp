// Placeholder until the control sources are built.
#include "runtime/controls.h"

const int sineTable[2048] = {0};
const char* const sourceNames[22] = {"Set", "Random", "Oscillate"};

int IsLiveSource(int source) { return source == 2; }
float ControlValue(int, float* state, int, float rangeLo, float rangeHi)
{
    (void)state;
    return (rangeLo + rangeHi) / 2;
}
float SoundLevel(int) { return 0; }
void ResetSoundNormalisation(void) {}
