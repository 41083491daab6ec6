#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// The system's text for an error code, on one line and without its closing
// full stop, so that a record can go on after it; "unknown" where the system
// has none. Its "%1", where it has one, names `subject` (a file, for the
// errors of starting a program), or is left out without one.
std::wstring SystemErrorText(DWORD error, std::wstring_view subject = {});

// The thread's last error, for a call that has just failed: never
// ERROR_SUCCESS, which a caller would read as no failure at all, even where
// the call set none.
DWORD ErrorOfFailedCall();
