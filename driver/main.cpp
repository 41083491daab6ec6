#include "driver/driver.h"

#include <windows.h>

namespace {

// Installers are often started from a download folder; a DLL planted there
// must never be loaded in place of the system's own. Looked up at run time,
// since a Windows 7 without its loader update lacks the call.
void RestrictDllSearchToSystemFolder()
{
    using SetDefaultDllDirectoriesCall = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC address = kernel != nullptr ? ::GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
    if (address != nullptr) {
        reinterpret_cast<SetDefaultDllDirectoriesCall>(reinterpret_cast<void*>(address))(
            LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
}

} // namespace

// The system header names these parameters in its own style; the unused ones
// stay unnamed here. NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    RestrictDllSearchToSystemFolder();
    return RunInstallerAction(commandLine);
}
