#include "driver/driver.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    return RunInstallerAction(commandLine);
}
