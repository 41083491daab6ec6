#include "registration/registration_passes.h"

#include "registration/command_runner.h"

#include "platform/os_calls.h"
#include "platform/unique_handle.h"
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

bool StartsWith(const std::wstring& text, std::wstring_view start)
{
    return text.compare(0, start.size(), start) == 0;
}

// The records whatever the tool made of the DLL: exit codes masked, and the
// explanations of why the DLL won't load or register (tested on their own
// below) left out, since these tests point the tool at DLLs that don't exist.
Messages WithoutExitCodes(const Messages& messages)
{
    Messages fixed;
    for (const std::wstring& message : messages) {
        if (StartsWith(message, L"QL Custom Action: the DLL is missing: ") ||
            StartsWith(message, L"QL Custom Action: the DLL is built for ") ||
            StartsWith(message, L"QL Custom Action: the registration tool's exit code ")) {
            continue;
        }
        fixed.push_back(StartsWith(message, L"QL Custom Action: commandline exit code: ")
                            ? L"QL Custom Action: commandline exit code: ?"
                            : message);
    }
    return fixed;
}

Messages Join(std::initializer_list<Messages> parts)
{
    Messages all;
    for (const Messages& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// A folder the driver accepted.
InstallDir Dir(const std::wstring& folder)
{
    const std::optional<InstallDir> accepted = InstallDir::Accept(folder);
    EXPECT_TRUE(accepted.has_value()) << "a folder the driver would refuse: " << folder.size() << " characters";
    return accepted.value_or(InstallDir());
}

Messages InstallDirPass(const wchar_t* installDir)
{
    LogCapture capture(L"passes");
    installDirRegisterDlls(capture.Log(), Dir(installDir));
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
    {
        LogCapture capture(L"passes");
        EXPECT_EQ(installDirRegisterDlls(capture.Log(), Dir(L"")), 1u);
    }
    EXPECT_EQ(InstallDirPass(L""), (Messages{L"QL Custom Action:  In installDirRegisterDlls function",
                                             L"QL Custom Action: could not convert installation directory into unicode"}));
}

// A cut path would name some other folder: the passes never get one that
// doesn't fit MAX_PATH, terminator included.
TEST(InstallDir, DirectoryThatDoesNotFitIsRefused)
{
    const std::wstring longest = L"C:\\" + std::wstring(256, L'a');
    ASSERT_EQ(longest.size(), 259u);
    EXPECT_EQ(InstallDir::Accept(longest).value_or(InstallDir()).Text(), longest);
    EXPECT_FALSE(InstallDir::Accept(longest + L"a").has_value());
}

TEST(UnRegisterDlls, UnregistersTheInstallDirComponent)
{
    LogCapture capture(L"passes");
    UnRegisterDlls(capture.Log(), Dir(L"D:\\Apps\\"));
    EXPECT_EQ(WithoutExitCodes(capture.Messages()),
              Join({{L"QL Custom Action:  In UnRegisterDlls function"},
                    CommandRecords(Tool() + L" /s /u \"D:\\Apps\\Wrenfold\\Vantabox.dll\""),
                    {L"QL Custom Action: UnRegisterDlls ended"}}));
}

TEST(UnRegisterDlls, EmptyDirectoryRunsNoCommand)
{
    LogCapture capture(L"passes");
    UnRegisterDlls(capture.Log(), Dir(L""));
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
        // Each DLL without its command counts as not registered.
        EXPECT_EQ(RegisterDlls(capture.Log()), 1u);
        EXPECT_EQ(UnRegisterDlls(capture.Log(), Dir(L"C:\\Apps")), 1u);
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
        EXPECT_EQ(installDirRegisterDlls(capture.Log(), Dir(folder)), 1u);
        EXPECT_EQ(UnRegisterDlls(capture.Log(), Dir(folder)), 1u);
        EXPECT_EQ(capture.Messages(), (Messages{L"QL Custom Action:  In installDirRegisterDlls function",
                                                L"QL Custom Action: converted INSTALLDIR into TCHAR", refused,
                                                L"QL Custom Action: installDirRegisterDlls ended",
                                                L"QL Custom Action:  In UnRegisterDlls function", refused,
                                                L"QL Custom Action: UnRegisterDlls ended"}));
    }
}

// The registration tool for real, with a component of our own. Tool and
// component have one machine type, so their registration lies in that view
// of the registry, whichever architecture this test is: the 32-bit one, but
// the 64-bit one under the stand-in.
const wchar_t kVantaboxClass[] = L"{5B0C1E2A-7D43-4C8B-9E61-2F3A4B5C6D02}";

REGSAM ToolsRegistryView()
{
    return RegistrationToolStandsIn() ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
}

std::wstring RegisteredServer()
{
    HKEY server = nullptr;
    const std::wstring key = std::wstring(L"CLSID\\") + kVantaboxClass + L"\\InprocServer32";
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_QUERY_VALUE | ToolsRegistryView(), &server) !=
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

// In both views: a DLL of the other machine type is registered by the
// other tool, in the other view.
void ForgetVantabox()
{
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY classes = nullptr;
        if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"CLSID", 0, KEY_ALL_ACCESS | view, &classes) == ERROR_SUCCESS) {
            RegDeleteTreeW(classes, kVantaboxClass);
            RegCloseKey(classes);
        }
    }
}

