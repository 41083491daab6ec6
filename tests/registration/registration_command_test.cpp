#include "registration/registration_command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

TEST(RegistrationCommand, QuotesToolAndDll)
{
    EXPECT_EQ(BuildRegistrationCommand(L"C:\\Windows\\SysWOW64", kRegisterSwitch, L"C:\\Windows\\SysWOW64\\itcc.dll"),
              L"\"C:\\Windows\\SysWOW64\\regsvr32.exe\" /s \"C:\\Windows\\SysWOW64\\itcc.dll\"");
    EXPECT_EQ(BuildRegistrationCommand(L"S", kUnregisterSwitch, L"D:\\My Apps\\Wrenfold\\Vantabox.dll"),
              L"\"S\\regsvr32.exe\" /s /u \"D:\\My Apps\\Wrenfold\\Vantabox.dll\"");
}

TEST(InstallFolder, AbsoluteFoldersAreUsable)
{
    for (const wchar_t* folder : {L"C:\\Program Files\\Sample", L"d:\\", L"D:\\Apps\\\\", L"\\\\server\\share",
                                  L"\\\\server\\share\\Apps", L"C:\\\x03A9\x4E2D\xFF38"}) {
        EXPECT_TRUE(IsUsableInstallFolder(folder)) << folder;
    }
}

TEST(InstallFolder, QuotesWildcardsControlsAndRelativeFoldersAreRefused)
{
    for (const wchar_t* folder :
         {L"C:\\Apps\" /u \"C:\\x", L"C:\\A<b", L"C:\\A>b", L"C:\\A|b", L"C:\\A*", L"C:\\A?", L"C:\\A\tb",
          L"C:\\A\x1F", L"Apps", L"C:Apps", L"\\Apps", L"1:\\Apps", L"\\\\server", L"\\\\server\\",
          L"\\\\\\share", L"C:/Apps"}) {
        EXPECT_FALSE(IsUsableInstallFolder(folder)) << folder;
    }
}

} // namespace

namespace {

TEST(RegistrationCommand, EachDocumentedExitCodeHasAMeaningOfItsOwn)
{
    std::vector<std::wstring_view> meanings;
    for (std::int32_t code = 1; code <= 5; ++code) {
        meanings.push_back(RegistrationExitMeaning(code));
        EXPECT_NE(meanings.back(), L"unknown") << code;
    }
    std::sort(meanings.begin(), meanings.end());
    EXPECT_EQ(std::unique(meanings.begin(), meanings.end()), meanings.end());
    for (const std::int32_t code : {0, 6, -1, static_cast<std::int32_t>(0xC0000005)}) {
        EXPECT_EQ(RegistrationExitMeaning(code), L"unknown") << code;
    }
}

} // namespace
