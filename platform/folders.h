#pragma once

#include <string>

// Removes one trailing backslash the platform's way: a root such as "C:\"
// keeps its backslash.
std::wstring WithoutTrailingBackslash(std::wstring path);

// Fetches a special folder (a CSIDL value) without creating it, with one
// trailing backslash removed. On failure `folder` is the empty text and the
// result is false.
bool FetchSpecialFolder(int csidl, std::wstring& folder);
