// Process entry of Vivra.scr.
#include "runtime/platform.h"
#include "runtime/scrnsave.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    SimulatePlatform();
    SaverCommand command;
    ParseSaverCommand(GetCommandLineArguments(), &command);
    return RunScreenSaver(instance, &command);
}
