#include "registration/registration_command.h"

#include <algorithm>
#include <string_view>

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

namespace {

bool HoldsCharacterNoFileNameHolds(std::wstring_view folder)
{
    return std::any_of(folder.begin(), folder.end(), [](wchar_t character) {
        return character < L' ' || std::wstring_view(L"\"<>|*?").find(character) != std::wstring_view::npos;
    });
}

bool IsDriveLetter(wchar_t character)
{
    return (character >= L'A' && character <= L'Z') || (character >= L'a' && character <= L'z');
}

// \\server\share, each part non-empty, optionally followed by more of the path.
bool IsUncPath(std::wstring_view folder)
{
    if (folder.substr(0, 2) != L"\\\\") {
        return false;
    }
    const std::wstring_view rest = folder.substr(2);
    const std::size_t serverEnd = rest.find(L'\\');
    if (serverEnd == 0 || serverEnd == std::wstring_view::npos) {
        return false;
    }
    const std::wstring_view share = rest.substr(serverEnd + 1);
    return !share.empty() && share.front() != L'\\';
}

} // namespace

bool IsUsableInstallFolder(std::wstring_view folder)
{
    if (HoldsCharacterNoFileNameHolds(folder)) {
        return false;
    }
    const bool onDrive = folder.size() >= 3 && IsDriveLetter(folder[0]) && folder[1] == L':' && folder[2] == L'\\';
    return onDrive || IsUncPath(folder);
}

std::wstring_view CommandProgram(std::wstring_view commandLine)
{
    if (!commandLine.empty() && commandLine.front() == L'"') {
        const std::size_t close = commandLine.find(L'"', 1);
        return commandLine.substr(1, close == std::wstring_view::npos ? std::wstring_view::npos : close - 1);
    }
    return commandLine.substr(0, commandLine.find_first_of(L" \t"));
}

std::wstring_view RegistrationExitMeaning(std::int32_t exitCode)
{
    switch (exitCode) {
    case 1:
        return L"the registration tool rejected its arguments";
    case 2:
        return L"the registration tool could not initialise OLE";
    case 3:
        return L"the DLL could not be loaded: it is missing, not a DLL, built for another machine type, "
               L"or a DLL it needs is missing";
    case 4:
        return L"the DLL has no registration entry point (DllRegisterServer or DllUnregisterServer)";
    case 5:
        return L"the DLL's registration function failed, which it does when it may not write the "
               L"machine-wide registry";
    default:
        return L"unknown";
    }
}
