#pragma once

#include <windows.h>

#include <string>

// The system's text for an error code, on one line and without its closing
// full stop, so that a record can go on after it; "unknown" where the system
// has none.
std::wstring SystemErrorText(DWORD error);
