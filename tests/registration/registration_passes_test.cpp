#include "registration/registration_passes.h"

#include "platform/os_calls.h"
#include "support/log_capture.h"

#include <shlobj.h>

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

using Messages = std::vector<std::wstring>;

std::wstring SystemX86()
{
    return SpecialFolder(CSIDL_SYSTEMX86);
}

std::wstring Tool()
{
    return L"\"" + SystemX86() + L"\\regsvr32.exe\"";
}

// The records of one command, whatever the tool's exit code was.
Messages CommandRecords(const std::wstring& command)
{
    return {L"QL Custom Action: Executing Following command Line:", command,
            L"QL Custom Action: commandline exit code: ?", L"ZT Custom Action: commandline output"};
}

Messages WithoutExitCodes(Messages messages)
{
    for (std::wstring& message : messages) {
        if (message.rfind(L"QL Custom Action: commandline exit code: ", 0) == 0) {
            message = L"QL Custom Action: commandline exit code: ?";
        }
    }
    return messages;
}

Messages Join(std::initializer_list<Messages> parts)
{
    Messages all;
    for (const Messages& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Messages InstallDirPass(const wchar_t* installDir)
{
    LogCapture capture(L"passes");
    installDirRegisterDlls(capture.Log(), installDir);
    return WithoutExitCodes(capture.Messages());
}

TEST(RegisterDlls, RegistersFromThe32BitSystemFolder)
{
    LogCapture capture(L"passes");
    RegisterDlls(capture.Log());
    EXPECT_EQ(WithoutExitCodes(capture.Messages()),
              Join({{L"QL Custom Action:  In RegisterDlls function"},
                    CommandRecords(Tool() + L" /s \"" + SystemX86() + L"\\itcc.dll\""),
                    {L"QL Custom Action: RegisterDlls ended"}}));
}

TEST(InstallDirRegisterDlls, TrailingBackslashesAndDriveRoots)
{
    const Messages opening = {L"QL Custom Action:  In installDirRegisterDlls function",
                              L"QL Custom Action: converted INSTALLDIR into TCHAR"};
    const std::wstring ended = L"QL Custom Action: installDirRegisterDlls ended";
    const auto expected = [&](const std::wstring& dll) {
        return Join({opening, CommandRecords(Tool() + L" /s \"" + dll + L"\""), {ended}});
    };
    EXPECT_EQ(InstallDirPass(L"D:\\My Apps"), expected(L"D:\\My Apps\\Wrenfold\\Vantabox.dll"));
    EXPECT_EQ(InstallDirPass(L"D:\\My Apps\\"), expected(L"D:\\My Apps\\Wrenfold\\Vantabox.dll"));
    EXPECT_EQ(InstallDirPass(L"D:\\Apps\\\\"), expected(L"D:\\Apps\\\\Wrenfold\\Vantabox.dll"));
    EXPECT_EQ(InstallDirPass(L"D:\\"), expected(L"D:\\\\Wrenfold\\Vantabox.dll"));
}

TEST(InstallDirRegisterDlls, LogsTheCommandAsUtf8BytesButRunsItAsText)
{
    const Messages messages = InstallDirPass(L"D:\\Caf\x00E9");
    ASSERT_EQ(messages.size(), 7u);
    EXPECT_EQ(messages[3], Tool() + L" /s \"D:\\Caf\x00C3\x00A9\\Wrenfold\\Vantabox.dll\"");
}

TEST(InstallDirRegisterDlls, EmptyDirectoryRunsNoCommand)
{
    EXPECT_EQ(InstallDirPass(L""), (Messages{L"QL Custom Action:  In installDirRegisterDlls function",
                                             L"QL Custom Action: could not convert installation directory into unicode"}));
}

TEST(InstallDirRegisterDlls, DirectoryThatDoesNotFitIsRefused)
{
    const std::wstring tooLong = L"C:\\" + std::wstring(257, L'a');
    EXPECT_EQ(InstallDirPass(tooLong.c_str()),
              (Messages{L"QL Custom Action:  In installDirRegisterDlls function",
                        L"QL Custom Action: converted installation directory is too long, no command run"}));
}

TEST(UnRegisterDlls, UnregistersTheInstallDirComponent)
{
    LogCapture capture(L"passes");
    UnRegisterDlls(capture.Log(), L"D:\\Apps\\");
    EXPECT_EQ(WithoutExitCodes(capture.Messages()),
              Join({{L"QL Custom Action:  In UnRegisterDlls function"},
                    CommandRecords(Tool() + L" /s /u \"D:\\Apps\\Wrenfold\\Vantabox.dll\""),
                    {L"QL Custom Action: UnRegisterDlls ended"}}));
}

TEST(UnRegisterDlls, EmptyDirectoryRunsNoCommand)
{
    LogCapture capture(L"passes");
    UnRegisterDlls(capture.Log(), L"");
    EXPECT_EQ(capture.Messages(), (Messages{L"QL Custom Action:  In UnRegisterDlls function",
                                            L"QL Custom Action: could not convert installation directory into unicode"}));
}

BOOL WINAPI FailFolder(HWND, LPWSTR buffer, int, BOOL)
{
    wcscpy(buffer, L"garbage left by a failed call\\");
    return FALSE;
}

TEST(RegistrationPasses, UnfetchableSystemFolderLeavesAnEmptyFolderAndGoesOn)
{
    LogCapture capture(L"passes");
    {
        ScopedOsOverride os;
        os->getSpecialFolderPath = FailFolder;
        RegisterDlls(capture.Log());
        UnRegisterDlls(capture.Log(), L"C:\\Apps");
    }
    EXPECT_EQ(capture.Messages(),
              (Messages{L"QL Custom Action:  In RegisterDlls function",
                        L"QL Custom Action: Unable to Fetch system32 folder",
                        L"QL Custom Action: Executing Following command Line:",
                        L"\"\\regsvr32.exe\" /s \"\\itcc.dll\"",
                        L"QL Custom Action: Error could not create new Process",
                        L"QL Custom Action: RegisterDlls ended",
                        L"QL Custom Action:  In UnRegisterDlls function",
                        L"QL Custom Action: Unable to Fetch system32 folder",
                        L"QL Custom Action: Executing Following command Line:",
                        L"\"\\regsvr32.exe\" /s /u \"C:\\Apps\\Wrenfold\\Vantabox.dll\"",
                        L"QL Custom Action: Error could not create new Process",
                        L"QL Custom Action: UnRegisterDlls ended"}));
}

} // namespace
