#include "platform/conversion.h"

#include "platform/os_calls.h"

#include <windows.h>

namespace {

std::string NarrowTo(UINT codePage, const wchar_t* text, int length)
{
    if (length <= 0) {
        return std::string();
    }
    const int size = Os().wideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0) {
        return std::string();
    }
    std::string result(static_cast<size_t>(size), '\0');
    if (Os().wideCharToMultiByte(codePage, 0, text, length, &result[0], size, nullptr, nullptr) == 0) {
        return std::string();
    }
    return result;
}

} // namespace

std::string ConvertToUtf8(const std::wstring& text)
{
    return NarrowTo(CP_UTF8, text.data(), static_cast<int>(text.size()));
}

std::string ConvertToAnsi(const wchar_t* begin, const wchar_t* end)
{
    return NarrowTo(::GetACP(), begin, static_cast<int>(end - begin));
}

std::wstring ConvertToUnicode(const std::wstring& text)
{
    const std::string narrow = ConvertToAnsi(text.data(), text.data() + text.size());
    if (narrow.empty()) {
        return std::wstring();
    }
    // Widen from the same code page that narrowed it; any other code page
    // would change every character outside ASCII.
    const UINT codePage = ::GetACP();
    const int length = static_cast<int>(narrow.size());
    const int size = Os().multiByteToWideChar(codePage, 0, narrow.data(), length, nullptr, 0);
    if (size <= 0) {
        return std::wstring();
    }
    std::wstring result(static_cast<size_t>(size), L'\0');
    if (Os().multiByteToWideChar(codePage, 0, narrow.data(), length, &result[0], size) == 0) {
        return std::wstring();
    }
    return result;
}
