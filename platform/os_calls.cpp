#include "platform/os_calls.h"

#include <shellapi.h>
#include <shlobj.h>

namespace {

using TempPathCall = DWORD(WINAPI*)(DWORD, LPWSTR);

// Looked up at run time: older systems lack it, and a program that imported
// it would not start there.
TempPathCall FindGetTempPath2()
{
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC address = kernel != nullptr ? ::GetProcAddress(kernel, "GetTempPath2W") : nullptr;
    return reinterpret_cast<TempPathCall>(reinterpret_cast<void*>(address));
}

} // namespace

OsCalls& Os()
{
    static OsCalls calls = {
        ::CreateMutexW,
        ::CommandLineToArgvW,
        ::OpenProcessToken,
        ::GetTokenInformation,
        ::SHGetSpecialFolderPathW,
        ::GetTempPathW,
        FindGetTempPath2(),
        ::CreatePipe,
        ::SetHandleInformation,
        ::UpdateProcThreadAttribute,
        ::CreateProcessW,
        ::CreateJobObjectW,
        ::AssignProcessToJobObject,
        ::WaitForSingleObject,
        ::GetExitCodeProcess,
        ::GetTickCount64,
        ::CreateFileW,
        ::GetFileInformationByHandle,
        ::ReadFile,
        ::WriteFile,
        ::SetFilePointerEx,
        ::FlushFileBuffers,
        ::MoveFileExW,
        ::DeleteFileW,
        ::HeapAlloc,
    };
    return calls;
}
