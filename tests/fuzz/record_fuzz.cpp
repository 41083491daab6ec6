// Record rendering with arbitrary messages, levels and limits: each format
// keeps the message whole (its control characters shown, so one line stays
// one line) and its columns in place, every XML record is well-formed, the
// driver's formatting and the line sink never exceed their limits and cut
// only between whole characters and escapes, and the log's last-line search
// stays in its file.
#include "fuzz_support.h"
#include "log/record_format.h"

#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

namespace {

bool EndsWith(std::wstring_view text, std::wstring_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool IsLevelText(std::wstring_view text)
{
    const LogLevel levels[] = {LogLevel::ERROR, LogLevel::WARNING, LogLevel::INFO, LogLevel::CRITICALINFO,
                               LogLevel::CRITICALERROR};
    return std::any_of(std::begin(levels), std::end(levels),
                       [text](LogLevel level) { return text == LevelText(level); });
}

bool IsSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDFFF;
}

// No unit that ends a line for some reader, and every surrogate in a pair.
bool IsOneCleanLine(std::wstring_view text)
{
    for (std::size_t at = 0; at < text.size(); ++at) {
        const wchar_t c = text[at];
        if (c < 0x20 || c == 0x7F || c == 0x85 || c == 0x2028 || c == 0x2029) {
            return false;
        }
        if (IsSurrogate(c)) {
            const bool paired = c <= 0xDBFF && at + 1 < text.size() && text[at + 1] >= 0xDC00 && text[at + 1] <= 0xDFFF;
            if (!paired) {
                return false;
            }
            ++at;
        }
    }
    return true;
}

// Well-formed XML for a record: only characters XML 1.0 allows (surrogates
// in pairs), and every "&" the start of one of the five entities.
bool IsWellFormedXmlText(std::wstring_view text)
{
    constexpr std::wstring_view kEntities[] = {L"&amp;", L"&lt;", L"&gt;", L"&quot;", L"&apos;"};
    for (std::size_t at = 0; at < text.size(); ++at) {
        const wchar_t c = text[at];
        if ((c < 0x20 && c != L'\t' && c != L'\n' && c != L'\r') || c == 0xFFFE || c == 0xFFFF) {
            return false;
        }
        if (IsSurrogate(c)) {
            if (c > 0xDBFF || at + 1 >= text.size() || text[at + 1] < 0xDC00 || text[at + 1] > 0xDFFF) {
                return false;
            }
            ++at;
        }
        if (c == L'&' && std::none_of(std::begin(kEntities), std::end(kEntities), [&](std::wstring_view entity) {
                return text.compare(at, entity.size(), entity) == 0;
            })) {
            return false;
        }
    }
    return true;
}

// The lengths at which the shown form of `message` may be cut: after each
// whole character or escape, as each is shown on its own.
std::vector<std::size_t> ShownCutPoints(std::wstring_view message)
{
    std::vector<std::size_t> points{0};
    for (std::size_t at = 0; at < message.size();) {
        const bool pair = message[at] >= 0xD800 && message[at] <= 0xDBFF && at + 1 < message.size() &&
                          message[at + 1] >= 0xDC00 && message[at + 1] <= 0xDFFF;
        const std::size_t length = pair ? 2 : 1;
        points.push_back(points.back() + ShowControlCharacters(message.substr(at, length)).size());
        at += length;
    }
    return points;
}

void CheckRecords(FuzzedDataProvider& data)
{
    RecordStamp stamp;
    stamp.date = FormatDate(data.ConsumeIntegral<int>() & 0xFFFF, data.ConsumeIntegral<int>() & 0xFFFF,
                            data.ConsumeIntegral<int>() & 0xFFFF);
    stamp.time = FormatTime(data.ConsumeIntegralInRange(0, 99), data.ConsumeIntegralInRange(0, 99),
                            data.ConsumeIntegralInRange(0, 99));
    stamp.seconds = data.ConsumeIntegral<std::int32_t>();
    stamp.milliseconds = data.ConsumeIntegralInRange(0u, 999u);
    const std::int32_t number = data.ConsumeIntegral<std::int32_t>();
    // Any number at all: one the enumeration doesn't name reads as INFO.
    const auto level = static_cast<LogLevel>(data.ConsumeIntegral<std::int32_t>());
    const std::size_t limit = data.ConsumeIntegralInRange<std::size_t>(0, 2000);
    const std::wstring message = ConsumeWideText(data, 5000);

    FUZZ_REQUIRE(stamp.date.size() == 8 && stamp.time.size() == 8);
    FUZZ_REQUIRE(IsLevelText(LevelText(level)));

    // The message as every format shows it: no control character, line or
    // paragraph separator or lone surrogate left, and unchanged without them.
    const std::wstring shown = ShowControlCharacters(message);
    FUZZ_REQUIRE(IsOneCleanLine(shown));
    FUZZ_REQUIRE(!IsOneCleanLine(message) || shown == message);

    const std::wstring text = RenderTextRecord(stamp, level, message);
    FUZZ_REQUIRE(text.size() == 8 + 2 + 8 + 2 + 15 + 2 + 2 + shown.size() + 2);
    FUZZ_REQUIRE(text.substr(0, 8) == stamp.date && text.substr(10, 8) == stamp.time);
    FUZZ_REQUIRE(text.substr(20, 15) == LevelText(level));
    FUZZ_REQUIRE(EndsWith(text, shown + L"\r\n"));
    // One record, one line, whatever the message holds.
    FUZZ_REQUIRE(text.find_first_of(L"\r\n") == text.size() - 2);

    const std::wstring xml = RenderXmlRecord(stamp, number, level, message);
    FUZZ_REQUIRE(xml.find(L"\t<LogUnit ID=\"") == 0);
    FUZZ_REQUIRE(EndsWith(xml, L"\t\t<message>" + EscapeXml(shown) + L"</message>\r\n\t</LogUnit>\r\n"));
    // Markup only where the format puts it: the message adds none.
    FUZZ_REQUIRE(std::count(xml.begin(), xml.end(), L'<') == 4);
    FUZZ_REQUIRE(IsWellFormedXmlText(xml));

    const std::wstring unlimited = RenderSinkLine(stamp, number, level, message, 0);
    FUZZ_REQUIRE(EndsWith(unlimited, L"\t" + shown + L"\r\n"));
    const std::wstring sink = RenderSinkLine(stamp, number, level, message, limit);
    FUZZ_REQUIRE(limit == 0 || sink.size() < limit);
    FUZZ_REQUIRE(unlimited.compare(0, sink.size(), sink) == 0);
    // Cut short, the line ends between whole characters or escapes, or
    // inside the columns before the message.
    if (sink != unlimited) {
        const std::size_t columns = unlimited.size() - shown.size() - 2;
        const std::vector<std::size_t> points = ShownCutPoints(message);
        FUZZ_REQUIRE(sink.size() <= columns ||
                     std::binary_search(points.begin(), points.end(), sink.size() - columns));
    }
}

void CheckFormatRecord(FuzzedDataProvider& data)
{
    const std::wstring pattern = ConsumeWideText(data, 1200);
    const std::size_t limit = data.ConsumeIntegralInRange<std::size_t>(0, 1500);
    const std::wstring value = ConsumeWideText(data, 1500);

    std::wstring whole = pattern;
    if (const std::size_t at = whole.find(L"%s"); at != std::wstring::npos) {
        whole.replace(at, 2, value);
    }
    const std::wstring record = FormatRecord(pattern, value, limit);
    if (whole.size() <= limit || limit < 3) {
        FUZZ_REQUIRE(record == whole);
    } else {
        // One unit short where the limit would split a pair.
        const std::size_t kept = record.size() - 3;
        const bool splitsPair = limit > 3 && whole[limit - 4] >= 0xD800 && whole[limit - 4] <= 0xDBFF &&
                                whole[limit - 3] >= 0xDC00 && whole[limit - 3] <= 0xDFFF;
        FUZZ_REQUIRE(kept == (splitsPair ? limit - 4 : limit - 3));
        FUZZ_REQUIRE(EndsWith(record, L"..."));
        FUZZ_REQUIRE(whole.compare(0, kept, record, 0, kept) == 0);
    }
}

void CheckLastLineStart(FuzzedDataProvider& data)
{
    const std::string bytes = data.ConsumeRemainingBytesAsString();
    const bool bom = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
    const std::size_t start = FindLastLineStart(bytes);
    FUZZ_REQUIRE(start <= bytes.size());
    FUZZ_REQUIRE(start % 2 == 0);
    FUZZ_REQUIRE(!bom || start >= 2);
    // Just after a line feed unit, or the first unit when there is none.
    if (start > (bom ? 2u : 0u)) {
        FUZZ_REQUIRE(bytes[start - 2] == '\n' && bytes[start - 1] == '\0');
    }
    for (std::size_t at = start; at + 1 < bytes.size(); at += 2) {
        FUZZ_REQUIRE(!(bytes[at] == '\n' && bytes[at + 1] == '\0'));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    switch (data.ConsumeIntegralInRange(0, 2)) {
    case 0:
        CheckRecords(data);
        break;
    case 1:
        CheckFormatRecord(data);
        break;
    default:
        CheckLastLineStart(data);
        break;
    }
    return 0;
}
