#include "platform/command_line.h"

#include "platform/os_calls.h"
#include "platform/unique_handle.h"

#include <memory>

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine)
{
    int count = 0;
    const std::unique_ptr<wchar_t*, LocalFreeDeleter> arguments(Os().commandLineToArgv(commandLine.c_str(), &count));
    std::vector<std::wstring> list;
    if (arguments) {
        list.assign(arguments.get(), arguments.get() + count);
    }
    return list;
}
