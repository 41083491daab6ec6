// The least a Windows program can do to run commands: start each argument
// as a command line, wait for it, go on. scripts/bench times it next to the
// program, to tell Wine's cost of a parent and its children from the
// program's own. Built twice: as a console program ("bare_parent"), and with
// QL_AS_THE_PROGRAM_STARTS as a GUI-subsystem program that first does what
// the program does before its first command and costs Wine most, splitting
// its command line and asking shell32 for the three folders
// ("shell_parent").
#include <windows.h>

#ifdef QL_AS_THE_PROGRAM_STARTS
#include <shellapi.h>
#include <shlobj.h>
#endif

#include <string>

namespace {

int RunEach(int count, wchar_t** commands)
{
    for (int i = 0; i < count; ++i) {
        std::wstring command = commands[i];
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

} // namespace

#ifdef QL_AS_THE_PROGRAM_STARTS
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) {
        return 1;
    }
    wchar_t folder[MAX_PATH] = {};
    for (const int csidl : {CSIDL_SYSTEMX86, CSIDL_APPDATA, CSIDL_PERSONAL}) {
        SHGetSpecialFolderPathW(nullptr, folder, csidl, FALSE);
    }
    const int result = RunEach(count - 1, arguments + 1);
    LocalFree(static_cast<HLOCAL>(arguments));
    return result;
}
#else
int wmain(int argc, wchar_t** argv)
{
    return RunEach(argc - 1, argv + 1);
}
#endif
