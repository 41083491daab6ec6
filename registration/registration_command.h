#pragma once

#include <cstdint>
#include <string>
#include <string_view>

constexpr std::wstring_view kRegisterSwitch = L" /s ";
constexpr std::wstring_view kUnregisterSwitch = L" /s /u ";

// The registration tool's command line: the quoted tool from `toolFolder`,
// the switches as given, the quoted DLL path. Both paths are quoted so that
// blanks in either are passed through intact.
std::wstring BuildRegistrationCommand(std::wstring_view toolFolder, std::wstring_view switches,
                                      std::wstring_view dllPath);

// Whether an installation directory can name a folder that the registration
// tool may be pointed at: absolute (a drive letter, a colon and a backslash,
// or \\server\share) and free of the characters that no Windows file name
// holds (" < > | * ? and control characters). A quote would end the quoted
// DLL path and add arguments of its own to the command; a relative folder
// would resolve against whatever the current directory happens to be.
bool IsUsableInstallFolder(std::wstring_view folder);

// The program a command line starts: its first argument, without the quotes
// around it.
std::wstring_view CommandProgram(std::wstring_view commandLine);

// What a non-zero exit code of the registration tool says went wrong. The
// tool's codes name the step it stopped at: reading its arguments,
// initialising OLE, loading the DLL, finding the registration function,
// running it. Any other code reads "unknown".
std::wstring_view RegistrationExitMeaning(std::int32_t exitCode);
