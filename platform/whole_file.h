#pragma once

#include "platform/heap_buffer.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <string>
#include <string_view>

// What a caller must know of a file before it replaces it.
struct FileFacts {
    DWORD attributes = 0;
    DWORD links = 0;
    unsigned long long size = 0;

    // A symbolic link or junction: replacing its content would write wherever it points.
    bool IsReparsePoint() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
    // Another name of the same file elsewhere would silently keep the old content.
    bool HasOtherNames() const { return links > 1; }
    bool IsReadOnly() const { return (attributes & FILE_ATTRIBUTE_READONLY) != 0; }
};

// Asks the platform for the facts of an open file.
bool InspectOpenFile(HANDLE file, FileFacts& facts);

// Writes all of `bytes` at the file's position, in as many writes as it
// takes; false when the system refuses one.
bool WriteAll(HANDLE file, std::string_view bytes);

// Whether an error of opening a file says that it, or its folder, is not there.
bool IsMissingFileError(DWORD error);

enum class OpenOutcome { Opened, Missing, Failed };

// Opens a file for reading while letting others read, write and delete it.
// A link is opened as itself, not followed, so that `facts` describe it.
OpenOutcome OpenForWholeRead(const std::wstring& path, UniqueHandle& file, FileFacts& facts);

enum class ReadOutcome { Read, Failed, OutOfMemory };

// Reads the whole of an open file of `size` bytes into `bytes`. A file that
// is not exactly that long when read counts as failed: it is changing.
ReadOutcome ReadWholeFile(HANDLE file, unsigned long long size, HeapBuffer& bytes);

// Replaces the content of `path` so that, at every instant, it holds either
// its old bytes or all of the new ones: the bytes go into `temporary` (which
// must not exist), reach the disk, and the file is then renamed over the
// original in one step. The new file gets `attributes` (the original's hidden
// or system attribute). On failure the original is left as it was and the
// temporary file is removed.
bool ReplaceWholeFile(const std::wstring& path, const std::wstring& temporary, std::string_view bytes,
                      DWORD attributes);

enum class PlaceOutcome { Placed, AlreadyThere, Failed };

// Puts a new file at `path` only while nothing has that name: the bytes go
// into `temporary` (which must not exist) and reach the disk, then are
// renamed to `path` without replacing. A file that appeared at `path` in
// the meantime is never touched. On anything but Placed the temporary file
// is removed.
PlaceOutcome PlaceNewFile(const std::wstring& path, const std::wstring& temporary, std::string_view bytes);
