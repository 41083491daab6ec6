#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The longest installation directory the passes accept: MAX_PATH less the
// terminating NUL.
constexpr std::size_t kMaxInstallDirLength = 259;
// The longest finished record the driver formats (its buffer less the NUL).
constexpr std::size_t kMaxRecordLength = 1023;

struct Options {
    std::wstring requestedPass;  // "Post_install", "uninstall" or empty
    std::wstring installDir;     // the last accepted -installDir value
};

// Reads the argument list as (name, value) pairs. Unknown names skip their
// value too, so a value never becomes a name; a last argument without a
// partner is ignored; a later pair overrides an earlier one.
Options ReadOptions(const std::vector<std::wstring>& arguments);

// `pattern` with its first "%s" replaced by `value`, inserted as text and
// never read as a format. A result longer than `limit` characters is cut and
// ends with "..." so that the shortening shows.
std::wstring FormatRecord(std::wstring_view pattern, std::wstring_view value,
                          std::size_t limit = kMaxRecordLength);
