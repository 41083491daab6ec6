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
        ::ReleaseMutex,
        ::CommandLineToArgvW,
        ::OpenProcessToken,
        ::GetTokenInformation,
        ::SHGetSpecialFolderPathW,
        ::GetTempPathW,
        FindGetTempPath2In(::GetModuleHandleW(L"kernel32.dll")),
        ::CreatePipe,
        ::SetHandleInformation,
        ::PeekNamedPipe,
        ::InitializeProcThreadAttributeList,
        ::UpdateProcThreadAttribute,
        ::CreateProcessW,
        ::CreateJobObjectW,
        ::SetInformationJobObject,
        ::AssignProcessToJobObject,
        ::ResumeThread,
        ::WaitForSingleObject,
        ::GetExitCodeProcess,
        ::TerminateJobObject,
        ::TerminateProcess,
        ::GetTickCount64,
        ::CreateFileW,
        ::GetFileInformationByHandle,
        ::ReadFile,
        ::WriteFile,
        ::SetFilePointerEx,
        ::SetEndOfFile,
        ::FlushFileBuffers,
        ::MoveFileExW,
        ::DeleteFileW,
        ::CreateDirectoryW,
        ::WriteConsoleW,
        ::WideCharToMultiByte,
        ::MultiByteToWideChar,
        ::HeapAlloc,
    };
    return calls;
}
