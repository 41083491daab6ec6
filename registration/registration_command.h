#pragma once

#include <string>
#include <string_view>

constexpr std::wstring_view kRegisterSwitch = L" /s ";
constexpr std::wstring_view kUnregisterSwitch = L" /s /u ";

// The registration tool's command line: the quoted tool from `toolFolder`,
// the switches as given, the quoted DLL path. Both paths are quoted so that
// blanks in either are passed through intact.
std::wstring BuildRegistrationCommand(std::wstring_view toolFolder, std::wstring_view switches,
                                      std::wstring_view dllPath);
