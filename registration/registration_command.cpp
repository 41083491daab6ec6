#include "registration/registration_command.h"

std::wstring BuildRegistrationCommand(std::wstring_view toolFolder, std::wstring_view switches,
                                      std::wstring_view dllPath)
{
    std::wstring command;
    command.reserve(toolFolder.size() + switches.size() + dllPath.size() + 18);
    command.append(L"\"").append(toolFolder).append(L"\\regsvr32.exe\"");
    command.append(switches);
    command.append(L"\"").append(dllPath).append(L"\"");
    return command;
}
