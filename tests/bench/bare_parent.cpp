// The least a Windows program can do to run commands: start each argument
// as a command line, wait for it, go on. scripts/bench times it next to the
// program, to tell Wine's cost of a parent and its children from the
// program's own.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring command = argv[i];
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            return 1;
        }
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
    return 0;
}
