#include "platform/os_calls.h"

#include <shlobj.h>

OsCalls& Os()
{
    static OsCalls calls = {
        ::SHGetSpecialFolderPathW, ::GetTempPathW,       ::CreatePipe, ::SetHandleInformation,
        ::CreateProcessW,          ::WaitForSingleObject, ::GetExitCodeProcess, ::ReadFile,
        ::WriteFile,
    };
    return calls;
}
