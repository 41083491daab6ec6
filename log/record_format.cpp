#include "log/record_format.h"

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <utility>

const wchar_t kXmlHeader[] = L"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\" ?>\r\n<LogManifest>\r\n";
const wchar_t kXmlFooter[] = L"</LogManifest>";

namespace {

// Sender is a column of every format that this program always leaves empty.
constexpr std::wstring_view kSender{};

std::wstring TwoDigits(int value)
{
    std::wstring text(2, L'0');
    text[0] = static_cast<wchar_t>(L'0' + (value / 10) % 10);
    text[1] = static_cast<wchar_t>(L'0' + value % 10);
    return text;
}

std::wstring ZeroPadded(long long value, int width)
{
    wchar_t buffer[32] = {};
    std::swprintf(buffer, 32, L"%0*lld", width, value);
    return buffer;
}

// "seconds" and record number as the 20-digit identifier of a record.
std::wstring RecordId(const RecordStamp& stamp, std::int32_t number)
{
    return ZeroPadded(stamp.seconds, 10) + ZeroPadded(number, 10);
}

std::wstring TimeWithMilliseconds(const RecordStamp& stamp)
{
    return stamp.time + L":" + ZeroPadded(stamp.milliseconds, 3);
}

} // namespace

namespace {

bool IsLeadSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

bool IsTrailSurrogate(wchar_t c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

void AppendHex(std::wstring& to, unsigned value, int digits)
{
    constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    for (int digit = digits - 1; digit >= 0; --digit) {
        to.push_back(kHex[(value >> (4 * digit)) & 0xF]);
    }
}

// Appends the character at `at` as a record shows it (one unit, a pair, or
// an escape); returns how many units of `text` it takes.
std::size_t AppendShownCharacter(std::wstring& to, std::wstring_view text, std::size_t at)
{
    // C0, DEL and NEXT LINE (U+0085) among the controls: the narrow records
    // show each UTF-8 byte of a path as one character, so the other units
    // from U+0080 to U+009F stand for bytes of letters there, and "\x85"
    // names the byte that NEXT LINE stands for.
    const auto isControl = [](wchar_t c) { return c < 0x20 || c == 0x7F || c == 0x85; };
    const wchar_t c = text[at];
    if (isControl(c)) {
        to.append(L"\\x");
        AppendHex(to, c, 2);
    } else if (IsLeadSurrogate(c) && at + 1 < text.size() && IsTrailSurrogate(text[at + 1])) {
        to.append(text.substr(at, 2));
        return 2;
    } else if (IsLeadSurrogate(c) || IsTrailSurrogate(c) || c == 0x2028 || c == 0x2029) {
        to.append(L"\\u");
        AppendHex(to, c, 4);
    } else {
        to.push_back(c);
    }
    return 1;
}

// Appends `text` as a record shows it to `to`, a whole character or escape
// at a time, while `to` stays within `maxLength` units; returns whether all
// of it fitted.
bool AppendShown(std::wstring& to, std::wstring_view text, std::size_t maxLength)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t before = to.size();
        at += AppendShownCharacter(to, text, at);
        if (to.size() > maxLength) {
            to.resize(before);
            return false;
        }
    }
    return true;
}

} // namespace

std::wstring ShowControlCharacters(std::wstring_view text)
{
    std::wstring shown;
    shown.reserve(text.size());
    AppendShown(shown, text, std::wstring::npos);
    return shown;
}

std::wstring EscapeXml(std::wstring_view text)
{
    // Each character and how it is written. XML 1.0 allows U+FFFE and U+FFFF
    // nowhere, so they are shown as the other characters no line may hold.
    constexpr std::pair<wchar_t, std::wstring_view> kEntities[] = {
        {L'&', L"&amp;"},   {L'<', L"&lt;"},   {L'>', L"&gt;"},          {L'"', L"&quot;"},
        {L'\'', L"&apos;"}, {L'\xFFFE', L"\\uFFFE"}, {L'\xFFFF', L"\\uFFFF"}};
    std::wstring escaped;
    escaped.reserve(text.size());
    for (const wchar_t c : text) {
        const auto* const entity = std::find_if(std::begin(kEntities), std::end(kEntities),
                                                [c](const auto& candidate) { return candidate.first == c; });
        if (entity != std::end(kEntities)) {
            escaped.append(entity->second);
        } else {
            escaped.push_back(c);
        }
    }
    return escaped;
}

