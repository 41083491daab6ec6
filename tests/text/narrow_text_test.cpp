#include "text/narrow_text.h"

#include <gtest/gtest.h>

namespace {

TEST(WidenBytes, EachByteBecomesOneCodeUnitWithoutDecoding)
{
    EXPECT_EQ(WidenBytes("C:\\x"), L"C:\\x");
    EXPECT_EQ(WidenBytes("\xC3\xA9"), std::wstring(L"\x00C3\x00A9"));
    EXPECT_EQ(WidenBytes(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(WidenBytes(""), L"");
}

TEST(Separators, EveryBackslashBecomesASlash)
{
    std::string path = "C:\\Users\\\\a b\\c";
    ReplaceBackslashesWithSlashes(path);
    EXPECT_EQ(path, "C:/Users//a b/c");
}

} // namespace
