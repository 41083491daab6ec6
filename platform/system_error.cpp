#include "platform/system_error.h"

#include <iterator>

std::wstring SystemErrorText(DWORD error)
{
    wchar_t text[512] = {};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                          0, text, static_cast<DWORD>(std::size(text)), nullptr);
    std::wstring meaning(text, length);
    while (!meaning.empty() &&
           (meaning.back() == L'\n' || meaning.back() == L'\r' || meaning.back() == L' ' || meaning.back() == L'.')) {
        meaning.pop_back();
    }
    return meaning.empty() ? L"unknown" : meaning;
}