std::wstring_view LevelText(LogLevel level)
{
    switch (level) {
    case LogLevel::ERROR:
        return L" ERROR         ";
    case LogLevel::WARNING:
        return L" WARNING       ";
    case LogLevel::CRITICALINFO:
        return L" CRITICALINFO  ";
    case LogLevel::CRITICALERROR:
        return L" CRITICALERROR ";
    case LogLevel::INFO:
    default:
        return L" INFO          ";
    }
}

std::wstring FormatDate(int month, int day, int year)
{
    return TwoDigits(month) + L"/" + TwoDigits(day) + L"/" + TwoDigits(year % 100);
}

std::wstring FormatTime(int hour, int minute, int second)
{
    return TwoDigits(hour) + L":" + TwoDigits(minute) + L":" + TwoDigits(second);
}

std::wstring RenderTextRecord(const RecordStamp& stamp, LogLevel level, std::wstring_view message)
{
    std::wstring line;
    line.reserve(41 + message.size());
    line.append(stamp.date).append(L"  ");
    line.append(stamp.time).append(L"  ");
    line.append(LevelText(level)).append(L"  ");
    line.append(kSender).append(L"  ");
    line.append(ShowControlCharacters(message)).append(L"\r\n");
    return line;
}

std::wstring RenderXmlRecord(const RecordStamp& stamp, std::int32_t number, LogLevel level,
                             std::wstring_view message)
{
    std::wstring unit;
    unit.append(L"\t<LogUnit ID=\"").append(RecordId(stamp, number));
    unit.append(L"\" Type=\"").append(LevelText(level));
    unit.append(L"\" Date=\"").append(stamp.date);
    unit.append(L"\" Time=\"").append(TimeWithMilliseconds(stamp));
    unit.append(L"\" Sender=\"").append(kSender).append(L"\">\r\n");
    unit.append(L"\t\t<message>").append(EscapeXml(ShowControlCharacters(message))).append(L"</message>\r\n");
    unit.append(L"\t</LogUnit>\r\n");
    return unit;
}

std::wstring RenderEchoLine(std::wstring_view message)
{
    std::wstring line(kSender);
    line.append(L":").append(ShowControlCharacters(message)).append(L"\r\n");
    return line;
}

std::wstring RenderSinkLine(const RecordStamp& stamp, std::int32_t number, LogLevel level,
                            std::wstring_view message, std::size_t limit)
{
    std::wstring line = RecordId(stamp, number);
    line.append(L"\t").append(LevelText(level));
    line.append(L"\t").append(stamp.date);
    line.append(L"\t").append(TimeWithMilliseconds(stamp));
    line.append(L"\t").append(kSender);
    line.append(L"\t");
    if (limit > 0 && line.size() >= limit - 1) {
        line.resize(limit - 1);
        return line;
    }
    // Cut short, the line keeps whole characters and whole escapes, without a line end.
    const bool whole = AppendShown(line, message, limit == 0 ? std::wstring::npos : limit - 1);
    if (whole && (limit == 0 || line.size() + 2 < limit)) {
        line.append(L"\r\n");
    }
    return line;
}

std::size_t FindLastLineStart(std::string_view fileBytes)
{
    const std::size_t firstUnit = fileBytes.size() >= 2 && static_cast<unsigned char>(fileBytes[0]) == 0xFF &&
                                          static_cast<unsigned char>(fileBytes[1]) == 0xFE
                                      ? 2
                                      : 0;
    std::size_t lastLineStart = firstUnit;
    for (std::size_t offset = firstUnit; offset + 1 < fileBytes.size(); offset += 2) {
        if (fileBytes[offset] == '\n' && fileBytes[offset + 1] == '\0') {
            lastLineStart = offset + 2;
        }
    }
    return lastLineStart;
}

std::wstring FormatRecord(std::wstring_view pattern, std::wstring_view value, std::size_t limit)
{
    std::wstring record(pattern);
    const std::size_t placeholder = record.find(L"%s");
    if (placeholder != std::wstring::npos) {
        record.replace(placeholder, 2, value);
    }
    constexpr std::wstring_view kEllipsis = L"...";
    if (record.size() > limit && limit >= kEllipsis.size()) {
        std::size_t kept = limit - kEllipsis.size();
        // Never half of a pair: a lone half would read as an invalid path.
        if (kept > 0 && IsLeadSurrogate(record[kept - 1]) && IsTrailSurrogate(record[kept])) {
            --kept;
        }
        record.resize(kept);
        record.append(kEllipsis);
    }
    return record;
}

