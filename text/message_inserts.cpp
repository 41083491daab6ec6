#include "text/message_inserts.h"

std::wstring FillMessageInserts(std::wstring_view message, std::wstring_view first)
{
    const auto isDigit = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    std::wstring filled;
    filled.reserve(message.size() + first.size());
    std::size_t at = 0;
    while (at < message.size()) {
        if (message[at] != L'%' || at + 1 >= message.size() || message[at + 1] < L'1' || message[at + 1] > L'9') {
            filled.push_back(message[at++]);
            continue;
        }
        std::size_t end = at + 2;
        while (end < message.size() && isDigit(message[end])) {
            ++end;
        }
        const bool isFirst = end == at + 2 && message[at + 1] == L'1';
        // An insert may carry a printf format between exclamation marks.
        if (end < message.size() && message[end] == L'!') {
            const std::size_t close = message.find(L'!', end + 1);
            end = close == std::wstring_view::npos ? message.size() : close + 1;
        }
        if (isFirst && !first.empty()) {
            filled.append(first);
        } else if (!filled.empty() && filled.back() == L' ' && (end == message.size() || message[end] == L' ')) {
            // Left out, with one of the blanks around it.
            filled.pop_back();
        }
        at = end;
    }
    const std::size_t start = filled.find_first_not_of(L' ');
    return start == std::wstring::npos ? std::wstring() : filled.substr(start);
}
