#include "platform/os_calls.h"

#include <shellapi.h>
#include <shlobj.h>

TempPathCall FindGetTempPath2In(HMODULE module)
{
    const FARPROC address = module != nullptr ? ::GetProcAddress(module, "GetTempPath2W") : nullptr;
    return reinterpret_cast<TempPathCall>(reinterpret_cast<void*>(address));
}

OsCalls& Os()
{
    static OsCalls calls = {
        ::CreateMutexW,
        ::CommandLineToArgvW,
        ::OpenProcessToken,
        ::GetTokenInformation,
        ::SHGetSpecialFolderPathW,
        ::GetTempPathW,
        FindGetTempPath2In(::GetModuleHandleW(L"kernel32.dll")),
        ::CreatePipe,
        ::SetHandleInformation,
        ::UpdateProcThreadAttribute,
        ::CreateProcessW,
        ::CreateJobObjectW,
        ::AssignProcessToJobObject,
        ::ResumeThread,
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
        ::CreateDirectoryW,
        ::HeapAlloc,
    };
    return calls;
}
