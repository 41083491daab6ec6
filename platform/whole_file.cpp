#include "platform/whole_file.h"

#include "platform/os_calls.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <algorithm>

namespace {

constexpr DWORD kChunkSize = 1 << 20;

std::wstring FolderOf(const std::wstring& path)
{
    const std::size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring(L".") : path.substr(0, separator);
}

bool WriteAll(HANDLE file, std::string_view bytes)
{
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kChunkSize));
        DWORD written = 0;
        if (!Os().writeFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

bool WriteNewFile(const std::wstring& path, std::string_view bytes)
{
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                    nullptr));
    return file.IsValid() && WriteAll(file.Get(), bytes) && ::FlushFileBuffers(file.Get());
}

} // namespace

ReadOutcome ReadWholeFile(const std::wstring& path, std::string& bytes)
{
    UniqueHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ReadOutcome::Missing
                                                                                : ReadOutcome::Failed;
    }
    bytes.clear();
    // The size is only a hint: the file is read to its end whatever it says,
    // but a large file then fills one buffer instead of doubling into several.
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.Get(), &size) && static_cast<unsigned long long>(size.QuadPart) < bytes.max_size()) {
        bytes.reserve(static_cast<std::size_t>(size.QuadPart));
    }
    std::string chunk(kChunkSize, '\0');
    for (;;) {
        DWORD read = 0;
        if (!Os().readFile(file.Get(), &chunk[0], kChunkSize, &read, nullptr)) {
            return ReadOutcome::Failed;
        }
        if (read == 0) {
            return ReadOutcome::Read;
        }
        bytes.append(chunk, 0, read);
    }
}

bool ReplaceWholeFile(const std::wstring& path, std::string_view bytes)
{
    wchar_t temporary[MAX_PATH] = {};
    if (::GetTempFileNameW(FolderOf(path).c_str(), L"qlp", 0, temporary) == 0) {
        return false;
    }
    const bool replaced = WriteNewFile(temporary, bytes) &&
                          ::ReplaceFileW(path.c_str(), temporary, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                                         nullptr);
    if (!replaced) {
        ::DeleteFileW(temporary);
    }
    return replaced;
}
