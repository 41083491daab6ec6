#pragma once

#include <string>
#include <vector>

// The command line's arguments, split as the system splits a program's
// command line; none where the system can't split it.
std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine);
