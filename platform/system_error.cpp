#include "platform/system_error.h"

#include "text/message_inserts.h"

#include <iterator>

std::wstring SystemErrorText(DWORD error, std::wstring_view subject)
{
    wchar_t text[512] = {};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                          0, text, static_cast<DWORD>(std::size(text)), nullptr);
    // The inserts are filled here rather than by the system, which would
    // read past the arguments of a message that has more than one.
    std::wstring meaning = FillMessageInserts(std::wstring_view(text, length), subject);
    while (!meaning.empty() &&
           (meaning.back() == L'\n' || meaning.back() == L'\r' || meaning.back() == L' ' || meaning.back() == L'.')) {
        meaning.pop_back();
    }
    return meaning.empty() ? L"unknown" : meaning;
}

DWORD ErrorOfFailedCall()
{
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_INTERNAL_ERROR;
}
