#include "text/narrow_text.h"

#include <algorithm>

std::wstring WidenBytes(std::string_view bytes)
{
    std::wstring wide(bytes.size(), L'\0');
    // Through unsigned char, so that a byte above 0x7F is not sign-extended.
    std::transform(bytes.begin(), bytes.end(), wide.begin(),
                   [](char byte) { return static_cast<wchar_t>(static_cast<unsigned char>(byte)); });
    return wide;
}

void ReplaceBackslashesWithSlashes(std::string& path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
}

