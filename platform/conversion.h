#pragma once

#include <string>

// Conversions between the program's wide (UTF-16) text and narrow text.
// Each returns an empty result for an empty input and when the platform
// refuses the conversion; none of them logs anything.

// The UTF-8 bytes of the whole text.
std::string ConvertToUtf8(const std::wstring& text);

// The text in the current ANSI code page; characters the code page lacks
// become its default character.
std::string ConvertToAnsi(const wchar_t* begin, const wchar_t* end);

// The text narrowed to the ANSI code page and widened back from the same
// code page: what a narrow-text consumer of the path would see.
std::wstring ConvertToUnicode(const std::wstring& text);
