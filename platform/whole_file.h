#pragma once

#include <string>
#include <string_view>

enum class ReadOutcome { Read, Missing, Failed };

// Reads a whole file while letting others read, write and delete it.
ReadOutcome ReadWholeFile(const std::wstring& path, std::string& bytes);

// Replaces the content of an existing file in one step: the bytes go whole
// into a temporary file beside it, which then takes the original's place
// (keeping the original's attributes and security). On any failure the
// original is left as it was and the temporary file is removed.
bool ReplaceWholeFile(const std::wstring& path, std::string_view bytes);
