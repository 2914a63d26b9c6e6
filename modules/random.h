// The Random module's helpers beyond its entry points.
#pragma once

enum { SAVED_NAME_SIZE = 128 };

// Picks a saved display by drawing its enumeration index; name receives up
// to 128 characters. 1 when a name was picked, 0 when the draw gave none.
int PickSavedDisplay(char* name);

// Back to the state at program start: no snapshot of the user's module
// choice yet, no known bound on the saved displays, no deadline.
void ResetRandomModule(void);
