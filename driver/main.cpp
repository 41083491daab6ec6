#include "driver/driver.h"

#include <windows.h>

#include <new>

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

// A failed allocation ends the run quietly: the runtime's own way out of an
// unhandled allocation failure shows a box, which would block an unattended
// installation. Buffers as large as a user's file never come from here; they
// report exhaustion and the file is left as it was.
void EndQuietlyWhenOutOfMemory()
{
    std::set_new_handler([] { ::ExitProcess(static_cast<UINT>(-1)); });
}

} // namespace

// The system header names these parameters in its own style; the unused ones
// stay unnamed here. NOLINTNEXTLINE(readability-inconsistent-declaration-parameter-name)
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    RestrictDllSearchToSystemFolder();
    EndQuietlyWhenOutOfMemory();
    return RunInstallerAction(commandLine);
}
