#pragma once

#include <string>

class InstallerLog;

// Says in the log what will keep the 32-bit registration tool from loading
// a DLL, where the file itself shows it: a DLL that isn't there, a file that
// is no DLL, one built for another machine type, one that can't be read.
// Says nothing of a DLL that looks loadable. The command runs either way;
// this only explains in advance what the tool's exit code will not.
void LogWhatKeepsTheDllFromLoading(InstallerLog& log, const std::wstring& dllPath);
