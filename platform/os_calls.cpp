#include "platform/os_calls.h"

#include <shellapi.h>
#include <shlobj.h>

OsCalls& Os()
{
    static OsCalls calls = {
        ::CreateMutexW,
        ::CommandLineToArgvW,
        ::OpenProcessToken,
        ::GetTokenInformation,
        ::SHGetSpecialFolderPathW,
        ::GetTempPathW,
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
