#include "log/record_format.h"

#include <gtest/gtest.h>

namespace {

RecordStamp Stamp()
{
    RecordStamp stamp;
    stamp.date = FormatDate(12, 7, 2026);
    stamp.time = FormatTime(11, 26, 3);
    stamp.seconds = 1796642793;
    stamp.milliseconds = 7;
    return stamp;
}

TEST(LevelText, IsFifteenCharactersAndUnknownLevelsReadAsInfo)
{
    EXPECT_EQ(LevelText(LogLevel::ERROR), L" ERROR         ");
    EXPECT_EQ(LevelText(LogLevel::WARNING), L" WARNING       ");
    EXPECT_EQ(LevelText(LogLevel::INFO), L" INFO          ");
    EXPECT_EQ(LevelText(LogLevel::CRITICALINFO), L" CRITICALINFO  ");
    EXPECT_EQ(LevelText(LogLevel::CRITICALERROR), L" CRITICALERROR ");
    EXPECT_EQ(LevelText(static_cast<LogLevel>(-1)), L" INFO          ");
    EXPECT_EQ(LevelText(static_cast<LogLevel>(7)), L" INFO          ");
}

TEST(StampFormat, PadsWithZeros)
{
    EXPECT_EQ(FormatDate(1, 2, 2003), L"01/02/03");
    EXPECT_EQ(FormatDate(12, 31, 2100), L"12/31/00");
    EXPECT_EQ(FormatTime(0, 5, 9), L"00:05:09");
    EXPECT_EQ(FormatTime(23, 59, 59), L"23:59:59");
}

TEST(TextRecord, MessageStartsAfterThirtyNineCharacters)
{
    EXPECT_EQ(RenderTextRecord(Stamp(), LogLevel::INFO, L"Start Postlude."),
              L"12/07/26  11:26:03   INFO              Start Postlude.\r\n");
    EXPECT_EQ(RenderTextRecord(Stamp(), LogLevel::CRITICALERROR, L"x"),
              L"12/07/26  11:26:03   CRITICALERROR     x\r\n");
    EXPECT_EQ(RenderTextRecord(Stamp(), LogLevel::INFO, L"%s%n<&").substr(39), L"%s%n<&\r\n");
}

// A value holding a line break (an installation directory passed with one)
// must not end its record early, nor let whoever passed it add a record.
TEST(TextRecord, ControlCharactersOfAMessageAreShownNeverWritten)
{
    const std::wstring forged = L"C:\\App\r\n12/07/26  11:26:03   INFO              forged";
    EXPECT_EQ(RenderTextRecord(Stamp(), LogLevel::INFO, L"InstallDir is " + forged).substr(39),
              L"InstallDir is C:\\App\\x0D\\x0A12/07/26  11:26:03   INFO              forged\r\n");
    EXPECT_EQ(ShowControlCharacters(std::wstring(L"\x01\t\x7F\x00A0", 4)), L"\\x01\\x09\\x7F\x00A0");
    // A narrow record shows the UTF-8 bytes of "\x00C5" and "\x00D8" as characters, 0x85 and 0x98 among
    // them; 0x85 is NEXT LINE, a line break to Unicode readers, and is shown by the byte it stands for.
    EXPECT_EQ(ShowControlCharacters(L"C:\\\x00C3\x0085 \x00C3\x0098 \x4E2D"), L"C:\\\x00C3\\x85 \x00C3\x0098 \x4E2D");
    // Readers that break lines on the separators would see a record in two;
    // a lone surrogate makes the whole file invalid UTF-16. A pair stays.
    EXPECT_EQ(RenderTextRecord(Stamp(), LogLevel::INFO, L"C:\\a\x2028" L"12/07/26  11:26:03   INFO  x\x2029").substr(39),
              L"C:\\a\\u202812/07/26  11:26:03   INFO  x\\u2029\r\n");
    EXPECT_EQ(ShowControlCharacters(std::wstring{L'a', wchar_t(0xD800), L'b', wchar_t(0xDC00), wchar_t(0xD83D),
                                                 wchar_t(0xDE00), wchar_t(0xDBFF)}),
              (std::wstring{L'a', L'\\', L'u', L'D', L'8', L'0', L'0', L'b', L'\\', L'u', L'D', L'C', L'0', L'0',
                            wchar_t(0xD83D), wchar_t(0xDE00), L'\\', L'u', L'D', L'B', L'F', L'F'}));
}

// A value can't close its element and forge a record of its own, nor make
// the manifest not well-formed.
TEST(XmlRecord, HasTwentyDigitIdAndEscapedMessage)
{
    EXPECT_EQ(RenderXmlRecord(Stamp(), 1, LogLevel::ERROR, L"a < b & \"c\" > 'd'"),
              L"\t<LogUnit ID=\"17966427930000000001\" Type=\" ERROR         \" Date=\"12/07/26\" "
              L"Time=\"11:26:03:007\" Sender=\"\">\r\n"
              L"\t\t<message>a &lt; b &amp; &quot;c&quot; &gt; &apos;d&apos;</message>\r\n"
              L"\t</LogUnit>\r\n");
    const std::wstring forged = RenderXmlRecord(Stamp(), 2, LogLevel::INFO, L"</message></LogUnit><LogUnit ID=\"1\">");
    EXPECT_EQ(forged.find(L"</message>"), forged.rfind(L"</message>"));
    EXPECT_EQ(forged.find(L"<LogUnit"), 1u);
    EXPECT_EQ(forged.rfind(L"<LogUnit"), 1u);
    // XML 1.0 allows these two nowhere; a manifest that holds one does not parse.
    EXPECT_EQ(EscapeXml(L"a\xFFFE" L"b\xFFFF"), L"a\\uFFFEb\\uFFFF");
}

TEST(SinkLine, IsTabSeparatedAndBounded)
{
    EXPECT_EQ(RenderSinkLine(Stamp(), 12, LogLevel::INFO, L"m", 4096),
              L"17966427930000000012\t INFO          \t12/07/26\t11:26:03:007\t\tm\r\n");
    EXPECT_EQ(RenderSinkLine(Stamp(), 1, LogLevel::INFO, std::wstring(5000, L'x'), 4096).size(), 4095u);
}

// A cut line keeps whole escapes and whole pairs: half of "\x0A" or a lone
// half of a pair would say something the message never held.
TEST(SinkLine, CutKeepsWholeCharactersAndEscapes)
{
    const std::size_t prefix = RenderSinkLine(Stamp(), 1, LogLevel::INFO, L"", 0).size() - 2;
    const std::wstring escapes = RenderSinkLine(Stamp(), 1, LogLevel::INFO, L"ab\n\n", prefix + 5);
    EXPECT_EQ(escapes.substr(prefix), L"ab");
    const std::wstring pair = RenderSinkLine(Stamp(), 1, LogLevel::INFO, L"ab\xD83D\xDE00", prefix + 4);
    EXPECT_EQ(pair.substr(prefix), L"ab");
    // A line that just fits keeps its line end; one unit more and it loses it whole, never half.
    EXPECT_EQ(RenderSinkLine(Stamp(), 1, LogLevel::INFO, L"ab", prefix + 5).substr(prefix), L"ab\r\n");
    EXPECT_EQ(RenderSinkLine(Stamp(), 1, LogLevel::INFO, L"ab", prefix + 4).substr(prefix), L"ab");
}

std::string Utf16(const std::wstring& text)
{
    std::string bytes;
    for (const wchar_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
}

TEST(LastLineStart, FindsTheStartOfTheLastLine)
{
    const std::string bom = "\xFF\xFE";
    const std::string closed = bom + Utf16(L"<a>\r\n\tx\r\n</LogManifest>");
    EXPECT_EQ(FindLastLineStart(closed), closed.size() - 28);

    const std::string unclosed = bom + Utf16(L"<a>\r\n\tx\r\n");
    EXPECT_EQ(FindLastLineStart(unclosed), unclosed.size());

    EXPECT_EQ(FindLastLineStart(""), 0u);
    // The byte-order mark is never overwritten.
    EXPECT_EQ(FindLastLineStart(bom + Utf16(L"</LogManifest>")), 2u);
    // A line feed byte that is half of another character is no line end.
    EXPECT_EQ(FindLastLineStart(bom + Utf16(L"\x0A00x")), 2u);
}

TEST(RecordFormatting, InsertsValueAsTextNeverAsFormat)
{
    EXPECT_EQ(FormatRecord(L"InstallDir is %s", L"C:\\%s%n%d"), L"InstallDir is C:\\%s%n%d");
    EXPECT_EQ(FormatRecord(L"InstallDir is %s", L""), L"InstallDir is ");
}

TEST(RecordFormatting, ShortensVisiblyToTheLimit)
{
    const std::wstring value(2000, L'a');
    const std::wstring record = FormatRecord(L"Commandline passed is %s", value);
    ASSERT_EQ(record.size(), kMaxRecordLength);
    EXPECT_EQ(record.substr(0, 22), L"Commandline passed is ");
    EXPECT_EQ(record.substr(record.size() - 3), L"...");

    const std::wstring exact(kMaxRecordLength - 22, L'b');
    EXPECT_EQ(FormatRecord(L"Commandline passed is %s", exact), L"Commandline passed is " + exact);
}

// A long command line with an emoji where the cut falls keeps no half of it.
TEST(RecordFormatting, ShortensBeforeAPairItWouldSplit)
{
    const std::wstring value = std::wstring(9, L'a') + L"\xD83D\xDE00" + std::wstring(10, L'b');
    EXPECT_EQ(FormatRecord(L"%s", value, 13), L"aaaaaaaaa...");
    EXPECT_EQ(FormatRecord(L"%s", value, 14), L"aaaaaaaaa\xD83D\xDE00...");
}

} // namespace
