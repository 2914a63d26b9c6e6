// Process entry of Vivra.scr.
#include "runtime/scrnsave.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    SaverCommand command;
    ParseSaverCommand(GetCommandLineArguments(), &command);
    return RunScreenSaver(instance, &command);
}
