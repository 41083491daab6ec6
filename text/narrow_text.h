#pragma once

#include <string>
#include <string_view>

// Byte-for-byte widening used when a narrow text is logged: each byte
// becomes one UTF-16 code unit of the same value, without decoding.
std::wstring WidenBytes(std::string_view bytes);

// Every backslash becomes a forward slash; nothing else changes.
void ReplaceBackslashesWithSlashes(std::string& path);

