#pragma once

#include <string>

// Removes one trailing backslash the platform's way: a root such as "C:\"
// keeps its backslash.
std::wstring WithoutTrailingBackslash(std::wstring path);

// Fetches a special folder (a CSIDL value) without creating it, with one
// trailing backslash removed. On failure `folder` is the empty text and the
// result is false.
bool FetchSpecialFolder(int csidl, std::wstring& folder);

// Creates `folder` unless it is there already; its parent must exist.
bool EnsureFolder(const std::wstring& folder);

// Whether `path` names its place from a drive's or a share's root
// ("C:\\...", "\\\\server\\share\\..."), so that it means the same file
// whatever the current folder is.
bool IsAbsolutePath(const std::wstring& path);
