#include "platform/folders.h"

#include "platform/os_calls.h"

#include <shlwapi.h>
#include <windows.h>

std::wstring WithoutTrailingBackslash(std::wstring path)
{
    path.push_back(L'\0');
    ::PathRemoveBackslashW(&path[0]);
    path.resize(wcslen(path.c_str()));
    return path;
}

bool FetchSpecialFolder(int csidl, std::wstring& folder)
{
    wchar_t buffer[MAX_PATH] = {};
    const bool fetched = Os().getSpecialFolderPath(nullptr, buffer, csidl, FALSE) != FALSE;
    if (!fetched) {
        // A failed call may leave anything in the buffer; the caller goes on
        // with a well-defined empty folder instead.
        buffer[0] = L'\0';
    }
    buffer[MAX_PATH - 1] = L'\0';
    folder = WithoutTrailingBackslash(buffer);
    return fetched;
}

bool EnsureFolder(const std::wstring& folder)
{
    return Os().createDirectory(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

bool IsAbsolutePath(const std::wstring& path)
{
    if (path.size() < 3) {
        return false;
    }
    const wchar_t drive = static_cast<wchar_t>(path[0] | 0x20);
    const bool driveRoot = drive >= L'a' && drive <= L'z' && path[1] == L':' && path[2] == L'\\';
    const bool shareRoot = path[0] == L'\\' && path[1] == L'\\' && path[2] != L'\\';
    return driveRoot || shareRoot;
}