void LayDown(const std::wstring& folder, const wchar_t* component)
{
    CreateFolders(folder + L"\\Wrenfold");
    ASSERT_TRUE(CopyFileW((ComponentFolder() + L"\\" + component).c_str(),
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
        installDirRegisterDlls(capture.Log(), Dir(folder));
        EXPECT_EQ(RegisteredServer(), folder + L"\\Wrenfold\\Vantabox.dll");
    }
    ForgetVantabox();
}

// Beside the tool's bare exit code, the log says what kept each DLL from
// registering: what the file shows before the command, what the code means
// after it.
TEST(InstallDirRegisterDlls, ExplainsWhyADllDidNotRegister)
{
    // What lies where the DLL belongs: nothing, a text file, a fixture that
    // someone holds open without sharing it, or a fixture.
    const wchar_t* const kNothing = L"";
    const wchar_t* const kText = L"text";
    const wchar_t* const kHeld = L"held";
    const wchar_t* const kOtherMachine = L"Vantabox64.dll";
    struct Case {
        const wchar_t* laidDown;
        const wchar_t* found;    // what the check before the command says of the file, if anything
        int exitCode;            // 0: any code, explained when it isn't 0
        const wchar_t* meaning;  // part of what the exit code is said to mean
    };
    const Case cases[] = {
        {kNothing, L"the DLL is missing: ", 3, L"could not be loaded"},
        {kText, L"the file is not a Windows DLL: ", 3, L"could not be loaded"},
        {kHeld, L"the DLL could not be read to check it, error 32: ", 3, L"could not be loaded"},
        // The 32-bit tool hands a 64-bit DLL to its 64-bit twin where there
        // is one, which registers it in the 64-bit view or fails as it may.
        {kOtherMachine,
         L"the DLL is built for x64 (machine type 0x8664), which the 32-bit registration tool cannot load: ", 0,
         L""},
        {L"NoEntryPoint.dll", nullptr, 4, L"no registration entry point"},
        {L"RefusesRegistration.dll", nullptr, 5, L"registration function failed"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.laidDown);
        if (test.laidDown == kOtherMachine && RegistrationToolStandsIn()) {
            continue; // its DLL of the other machine type would be 32-bit, which the stand-in can't take
        }
        const std::wstring folder = MakeScratchFolder(L"explained");
        const std::wstring dll = folder + L"\\Wrenfold\\Vantabox.dll";
        if (test.laidDown == kText) {
            CreateFolders(folder + L"\\Wrenfold");
            WriteBytes(dll, "{ \"not\": \"a DLL\" }\r\n");
        } else if (test.laidDown == kHeld) {
            LayDown(folder, L"Vantabox.dll");
        } else if (test.laidDown != kNothing) {
            LayDown(folder, test.laidDown);
        }
        LogCapture capture(L"passes");
        unsigned failed = 0;
        {
            // As a scanner that shares the file with nobody would hold it.
            const UniqueHandle holder(
                test.laidDown == kHeld ? CreateFileW(dll.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                       : nullptr);
            failed = installDirRegisterDlls(capture.Log(), Dir(folder));
        }
        const Messages messages = capture.Messages();
        ASSERT_GE(messages.size(), 7u);
        const Messages notes = test.found != nullptr
                                   ? Messages{std::wstring(L"QL Custom Action: ") + test.found + dll}
                                   : MachineTypeNotes(dll);
        std::size_t next = 4;
        for (const std::wstring& note : notes) {
            ASSERT_LT(next, messages.size());
            EXPECT_EQ(messages[next++], note);
        }
        ASSERT_LT(next + 1, messages.size());
        const std::wstring& exitRecord = messages[next];
        ASSERT_TRUE(StartsWith(exitRecord, L"QL Custom Action: commandline exit code: ")) << exitRecord;
        const std::wstring code = exitRecord.substr(exitRecord.rfind(L' ') + 1);
        if (test.exitCode != 0) {
            EXPECT_EQ(code, std::to_wstring(test.exitCode));
        }
        EXPECT_EQ(messages[next + 1], L"ZT Custom Action: commandline output");
        // An exit code of 0 is a success, which nothing needs to explain
        // and the pass does not count as failed.
        const bool explained = code != L"0";
        EXPECT_EQ(failed, explained ? 1u : 0u);
        ASSERT_EQ(messages.size(), next + (explained ? 4 : 3));
        if (explained) {
            const std::wstring& meaning = messages[next + 2];
            EXPECT_TRUE(StartsWith(meaning, L"QL Custom Action: the registration tool's exit code " + code + L" means: "))
                << meaning;
            EXPECT_NE(meaning.find(test.meaning), std::wstring::npos) << meaning;
        }
        EXPECT_EQ(messages.back(), L"QL Custom Action: installDirRegisterDlls ended");
        ForgetVantabox();
    }
}

BOOL WINAPI ExitCodeUnreadable(HANDLE, LPDWORD)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// The -1 logged when the tool's exit code can't be read is no code of the
// tool's, so nothing may be said of what it means.
TEST(InstallDirRegisterDlls, ExitCodeThatCouldNotBeReadIsNotExplained)
{
    const std::wstring folder = MakeScratchFolder(L"unread-exit-code");
    LogCapture capture(L"passes");
    {
        ScopedOsOverride os;
        os->getExitCodeProcess = ExitCodeUnreadable;
        installDirRegisterDlls(capture.Log(), Dir(folder));
    }
    const Messages messages = capture.Messages();
    ASSERT_EQ(messages.size(), 8u);
    EXPECT_EQ(messages[5], L"QL Custom Action: commandline exit code: -1");
    EXPECT_EQ(messages[6], L"ZT Custom Action: commandline output");
    EXPECT_EQ(messages[7], L"QL Custom Action: installDirRegisterDlls ended");
}

// Stands still until the stalled registration's grandchild runs, then jumps
// past the limit, so the limit is reached exactly when there is a whole
// family of processes to end.
const wchar_t kGrandchild[] = L"ql-stalled-registration-grandchild";

ULONGLONG WINAPI ClockPastTheLimitOnceTheGrandchildRuns()
{
    return NamedEventExists(kGrandchild) ? kChildTimeLimitMs : 0;
}

// The records of an installation-directory pass whose one command ran past
// the limit and was ended, after the command's own two.
void ExpectEndedAtTheLimit(const Messages& messages, const std::wstring& folder)
{
    const Messages notes = MachineTypeNotes(folder + L"\\Wrenfold\\Vantabox.dll");
    ASSERT_EQ(messages.size(), 6u + notes.size());
    EXPECT_EQ(Messages(messages.begin() + 4, messages.end()),
              Join({notes,
                    {L"QL Custom Action: the command did not end within 5 minutes and was ended",
                     L"QL Custom Action: installDirRegisterDlls ended"}}));
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
        installDirRegisterDlls(capture.Log(), Dir(folder));
    }
    EXPECT_TRUE(EndsWithin(kGrandchild, 20000));
    ExpectEndedAtTheLimit(capture.Messages(), folder);
}

// Stands still for the first readings, then races a minute a reading: the
// five-minute limit arrives a handful of readings later, however the runner
// spends them.
ULONGLONG WINAPI ClockThatRacesAMinuteAReading()
{
    constexpr ULONGLONG kStill = 20;
    static ULONGLONG readings = 0;
    ++readings;
    return readings < kStill ? 0 : (readings - kStill) * 60 * 1000;
}

// Registration code that writes to its output without pause, faster than
// the runner reads, must not keep the runner emptying the pipe past the
// limit.
TEST(InstallDirRegisterDlls, RegistrationThatNeverStopsWritingIsEndedAtTheLimit)
{
    const std::wstring folder = MakeScratchFolder(L"chatters");
    LayDown(folder, L"Chatters.dll");
    LogCapture capture(L"passes");
    const ULONGLONG start = GetTickCount64();
    {
        ScopedOsOverride os;
        os->getTickCount64 = ClockThatRacesAMinuteAReading;
        PretendThePipeNeverEmpties(Os(), 20000);
        installDirRegisterDlls(capture.Log(), Dir(folder));
    }
    // Emptying the pipe past the limit would take the 20 seconds of output.
    EXPECT_LT(GetTickCount64() - start, 12000u);
    ExpectEndedAtTheLimit(capture.Messages(), folder);
}

} // namespace
