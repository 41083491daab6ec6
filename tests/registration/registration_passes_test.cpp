#include "registration/registration_passes.h"

#include "registration/command_runner.h"

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

TEST(RegistrationPasses, UnfetchableSystemFolderRunsNoToolFromTheCurrentDrive)
{
    LogCapture capture(L"passes");
    {
        ScopedOsOverride os;
        os->getSpecialFolderPath = FailFolder;
        RegisterDlls(capture.Log());
        UnRegisterDlls(capture.Log(), L"C:\\Apps");
    }
    EXPECT_EQ(capture.Messages(), (Messages{L"QL Custom Action:  In RegisterDlls function",
                                            L"QL Custom Action: Unable to Fetch system32 folder",
                                            L"QL Custom Action: no command run, the system folder is unknown",
                                            L"QL Custom Action: RegisterDlls ended",
                                            L"QL Custom Action:  In UnRegisterDlls function",
                                            L"QL Custom Action: Unable to Fetch system32 folder",
                                            L"QL Custom Action: no command run, the system folder is unknown",
                                            L"QL Custom Action: UnRegisterDlls ended"}));
}

TEST(RegistrationPasses, DirectoryThatCantBeAFolderRunsNoCommand)
{
    for (const std::wstring folder : {L"C:\\Apps\" /u \"C:\\Other", L"Apps"}) {
        const std::wstring refused =
            L"QL Custom Action: installation directory is not a usable folder name, no command run: " + folder;
        EXPECT_EQ(InstallDirPass(folder.c_str()),
                  (Messages{L"QL Custom Action:  In installDirRegisterDlls function",
                            L"QL Custom Action: converted INSTALLDIR into TCHAR", refused,
                            L"QL Custom Action: installDirRegisterDlls ended"}));
        LogCapture capture(L"passes");
        UnRegisterDlls(capture.Log(), folder.c_str());
        EXPECT_EQ(capture.Messages(), (Messages{L"QL Custom Action:  In UnRegisterDlls function", refused,
                                                L"QL Custom Action: UnRegisterDlls ended"}));
    }
}

// The registration tool for real, with a component of our own. Tool and
// component are 32-bit, so their registration lies in the 32-bit view of
// the registry, whichever architecture this test is.
const wchar_t kVantaboxClass[] = L"{5B0C1E2A-7D43-4C8B-9E61-2F3A4B5C6D02}";

std::wstring RegisteredServer()
{
    HKEY server = nullptr;
    const std::wstring key = std::wstring(L"CLSID\\") + kVantaboxClass + L"\\InprocServer32";
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &server) !=
        ERROR_SUCCESS) {
        return L"(not registered)";
    }
    wchar_t path[MAX_PATH] = {};
    DWORD size = sizeof path;
    const LSTATUS status =
        RegQueryValueExW(server, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(path), &size);
    RegCloseKey(server);
    return status == ERROR_SUCCESS ? path : L"(not registered)";
}

void ForgetVantabox()
{
    HKEY classes = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &classes) == ERROR_SUCCESS) {
        RegDeleteTreeW(classes, kVantaboxClass);
        RegCloseKey(classes);
    }
}

void LayDown(const std::wstring& folder, const wchar_t* component)
{
    CreateFolders(folder + L"\\Wrenfold");
    ASSERT_TRUE(CopyFileW((TestBinaryFolder() + L"\\" + component).c_str(),
                          (folder + L"\\Wrenfold\\Vantabox.dll").c_str(), FALSE));
}

TEST(InstallDirRegisterDlls, RegistersTheDirectoryAsGivenNeverALookAlike)
{
    const std::wstring base = MakeScratchFolder(L"as-given");
    // The ANSI code page lacks all of these; a best-fit mapping turns the
    // full-width X into the X of the twin folder beside it.
    const std::wstring greekAndCjk = base + L"\\\x03A9\x03BC\x03AD\x03B3\x03B1 \x4E2D\x6587";
    const std::wstring fullWidth = base + L"\\\xFF38pps";
    LayDown(base + L"\\Xpps", L"Vantabox.dll");
    for (const std::wstring& folder : {greekAndCjk, fullWidth}) {
        LayDown(folder, L"Vantabox.dll");
        ForgetVantabox();
        LogCapture capture(L"passes");
        installDirRegisterDlls(capture.Log(), folder.c_str());
        EXPECT_EQ(RegisteredServer(), folder + L"\\Wrenfold\\Vantabox.dll");
    }
    ForgetVantabox();
}

// Stands still until the stalled registration's grandchild runs, then jumps
// past the limit, so the limit is reached exactly when there is a whole
// family of processes to end.
const wchar_t kGrandchild[] = L"ql-stalled-registration-grandchild";

ULONGLONG WINAPI ClockPastTheLimitOnceTheGrandchildRuns()
{
    return NamedEventExists(kGrandchild) ? kChildTimeLimitMs : 0;
}

TEST(InstallDirRegisterDlls, StalledRegistrationIsEndedWithEverythingItStarted)
{
    const std::wstring folder = MakeScratchFolder(L"stalls");
    LayDown(folder, L"Stalls.dll");
    ASSERT_TRUE(CopyFileW((TestBinaryFolder() + L"\\fake_tool.exe").c_str(),
                          (folder + L"\\Wrenfold\\fake_tool.exe").c_str(), FALSE));
    LogCapture capture(L"passes");
    {
        ScopedOsOverride os;
        os->getTickCount64 = ClockPastTheLimitOnceTheGrandchildRuns;
        installDirRegisterDlls(capture.Log(), folder.c_str());
    }
    EXPECT_TRUE(EndsWithin(kGrandchild, 5000));
    const Messages messages = capture.Messages();
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[4], L"QL Custom Action: the command did not end within 5 minutes and was ended");
    EXPECT_EQ(messages[5], L"QL Custom Action: installDirRegisterDlls ended");
}

} // namespace
