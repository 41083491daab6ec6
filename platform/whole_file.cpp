#include "platform/whole_file.h"

#include "platform/os_calls.h"

#include <algorithm>

namespace {

constexpr DWORD kChunkSize = 1 << 20;

// The new content, complete and on the disk, under its temporary name.
bool WriteTemporaryFile(const std::wstring& temporary, std::string_view bytes, DWORD attributes)
{
    // CREATE_NEW: whatever already has this name, a link planted there
    // included, is never opened and written through.
    UniqueHandle file(Os().createFile(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid() && WriteAll(file.Get(), bytes) && Os().flushFileBuffers(file.Get());
}

} // namespace

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

bool IsMissingFileError(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool InspectOpenFile(HANDLE file, FileFacts& facts)
{
    BY_HANDLE_FILE_INFORMATION information{};
    if (!Os().getFileInformationByHandle(file, &information)) {
        return false;
    }
    facts.attributes = information.dwFileAttributes;
    facts.links = information.nNumberOfLinks;
    facts.size = (static_cast<unsigned long long>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    return true;
}

OpenOutcome OpenForWholeRead(const std::wstring& path, UniqueHandle& file, FileFacts& facts)
{
    file.Reset(Os().createFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.IsValid()) {
        return IsMissingFileError(::GetLastError()) ? OpenOutcome::Missing : OpenOutcome::Failed;
    }
    if (!InspectOpenFile(file.Get(), facts)) {
        file.Reset();
        return OpenOutcome::Failed;
    }
    return OpenOutcome::Opened;
}

ReadOutcome ReadWholeFile(HANDLE file, unsigned long long size, HeapBuffer& bytes)
{
    if (!bytes.Allocate(size)) {
        return ReadOutcome::OutOfMemory;
    }
    std::size_t filled = 0;
    for (;;) {
        // Once the buffer is full, one more byte is asked for, so that a file
        // that grew while it was read shows.
        const std::size_t wanted = std::min<std::size_t>(bytes.Size() - filled, kChunkSize);
        char probe = 0;
        char* target = wanted > 0 ? bytes.Data() + filled : &probe;
        DWORD read = 0;
        if (!Os().readFile(file, target, wanted > 0 ? static_cast<DWORD>(wanted) : 1, &read, nullptr)) {
            return ReadOutcome::Failed;
        }
        if (read == 0) {
            return filled == bytes.Size() ? ReadOutcome::Read : ReadOutcome::Failed;
        }
        if (wanted == 0) {
            return ReadOutcome::Failed;
        }
        filled += read;
    }
}

bool ReplaceWholeFile(const std::wstring& path, const std::wstring& temporary, std::string_view bytes,
                      DWORD attributes)
{
    if (WriteTemporaryFile(temporary, bytes, attributes) &&
        Os().moveFileEx(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    Os().deleteFile(temporary.c_str());
    return false;
}

PlaceOutcome PlaceNewFile(const std::wstring& path, const std::wstring& temporary, std::string_view bytes)
{
    if (!WriteTemporaryFile(temporary, bytes, 0)) {
        Os().deleteFile(temporary.c_str());
        return PlaceOutcome::Failed;
    }
    if (Os().moveFileEx(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        return PlaceOutcome::Placed;
    }
    const DWORD error = ::GetLastError();
    Os().deleteFile(temporary.c_str());
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? PlaceOutcome::AlreadyThere
                                                                        : PlaceOutcome::Failed;
}
