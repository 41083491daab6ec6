#include "text/narrow_text.h"

#include <algorithm>

std::wstring WidenBytes(std::string_view bytes)
{
    std::wstring wide;
    wide.reserve(bytes.size());
    for (const char byte : bytes) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    }
    return wide;
}

void ReplaceBackslashesWithSlashes(std::string& path)
{
    std::replace(path.begin(), path.end(), '\\', '/');
}

