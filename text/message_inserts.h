#pragma once

#include <string>
#include <string_view>

// A system message read without its inserts, with "%1" filled with `first`
// (where the record knows it) and every other insert ("%2", "%1!s!", or
// "%1" without `first`) left out, so that no record shows a bare "%1".
std::wstring FillMessageInserts(std::wstring_view message, std::wstring_view first);
