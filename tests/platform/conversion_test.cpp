#include "platform/conversion.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace {

bool AnsiCodePageHas(wchar_t character)
{
    BOOL usedDefault = FALSE;
    char narrow[8] = {};
    WideCharToMultiByte(GetACP(), 0, &character, 1, narrow, sizeof narrow, nullptr, &usedDefault);
    return !usedDefault;
}

TEST(ConvertToUtf8, GivesTheUtf8BytesOfTheWholeText)
{
    EXPECT_EQ(ConvertToUtf8(L""), "");
    EXPECT_EQ(ConvertToUtf8(L"abc"), "abc");
    EXPECT_EQ(ConvertToUtf8(L"\x00E9"), "\xC3\xA9");
    EXPECT_EQ(ConvertToUtf8(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
}

TEST(ConvertToAnsi, UnrepresentableCharactersBecomeTheDefaultCharacter)
{
    const std::wstring text = L"x\x4E2D\xD55C";
    if (AnsiCodePageHas(L'\x4E2D') || AnsiCodePageHas(L'\xD55C')) {
        GTEST_SKIP() << "the ANSI code page " << GetACP() << " represents the probe characters";
    }
    const std::string narrow = ConvertToAnsi(text.data(), text.data() + text.size());
    EXPECT_EQ(narrow.size(), 3u);
    EXPECT_EQ(narrow[0], 'x');
}

TEST(ConvertToUnicode, ReturnsEveryRepresentablePathUnchanged)
{
    EXPECT_EQ(ConvertToUnicode(L""), L"");
    EXPECT_EQ(ConvertToUnicode(L"D:\\Apps\\Docs"), L"D:\\Apps\\Docs");
    ASSERT_TRUE(AnsiCodePageHas(L'\x00E9')) << "code page " << GetACP();
    EXPECT_EQ(ConvertToUnicode(L"C:\\Programme\\Caf\x00E9 \x00DC"), L"C:\\Programme\\Caf\x00E9 \x00DC");
    EXPECT_EQ(ConvertToUnicode(L"x").size(), 1u);
}

} // namespace
