#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Which of the post-install pass's two halves a run does: the machine's
// (the registrations, done once, elevated) or the user's (the seeding, done
// as each user); the whole pass unless -postInstallPart says otherwise.
enum class PostInstallPart { Whole, Machine, User, Unknown };

struct Options {
    std::wstring requestedPass;  // "Post_install", "uninstall" or empty
    std::wstring installDir;     // the last accepted -installDir value
    // Opt-in, for installers that act on the outcome: a post-install pass
    // whose registrations did not all succeed ends with a failure code.
    bool failOnError = false;
    // Opt-in: every record also goes to standard output, for callers that
    // copy a program's output into their own log.
    bool echo = false;
    // Opt-in: -postInstallPart machine or user; the value as given, so that
    // one the program doesn't know can be named.
    PostInstallPart part = PostInstallPart::Whole;
    std::wstring partValue;
    // Opt-in: the product's recent-projects template, copied for a user who
    // has no file before the seeding fills it in.
    std::wstring recentProjectsTemplate;
    // Every name given, in order, known or not: a run that names no pass
    // says what it was given.
    std::vector<std::wstring> names;
};

// Reads the argument list as (name, value) pairs. Unknown names skip their
// value too, so a value never becomes a name; a last argument without a
// partner is ignored; a later pair overrides an earlier one. The switches
// -failOnError and -echo take any value.
Options ReadOptions(const std::vector<std::wstring>& arguments);
