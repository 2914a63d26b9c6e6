// The fault guard of the saver's worker threads: a fault inside a guarded
// thread ends that thread only and clears renderRunning, instead of taking
// the whole process down.
#pragma once

void GuardCurrentThread(void);
void UnguardCurrentThread(void);
