#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The longest installation directory the passes accept: MAX_PATH less the
// terminating NUL.
constexpr std::size_t kMaxInstallDirLength = 259;

struct Options {
    std::wstring requestedPass;  // "Post_install", "uninstall" or empty
    std::wstring installDir;     // the last accepted -installDir value
    // Opt-in, for installers that act on the outcome: a post-install pass
    // whose registrations did not all succeed ends with a failure code.
    bool failOnError = false;
    // Opt-in: every record also goes to standard output, for callers that
    // copy a program's output into their own log.
    bool echo = false;
    // Every name given, in order, known or not: a run that names no pass
    // says what it was given.
    std::vector<std::wstring> names;
};

// Reads the argument list as (name, value) pairs. Unknown names skip their
// value too, so a value never becomes a name; a last argument without a
// partner is ignored; a later pair overrides an earlier one. The switches
// -failOnError and -echo take any value.
Options ReadOptions(const std::vector<std::wstring>& arguments);
