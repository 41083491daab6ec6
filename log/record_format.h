#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class LogLevel : std::int32_t {
    ERROR = 0,
    WARNING = 1,
    INFO = 2,
    CRITICALINFO = 3,
    CRITICALERROR = 4,
};

enum class LogFormat : std::int32_t {
    Xml = 0,
    Text = 1,
};

// The longest finished record (the formatting buffer less its NUL).
constexpr std::size_t kMaxRecordLength = 1023;

// `pattern` with its first "%s" replaced by `value`, inserted as text and
// never read as a format. A result longer than `limit` characters is cut and
// ends with "..." so that the shortening shows; the cut keeps a surrogate
// pair whole, one unit short of the limit where it would split one.
std::wstring FormatRecord(std::wstring_view pattern, std::wstring_view value,
                          std::size_t limit = kMaxRecordLength);

// `text` with each control character (U+0000 to U+001F, U+007F and U+0085)
// written as "\xHH", and the line and paragraph separators (U+2028, U+2029)
// and each surrogate that is not half of a pair written as "\uHHHH", so that
// no value can end a record's line early, start a record of its own in a
// reader that breaks lines on the separators, or make the file invalid
// UTF-16 for a strict decoder; text without them comes back unchanged.
std::wstring ShowControlCharacters(std::wstring_view text);

// `text` with the five characters that XML gives a meaning (& < > " ')
// written as their entities, and the two that XML forbids (U+FFFE, U+FFFF)
// as "\uHHHH".
std::wstring EscapeXml(std::wstring_view text);

// When a record was written, as each log format shows it.
struct RecordStamp {
    std::wstring date;          // MM/DD/YY, local
    std::wstring time;          // HH:MM:SS, local, 24-hour clock
    std::int32_t seconds = 0;   // since 1970-01-01 00:00:00 UTC
    unsigned milliseconds = 0;  // 0..999
};

// The 15-character column text of a level; unknown numbers read as INFO.
std::wstring_view LevelText(LogLevel level);

std::wstring FormatDate(int month, int day, int year);
std::wstring FormatTime(int hour, int minute, int second);

// The renderers show the message's control characters (ShowControlCharacters);
// the XML record also escapes it (EscapeXml).
std::wstring RenderTextRecord(const RecordStamp& stamp, LogLevel level, std::wstring_view message);
std::wstring RenderXmlRecord(const RecordStamp& stamp, std::int32_t number, LogLevel level,
                             std::wstring_view message);
// The line echoed to standard output: the sender (empty), a colon and the
// message.
std::wstring RenderEchoLine(std::wstring_view message);
// The tab-separated line handed to a line sink, at most `limit` - 1 characters
// (no limit when 0). A line cut short keeps whole characters and whole
// escapes, and has no line end.
std::wstring RenderSinkLine(const RecordStamp& stamp, std::int32_t number, LogLevel level,
                            std::wstring_view message, std::size_t limit);

extern const wchar_t kXmlHeader[];
extern const wchar_t kXmlFooter[];

// Byte offset at which the last line of a UTF-16LE file starts: just after
// its last line feed, the end of the file when it ends with one, and never
// inside the byte-order mark.
std::size_t FindLastLineStart(std::string_view fileBytes);
