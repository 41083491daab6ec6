#include "registration/registration_command.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(RegistrationCommand, QuotesToolAndDll)
{
    EXPECT_EQ(BuildRegistrationCommand(L"C:\\Windows\\SysWOW64", kRegisterSwitch, L"C:\\Windows\\SysWOW64\\itcc.dll"),
              L"\"C:\\Windows\\SysWOW64\\regsvr32.exe\" /s \"C:\\Windows\\SysWOW64\\itcc.dll\"");
    EXPECT_EQ(BuildRegistrationCommand(L"S", kUnregisterSwitch, L"D:\\My Apps\\Wrenfold\\Vantabox.dll"),
              L"\"S\\regsvr32.exe\" /s /u \"D:\\My Apps\\Wrenfold\\Vantabox.dll\"");
}

TEST(RegistrationCommand, EmptySystemFolderLeavesABackslashBeforeTheTool)
{
    const std::wstring command = BuildRegistrationCommand(L"", kRegisterSwitch, L"\\itcc.dll");
    EXPECT_EQ(command, L"\"\\regsvr32.exe\" /s \"\\itcc.dll\"");
    EXPECT_EQ(std::count(command.begin(), command.end(), L'"'), 4);
}

} // namespace
