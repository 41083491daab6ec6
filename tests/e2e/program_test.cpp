// Runs the built program as an installation framework would: through
// CreateProcessW with an exact command line, in this build's Wine prefix,
// with the real registration tool and two COM components of our own.
#include "e2e/machine_condition.h"
#include "seeding/recent_projects_rewrite.h"
#include "support/test_support.h"
#include "platform/conversion.h"
#include "text/narrow_text.h"

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using namespace testing_support;

namespace {

const wchar_t kMutexName[] = L"QL_Postlude-{864f1458-2c1d-4074-afbb-7034b3805d2d}";
const wchar_t kSystemClass[] = L"{5B0C1E2A-7D43-4C8B-9E61-2F3A4B5C6D01}";
const wchar_t kInstallDirClass[] = L"{5B0C1E2A-7D43-4C8B-9E61-2F3A4B5C6D02}";
const wchar_t kUsage[] =
    L"Valid Option not provided, usage : Postlude_WB_QL_install.exe install / uninstall \"C:\\Program Files\"";
const wchar_t kFirstRelative[] =
    L"/My Quillora Projects/Corvane Quillora/Samples/Quillora Reimagined/Quillora_Reimagined.qlpj";
const wchar_t kSecondRelative[] = L"/My Quillora Projects/Corvane Quillora/Samples/Brew a Mocha/Brew_a_Mocha.qlpj";

bool IsRegistered(const wchar_t* clsid)
{
    const ProcessResult probe =
        RunProcess(L"\"" + ComponentFolder() + L"\\com_probe.exe\" " + clsid);
    EXPECT_TRUE(probe.started);
    return probe.exitCode == 0;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(ProgramPath().empty()) << "QL_PROGRAM must name the program under test";
        if (condition_.CodePage() != 0) {
            ASSERT_EQ(GetACP(), condition_.CodePage()) << "the code page did not change";
        }
        if (condition_.TempFolder().empty()) {
            temp_ = MakeScratchFolder(L"e2e-temp");
        } else {
            temp_ = condition_.TempFolder() + L"\\e2e";
            RemoveTree(temp_);
            CreateFolders(temp_);
        }
        installDir_ = MakeScratchFolder(condition_.InstallFolderName());
        log_ = temp_ + L"\\QLPostlude.log";
        systemX86_ = SpecialFolder(CSIDL_SYSTEMX86);
        appData_ = SpecialFolder(CSIDL_APPDATA);
        documents_ = SpecialFolder(CSIDL_PERSONAL);
        recentProjects_ = appData_ + L"\\Corvane\\Quillora\\recent_projects.json";
        RemoveTree(appData_ + L"\\Corvane");
        CreateFolders(appData_ + L"\\Corvane\\Quillora");
        ASSERT_TRUE(CopyFileW((ComponentFolder() + L"\\itcc.dll").c_str(), (systemX86_ + L"\\itcc.dll").c_str(),
                              FALSE));
        LayDownProduct(installDir_);
        UnregisterComponents();
    }
    // Every test starts and ends with nothing registered, so that no test
    // (nor the installer tests after them in the same prefix) sees another's
    // registrations.
    void TearDown() override
    {
        CollectRecords(log_);
        UnregisterComponents();
        RemoveTree(appData_ + L"\\Corvane");
    }

    void UnregisterComponents() const
    {
        RunProcess(L"\"" + systemX86_ + L"\\regsvr32.exe\" /s /u \"" + systemX86_ + L"\\itcc.dll\"");
        RunProcess(L"\"" + systemX86_ + L"\\regsvr32.exe\" /s /u \"" + installDir_ + L"\\Wrenfold\\Vantabox.dll\"");
    }

    static void LayDownProduct(const std::wstring& installDir)
    {
        CreateFolders(installDir + L"\\Wrenfold");
        ASSERT_TRUE(CopyFileW((ComponentFolder() + L"\\Vantabox.dll").c_str(),
                              (installDir + L"\\Wrenfold\\Vantabox.dll").c_str(), FALSE));
    }

    // Runs the program with `arguments` as everything after its quoted name.
    std::int32_t Run(const std::wstring& arguments)
    {
        const ProcessResult result = RunProcess(CommandLine(arguments), TempFolder());
        EXPECT_TRUE(result.started) << "error " << result.startError;
        return result.exitCode;
    }
    static std::wstring CommandLine(const std::wstring& arguments)
    {
        return L"\"" + ProgramPath() + L"\" " + arguments;
    }
    Environment TempFolder() const { return {{L"TEMP", temp_}, {L"TMP", temp_}}; }
    std::wstring PostInstallArguments() const { return L"-Post_install 1 -installDir \"" + installDir_ + L"\""; }
    std::string FirstSample() const { return ConvertToUtf8(Slashed(documents_) + kFirstRelative); }
    std::string SecondSample() const { return ConvertToUtf8(Slashed(documents_) + kSecondRelative); }

    std::wstring Log() const { return MaskTimestamps(DecodeUtf16(ReadBytes(log_))); }

    std::wstring Tool() const { return L"\"" + systemX86_ + L"\\regsvr32.exe\""; }

    // A narrow record as the log shows it: each UTF-8 byte as one character.
    static std::wstring Logged(const std::wstring& text) { return WidenBytes(ConvertToUtf8(text)); }

    // The records of a registration command that works: `switches` (/s or
    // /s /u) and `dll` as the program passes them to the tool.
    std::vector<std::wstring> Command(const std::wstring& switches, const std::wstring& dll) const
    {
        std::vector<std::wstring> records = {L"QL Custom Action: Executing Following command Line:",
                                             Logged(Tool() + L" " + switches + L" \"" + dll + L"\"")};
        Append(records, MachineTypeNotes(dll));
        Append(records, {L"QL Custom Action: commandline exit code: 0", L"ZT Custom Action: commandline output"});
        return records;
    }

    std::vector<std::wstring> PostInstallRecords(const std::wstring& installDir, const std::wstring& dllFolder) const
    {
        std::vector<std::wstring> records = {L"Running Postlude on Post payload install.",
                                             L" Start PostPayloadinstallPostlude"};
        Append(records, RightsRecordsOfThisToken());
        records.emplace_back(L"QL Custom Action:  In RegisterDlls function");
        Append(records, Command(L"/s", systemX86_ + L"\\itcc.dll"));
        Append(records, {L"QL Custom Action: RegisterDlls ended",
                         L"QL Custom Action:  In installDirRegisterDlls function"});
        if (installDir.empty()) {
            records.emplace_back(L"QL Custom Action: could not convert installation directory into unicode");
        } else {
            records.emplace_back(L"QL Custom Action: converted INSTALLDIR into TCHAR");
            Append(records, Command(L"/s", dllFolder + L"\\Wrenfold\\Vantabox.dll"));
            records.emplace_back(L"QL Custom Action: installDirRegisterDlls ended");
        }
        Append(records, {L"QL Custom Action:  In UpdateAppDataFile function", Logged(appData_),
                         Logged(Slashed(documents_) + kFirstRelative), Logged(Slashed(documents_) + kSecondRelative),
                         L"QL Custom Action: UpdateAppDataFile ended", L"End PostPayloadinstallPostlude"});
        return records;
    }

    // The recent-projects file kept its bytes, nothing is left beside it, and
    // the log says why.
    void ExpectLeftAsItWas(const std::string& original, const wchar_t* why) const
    {
        EXPECT_EQ(ReadBytes(recentProjects_), original);
        EXPECT_EQ(FolderEntries(appData_ + L"\\Corvane\\Quillora"), std::vector<std::wstring>{L"recent_projects.json"});
        const std::vector<std::wstring> messages = LogMessages(log_);
        EXPECT_NE(std::find(messages.begin(), messages.end(), why), messages.end()) << why;
    }

    // A post-install pass in the host that counts the platform calls and
    // does `mode` at call number `call` (see tests/fixtures/seam_host.cpp).
    ProcessResult RunHostedPass(const wchar_t* mode, unsigned call) const
    {
        return RunHosted(mode + (L" " + std::to_wstring(call)));
    }
    // A post-install pass in the host, ended as a crash would right after
    // the seam entry `entry` succeeded on the rewrite's temporary file.
    ProcessResult RunPassEndedAfter(const wchar_t* entry) const
    {
        return RunHosted(std::wstring(L"crash-after ") + entry + L" .QLPostlude.tmp");
    }
    // A post-install pass in the host, told what to do by `modeWords`.
    ProcessResult RunHosted(const std::wstring& modeWords) const
    {
        return RunProcess(L"\"" + TestBinaryFolder() + L"\\seam_host.exe\" " + modeWords + L" " +
                              PostInstallArguments(),
                          TempFolder());
    }

    static void Append(std::vector<std::wstring>& to, const std::vector<std::wstring>& more)
    {
        to.insert(to.end(), more.begin(), more.end());
    }

    static std::wstring RunLog(const std::wstring& installDir, const std::wstring& passRecords,
                               const std::wstring& commandLine)
    {
        return Lines({L"Start Postlude.", L"InstallDir is " + installDir}) + passRecords +
               Lines({L"InstallDir is " + installDir, L"Commandline passed is " + commandLine});
    }

    MachineCondition condition_;
    std::wstring temp_;
    std::wstring installDir_;
    std::wstring log_;
    std::wstring systemX86_;
    std::wstring appData_;
    std::wstring documents_;
    std::wstring recentProjects_;
};

TEST_F(ProgramTest, PostInstallRegistersBothComponentsAndSeedsRecentProjects)
{
    WriteBytes(recentProjects_, "[\n  \"QLPJ1\",\n  \"QLPJ2\"\n]\n");
    const std::wstring arguments = L"-Post_install 1 -installDir \"" + installDir_ + L"\"";
    EXPECT_EQ(Run(arguments), 0);
    EXPECT_EQ(Log(), L"\xFEFF" + RunLog(installDir_, Lines(PostInstallRecords(installDir_, installDir_)), arguments));

    EXPECT_EQ(ReadBytes(recentProjects_), "[\r\n  \"" + FirstSample() + "\",\r\n  \"" + SecondSample() + "\"\r\n]\r\n");
    // Nothing is left in either folder but the log and the file.
    EXPECT_EQ(FolderEntries(temp_), std::vector<std::wstring>{L"QLPostlude.log"});
    EXPECT_EQ(FolderEntries(appData_ + L"\\Corvane\\Quillora"), std::vector<std::wstring>{L"recent_projects.json"});
    EXPECT_TRUE(IsRegistered(kSystemClass));
    EXPECT_TRUE(IsRegistered(kInstallDirClass));
}

TEST_F(ProgramTest, UninstallUnregistersOnlyTheInstallDirComponent)
{
    WriteBytes(recentProjects_, "QLPJ1\r\n");
    ASSERT_EQ(Run(L"-Post_install 1 -installDir \"" + installDir_ + L"\""), 0);
    ASSERT_TRUE(IsRegistered(kInstallDirClass));
    DeleteFileW(log_.c_str());
    const std::string seeded = ReadBytes(recentProjects_);

    const std::wstring arguments = L"-uninstall 1 -installDir \"" + installDir_ + L"\\\\\"";
    EXPECT_EQ(Run(arguments), 0);
    std::vector<std::wstring> records = {L"Running Postlude on uninstall.", L"Start uninstallPostlude"};
    Append(records, RightsRecordsOfThisToken());
    records.emplace_back(L"QL Custom Action:  In UnRegisterDlls function");
    Append(records, Command(L"/s /u", installDir_ + L"\\Wrenfold\\Vantabox.dll"));
    Append(records, {L"QL Custom Action: UnRegisterDlls ended", L" End uninstallPostlude"});
    EXPECT_EQ(Log(), L"\xFEFF" + RunLog(installDir_ + L"\\", Lines(records), arguments));
    EXPECT_FALSE(IsRegistered(kInstallDirClass));
    EXPECT_TRUE(IsRegistered(kSystemClass));
    EXPECT_EQ(ReadBytes(recentProjects_), seeded);
}

// The installer decides the token the program runs with (an elevated custom
// action, or the user's limited token), and the pass's first records tell
// its author which one it got. Started with each of an administrator's two
// linked tokens, the pass must say the rights of the one it was given.
TEST_F(ProgramTest, RightsRecordsFollowTheTokenThePassIsStartedWith)
{
    const UniqueHandle linked = LinkedPrimaryToken();
    if (!linked.IsValid()) {
        // Every Wine gives a process a linked token it may start a program
        // with; without one here, the records of one of the two tokens would
        // go unseen.
        ASSERT_FALSE(RunsUnderWine()) << "Wine gave this process no linked token it may start a program with";
        GTEST_SKIP() << "this process has no linked token it may start a program with";
    }
    const bool administrator = ThisProcessIsElevated();
    ASSERT_NE(HoldsAdministratorRights(linked.Get()), administrator) << "one linked token is full, one limited";
    const HANDLE tokens[] = {nullptr, linked.Get()}; // this process's own, then the other
    for (const HANDLE token : tokens) {
        ASSERT_TRUE(DeleteFileW(log_.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND) << GetLastError();
        const ProcessResult result = RunProcess(CommandLine(L"-uninstall 1"), TempFolder(), 120000, false, token);
        ASSERT_TRUE(result.started) << "error " << result.startError;
        EXPECT_EQ(result.exitCode, 0);
        const std::vector<std::wstring> messages = LogMessages(log_);
        const auto start = std::find(messages.begin(), messages.end(), L"Start uninstallPostlude");
        const auto end = std::find(start, messages.end(), L"QL Custom Action:  In UnRegisterDlls function");
        ASSERT_NE(end, messages.end());
        const bool given = token == nullptr ? administrator : !administrator;
        EXPECT_EQ(std::vector<std::wstring>(start + 1, end), RightsRecordsFor(given)) << "administrator: " << given;
    }
}

TEST_F(ProgramTest, EmptyInstallDirRegistersOnlyTheSystemComponent)
{
    const std::wstring arguments = L"-Post_install 1";
    EXPECT_EQ(Run(arguments), 0);
    EXPECT_EQ(Log(), L"\xFEFF" + RunLog(L"", Lines(PostInstallRecords(L"", L"")), arguments));
    EXPECT_TRUE(IsRegistered(kSystemClass));
    EXPECT_FALSE(IsRegistered(kInstallDirClass));
}

TEST_F(ProgramTest, InstallDirWithBlanksAndTrailingBackslash)
{
    const std::wstring blanks = MakeScratchFolder(L"e2e install with blanks");
    LayDownProduct(blanks);
    const std::wstring arguments = L"-installDir " + blanks + L"\\ -Post_install x";
    // Unquoted, the split cuts the directory at its first blank.
    EXPECT_EQ(Run(arguments), 0);
    const std::wstring quoted = L"-installDir \"" + blanks + L"\\\\\" -Post_install x";
    DeleteFileW(log_.c_str());
    EXPECT_EQ(Run(quoted), 0);
    EXPECT_EQ(Log(), L"\xFEFF" + RunLog(blanks + L"\\", Lines(PostInstallRecords(blanks + L"\\", blanks)), quoted));
    EXPECT_TRUE(IsRegistered(kInstallDirClass));
}

TEST_F(ProgramTest, DriveRootKeepsItsBackslash)
{
    EXPECT_EQ(Run(L"-Post_install 1 -installDir Q:\\"), 0);
    const std::vector<std::wstring> messages = LogMessages(log_);
    const std::wstring command = Tool() + L" /s \"Q:\\\\Wrenfold\\Vantabox.dll\"";
    EXPECT_NE(std::find(messages.begin(), messages.end(), command), messages.end());
}

TEST_F(ProgramTest, EveryUsageCaseWritesTheUsageMessageAndExitsZero)
{
    struct Case {
        std::wstring arguments;
        std::wstring installDir;
    };
    const Case cases[] = {
        {L"-installDir D:\\Apps -uninstall", L"D:\\Apps"},
        {L"-installDir -Post_install", L"-Post_install"},
        {L"x -Post_install y z", L""},
        {L"-Post_install", L""},
        {L"-post_install x", L""},
        {L"Post_install x", L""},
        {L"uninstall x -installDir C:\\", L"C:\\"},
    };
    for (const Case& c : cases) {
        DeleteFileW(log_.c_str());
        EXPECT_EQ(Run(c.arguments), 0) << c.arguments.c_str();
        EXPECT_EQ(Log(), L"\xFEFF" + Lines({L"Start Postlude.", L"InstallDir is " + c.installDir}) + ErrorLine(kUsage) +
                             Lines({L"InstallDir is " + c.installDir, L"Commandline passed is " + c.arguments}))
            << c.arguments.c_str();
    }
}

TEST_F(ProgramTest, ValuesAreLoggedLiterally)
{
    const std::wstring arguments = L"-installDir C:\\%s%n%d%x -uninstall %s";
    EXPECT_EQ(Run(arguments), 0);
    const std::vector<std::wstring> messages = LogMessages(log_);
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[1], L"InstallDir is C:\\%s%n%d%x");
    EXPECT_EQ(messages.back(), L"Commandline passed is " + arguments);
}

TEST_F(ProgramTest, NoLoggedRunEndsWithMinusOneAndLeavesNoLog)
{
    EXPECT_EQ(Run(L""), -1);
    EXPECT_FALSE(FileExists(log_));

    HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutexName);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(Run(L"-Post_install 1"), -1);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    EXPECT_FALSE(FileExists(log_));

    {
        const UniqueHandle holder(CreateFileW(log_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(holder.IsValid());
        EXPECT_EQ(Run(L"-Post_install 1"), -1);
    }
    EXPECT_EQ(ReadBytes(log_), "");
    EXPECT_FALSE(IsRegistered(kSystemClass));
}

TEST_F(ProgramTest, SecondRunAppendsWithoutSecondByteOrderMark)
{
    EXPECT_EQ(Run(L"a b"), 0);
    EXPECT_EQ(Run(L"c d"), 0);
    const auto usageRun = [](const std::wstring& commandLine) {
        return RunLog(L"", ErrorLine(kUsage), commandLine);
    };
    EXPECT_EQ(Log(), L"\xFEFF" + usageRun(L"a b") + usageRun(L"c d"));
}

TEST_F(ProgramTest, OverlongInstallDirIsRefusedAndOverlongCommandLineShortened)
{
    const std::wstring longDir = L"C:\\" + std::wstring(300, L'd');
    const std::wstring arguments = L"-uninstall 1 -installDir " + longDir + L" -pad " + std::wstring(800, L'p');
    EXPECT_EQ(Run(arguments), 0);
    const std::vector<std::wstring> messages = LogMessages(log_);
    // The pass's rights records are one with an elevated token, two without.
    const std::size_t rights = RightsRecordsOfThisToken().size();
    ASSERT_EQ(messages.size(), 10u + rights);
    EXPECT_EQ(messages[1], L"InstallDir refused: it is 303 characters long, at most 259 are accepted");
    EXPECT_EQ(messages[2], L"InstallDir is ");
    EXPECT_EQ(messages[6 + rights], L"QL Custom Action: could not convert installation directory into unicode");
    EXPECT_EQ(messages.back().size(), 1023u);
    EXPECT_EQ(messages.back(), (L"Commandline passed is " + arguments).substr(0, 1020) + L"...");
}

// With -failOnError an installer learns that a registration failed: the
// product's component refuses to register (its DllRegisterServer fails).
TEST_F(ProgramTest, FailOnErrorEndsAFailedRegistrationWith1603ButNeverARemoval)
{
    const std::wstring dll = installDir_ + L"\\Wrenfold\\Vantabox.dll";
    ASSERT_TRUE(CopyFileW((ComponentFolder() + L"\\RefusesRegistration.dll").c_str(), dll.c_str(), FALSE));
    // Wine, on a busy machine, now and then refuses to start a process inside
    // its job (error 1359) and the runner falls back and says so: a record of
    // one run that the other need not have, left out of both.
    const auto withoutStartFallbacks = [](std::vector<std::wstring> messages) {
        messages.erase(std::remove_if(messages.begin(), messages.end(),
                                      [](const std::wstring& message) {
                                          return message.rfind(L"QL Custom Action: the process could not be "
                                                               L"started inside its job",
                                                               0) == 0;
                                      }),
                       messages.end());
        return messages;
    };
    EXPECT_EQ(Run(PostInstallArguments()), 0);
    const std::vector<std::wstring> without = withoutStartFallbacks(LogMessages(log_));
    DeleteFileW(log_.c_str());

    const std::wstring arguments = PostInstallArguments() + L" -failOnError 1";
    EXPECT_EQ(Run(arguments), 1603);
    // The records of a run without the option, then one more.
    std::vector<std::wstring> expected = without;
    expected.back() = L"Commandline passed is " + arguments;
    expected.emplace_back(L"QL Custom Action: 1 registration did not succeed, exit code 1603");
    EXPECT_EQ(withoutStartFallbacks(LogMessages(log_)), expected);

    // A removal is never failed, even when its unregistration fails.
    DeleteFileW(dll.c_str());
    EXPECT_EQ(Run(L"-uninstall 1 -failOnError 1 -installDir \"" + installDir_ + L"\""), 0);
    // Registrations that all work end the run with 0.
    LayDownProduct(installDir_);
    EXPECT_EQ(Run(arguments), 0);
    EXPECT_TRUE(IsRegistered(kInstallDirClass));
}

// A misspelt pass, or a post-install pass without its folder, does nothing
// an installer meant: with -failOnError the run fails and says what to pass;
// without it, the run is as it always was.
TEST_F(ProgramTest, FailOnErrorFailsARunThatDidNotDoWhatWasMeant)
{
    const std::wstring misspelt = L"-postinstall 1 -installDir \"" + installDir_ + L"\"";
    EXPECT_EQ(Run(misspelt), 0);
    EXPECT_EQ(LogMessages(log_).size(), 5u);
    DeleteFileW(log_.c_str());
    EXPECT_EQ(Run(misspelt + L" -failOnError 1"), 1603);
    EXPECT_EQ(LogMessages(log_).back(),
              L"QL Custom Action: no pass was run: the names given were -postinstall, -installDir, -failOnError, "
              L"and a pass is -Post_install 1 or -uninstall 1, exit code 1603");
    EXPECT_FALSE(IsRegistered(kInstallDirClass));
    DeleteFileW(log_.c_str());

    EXPECT_EQ(Run(L"-Post_install 1 -failOnError 1"), 1603);
    const std::vector<std::wstring> messages = LogMessages(log_);
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2],
              L"QL Custom Action: no usable installation folder was given: pass -installDir with the product's "
              L"folder, absolute, at most 259 characters");
    EXPECT_EQ(messages.back(), L"QL Custom Action: 1 registration did not succeed, exit code 1603");
}

// -postInstallPart splits the pass: the machine's half registers and
// leaves the user's file alone, the user's half seeds and registers
// nothing; a value the program doesn't know runs neither; the uninstall pass
// runs whole beside it.
TEST_F(ProgramTest, PostInstallPartRunsOneHalfAndSaysWhichOrNeither)
{
    const std::string tokens = "QLPJ1\n";
    WriteBytes(recentProjects_, tokens);
    const std::wstring machine = PostInstallArguments() + L" -postInstallPart machine -failOnError 1";
    EXPECT_EQ(Run(machine), 0);
    std::vector<std::wstring> records = {L"Running Postlude on Post payload install.",
                                         L" Start PostPayloadinstallPostlude",
                                         L"QL Custom Action: the machine's part of the post-install pass: the "
                                         L"registrations"};
    Append(records, RightsRecordsOfThisToken());
    records.emplace_back(L"QL Custom Action:  In RegisterDlls function");
    Append(records, Command(L"/s", systemX86_ + L"\\itcc.dll"));
    Append(records, {L"QL Custom Action: RegisterDlls ended", L"QL Custom Action:  In installDirRegisterDlls function",
                     L"QL Custom Action: converted INSTALLDIR into TCHAR"});
    Append(records, Command(L"/s", installDir_ + L"\\Wrenfold\\Vantabox.dll"));
    Append(records, {L"QL Custom Action: installDirRegisterDlls ended", L"End PostPayloadinstallPostlude"});
    EXPECT_EQ(Log(), L"\xFEFF" + RunLog(installDir_, Lines(records), machine));
    EXPECT_TRUE(IsRegistered(kInstallDirClass));
    EXPECT_EQ(ReadBytes(recentProjects_), tokens);

    UnregisterComponents();
    DeleteFileW(log_.c_str());
    // Without a folder, -failOnError fails only what has registrations.
    const std::wstring user = L"-Post_install 1 -postInstallPart user -failOnError 1";
    EXPECT_EQ(Run(user), 0);
    const std::vector<std::wstring> seeding = {
        L"Running Postlude on Post payload install.",
        L" Start PostPayloadinstallPostlude",
        L"QL Custom Action: the user's part of the post-install pass: the recent projects file",
        L"QL Custom Action:  In UpdateAppDataFile function",
        Logged(appData_),
        Logged(Slashed(documents_) + kFirstRelative),
        Logged(Slashed(documents_) + kSecondRelative),
        L"QL Custom Action: UpdateAppDataFile ended",
        L"End PostPayloadinstallPostlude"};
    EXPECT_EQ(Log(), L"\xFEFF" + RunLog(L"", Lines(seeding), user));
    EXPECT_EQ(ReadBytes(recentProjects_), FirstSample() + "\r\n");
    EXPECT_FALSE(IsRegistered(kSystemClass));

    const std::string seeded = ReadBytes(recentProjects_);
    for (const wchar_t* const value : {L"Machine", L"\"\""}) {
        DeleteFileW(log_.c_str());
        const std::wstring unknown = PostInstallArguments() + L" -postInstallPart " + value;
        EXPECT_EQ(Run(unknown), 0);
        EXPECT_EQ(Run(unknown + L" -failOnError 1"), 1603);
        const std::wstring shown = value[0] == L'"' ? L"" : value;
        const std::wstring neither =
            Lines({L"QL Custom Action: -postInstallPart " + shown +
                   L" is neither machine nor user: no part of the post-install pass was run"});
        EXPECT_EQ(Log(), L"\xFEFF" + RunLog(installDir_, neither, unknown) +
                             RunLog(installDir_, neither, unknown + L" -failOnError 1") +
                             Lines({L"QL Custom Action: no part of the post-install pass was run, exit code 1603"}));
    }
    EXPECT_FALSE(IsRegistered(kInstallDirClass));
    EXPECT_EQ(ReadBytes(recentProjects_), seeded);

    DeleteFileW(log_.c_str());
    ASSERT_EQ(Run(PostInstallArguments()), 0);
    DeleteFileW(log_.c_str());
    EXPECT_EQ(Run(L"-uninstall 1 -postInstallPart user -installDir \"" + installDir_ + L"\""), 0);
    const std::vector<std::wstring> messages = LogMessages(log_);
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[2], L"QL Custom Action: -postInstallPart is for the post-install pass; the uninstall pass "
                           L"runs whole");
    EXPECT_FALSE(IsRegistered(kInstallDirClass));
}

// With -echo a caller that reads the program's output, as NSIS's nsExec or
// WiX's QuietExec do, gets every record as it is written: UTF-16 after a
// byte-order mark, so that a folder's letters reach it whatever the code page.
TEST_F(ProgramTest, EchoPutsEveryRecordOnStandardOutputAndLeavesTheLogAsItIs)
{
    const std::wstring folder = MakeScratchFolder(L"e2e \x00C9cho \x0416\x0443\x043A \x65E5\x672C");
    LayDownProduct(folder);
    const std::wstring arguments = L"-echo 1 -Post_install 1 -installDir \"" + folder + L"\"";
    std::string output;
    const ProcessResult result = RunProcessReadingOutput(CommandLine(arguments), TempFolder(), output);
    ASSERT_TRUE(result.started) << "error " << result.startError;
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(Log(), L"\xFEFF" + RunLog(folder, Lines(PostInstallRecords(folder, folder)), arguments));
    std::wstring echoed = L"\xFEFF";
    for (const std::wstring& message : LogMessages(log_)) {
        echoed += L":" + message + L"\r\n";
    }
    EXPECT_EQ(DecodeUtf16(output), echoed);
    EXPECT_NE(echoed.find(L":InstallDir is " + folder + L"\r\n"), std::wstring::npos);

    output.clear();
    EXPECT_EQ(RunProcessReadingOutput(CommandLine(PostInstallArguments()), TempFolder(), output).exitCode, 0);
    EXPECT_EQ(output, "");
}

// Started through the "runas" verb, as an installer that asks for elevation
// starts it, the program gets an elevated token, says so and registers
// machine-wide. (Started plainly it gets its parent's token, which the
// whole-log tests expect: limited under Wine 10 as under UAC, elevated under
// Wine 8.)
// This process's value of an environment variable, changed for a while: a
// program started through the shell takes this process's environment.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value) : name_(name)
    {
        wchar_t saved[32768] = {};
        hadValue_ = GetEnvironmentVariableW(name, saved, 32768) != 0;
        saved_ = saved;
        SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableW(name_, hadValue_ ? saved_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name_;
    std::wstring saved_;
    bool hadValue_ = false;
};

TEST_F(ProgramTest, StartedElevatedItSaysItHasTheRightsAndRegisters)
{
    const ScopedVariable temp(L"TEMP", temp_);
    const ScopedVariable tmp(L"TMP", temp_);
    const std::wstring program = ProgramPath();
    const std::wstring arguments = PostInstallArguments();
    SHELLEXECUTEINFOW elevated{};
    elevated.cbSize = sizeof elevated;
    elevated.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
    elevated.lpVerb = L"runas";
    elevated.lpFile = program.c_str();
    elevated.lpParameters = arguments.c_str();
    elevated.nShow = SW_HIDE;
    ASSERT_TRUE(ShellExecuteExW(&elevated)) << GetLastError();
    ASSERT_NE(elevated.hProcess, nullptr);
    const UniqueHandle process(elevated.hProcess);
    ASSERT_EQ(WaitForSingleObject(process.Get(), 120000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeProcess(process.Get(), &code);
    EXPECT_EQ(code, 0u);
    const std::vector<std::wstring> messages = LogMessages(log_);
    EXPECT_NE(std::find(messages.begin(), messages.end(), L"QL Custom Action: running with administrator rights"),
              messages.end());
    EXPECT_TRUE(IsRegistered(kSystemClass));
    EXPECT_TRUE(IsRegistered(kInstallDirClass));
}

// What the pipe holds, left in it.
std::string PeekPipe(HANDLE reader)
{
    DWORD available = 0;
    if (!PeekNamedPipe(reader, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
        return std::string();
    }
    std::string bytes(available, '\0');
    DWORD peeked = 0;
    if (!PeekNamedPipe(reader, &bytes[0], available, &peeked, nullptr, nullptr)) {
        return std::string();
    }
    bytes.resize(peeked);
    return bytes;
}

// A caller that reads the echo only once the program has ended (a script's
// WaitForExit() before ReadToEnd()) holds the program in its write when the
// pipe is full. The log file must already hold the record being echoed, so
// that it shows how far the run got. The pipe holds one byte, less than any
// record: once any of the echo is in it, the program is in a write that
// can't finish until someone reads, and the test ends it there.
TEST_F(ProgramTest, EchoThatNobodyReadsFindsTheRecordInTheFileAlready)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &inheritable, 1));
    const UniqueHandle reader(readEnd);
    UniqueHandle writer(writeEnd);
    SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);
    const StartedProcess started =
        StartProcess(CommandLine(L"-echo 1 " + PostInstallArguments()), TempFolder(), false, false, writer.Get());
    writer.Reset();
    ASSERT_TRUE(started.process.IsValid());
    const ULONGLONG start = GetTickCount64();
    bool held = false;
    bool ended = false;
    while (!held && !ended && GetTickCount64() - start < 120000) {
        held = !PeekPipe(reader.Get()).empty();
        ended = WaitForSingleObject(started.process.Get(), held ? 0 : 10) == WAIT_OBJECT_0;
    }
    TerminateProcess(started.process.Get(), 999);
    ASSERT_EQ(WaitForSingleObject(started.process.Get(), 30000), WAIT_OBJECT_0);
    EndChildrenOf(GetProcessId(started.process.Get()));
    ASSERT_FALSE(ended) << "the program ended: its output fitted into the pipe";
    ASSERT_TRUE(held) << "the program was never seen inside a write";

    const std::wstring echoed = DecodeUtf16(PeekPipe(reader.Get()));
    std::size_t wholeLines = 0;
    for (std::size_t at = echoed.find(L"\r\n"); at != std::wstring::npos; at = echoed.find(L"\r\n", at + 2)) {
        ++wholeLines;
    }
    EXPECT_EQ(LogMessages(log_).size(), wholeLines + 1) << "echoed: " << ::testing::PrintToString(echoed);
}

// Copies started while one is inside its pass must end without running
// theirs. The first copy is held in the registration of its second
// component until the other three have ended, so that the four overlap
// whatever the scheduler does; the three are let go together, so that they
// also race each other for the guard. They log to a temporary folder of
// their own, so that only the guard, not the first copy's hold on its log
// file, can keep them from running.
TEST_F(ProgramTest, CopiesStartedWhileOneRunsEndWithoutRunningThePass)
{
    WriteBytes(recentProjects_, "QLPJ1\n");
    ASSERT_TRUE(CopyFileW((ComponentFolder() + L"\\HeldVantabox.dll").c_str(),
                          (installDir_ + L"\\Wrenfold\\Vantabox.dll").c_str(), FALSE));
    const UniqueHandle entered(CreateEventW(nullptr, TRUE, FALSE, L"ql-held-registration-entered"));
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, L"ql-held-registration-release"));
    ASSERT_TRUE(entered.IsValid() && release.IsValid());
    const StartedProcess first = StartProcess(CommandLine(PostInstallArguments()), TempFolder());
    ASSERT_TRUE(first.process.IsValid());
    const HANDLE enteredOrEnded[] = {entered.Get(), first.process.Get()};
    const DWORD firstState = WaitForMultipleObjects(2, enteredOrEnded, FALSE, 120000);

    const std::wstring othersTemp = MakeScratchFolder(L"e2e-temp-others");
    std::vector<std::int32_t> othersExitCodes;
    if (firstState == WAIT_OBJECT_0) {
        std::vector<StartedProcess> others;
        others.reserve(3);
        for (int copy = 0; copy < 3; ++copy) {
            others.push_back(StartProcess(CommandLine(PostInstallArguments()),
                                          {{L"TEMP", othersTemp}, {L"TMP", othersTemp}}, true));
        }
        for (const StartedProcess& copy : others) {
            ResumeThread(copy.thread.Get());
        }
        for (const StartedProcess& copy : others) {
            DWORD code = 999;
            if (WaitForSingleObject(copy.process.Get(), 120000) == WAIT_OBJECT_0) {
                GetExitCodeProcess(copy.process.Get(), &code);
            } else {
                TerminateProcess(copy.process.Get(), 999);
            }
            othersExitCodes.push_back(static_cast<std::int32_t>(code));
        }
    }
    SetEvent(release.Get());
    ASSERT_EQ(WaitForSingleObject(first.process.Get(), 120000), WAIT_OBJECT_0);
    ASSERT_EQ(firstState, WAIT_OBJECT_0) << "the first copy ended before it reached its second registration";
    DWORD firstExitCode = 1;
    GetExitCodeProcess(first.process.Get(), &firstExitCode);
    EXPECT_EQ(firstExitCode, 0u);
    EXPECT_EQ(othersExitCodes, (std::vector<std::int32_t>{-1, -1, -1}));
    EXPECT_EQ(FolderEntries(othersTemp), std::vector<std::wstring>{});
    EXPECT_EQ(Log(), L"\xFEFF" + RunLog(installDir_, Lines(PostInstallRecords(installDir_, installDir_)),
                                        PostInstallArguments()));
}

TEST_F(ProgramTest, RecentProjectsFileHeldOpenWithoutSharingIsLeftAsItWas)
{
    const std::string original = "[\"QLPJ1\"]\n";
    WriteBytes(recentProjects_, original);
    {
        const UniqueHandle holder(
            CreateFileW(recentProjects_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder.IsValid());
        EXPECT_EQ(Run(PostInstallArguments()), 0);
    }
    ExpectLeftAsItWas(original, L"QL Custom Action: could not read the recent projects file, left as it was");
}

// Whole records only: each line of the log has its stamp and its line end.
bool HoldsOnlyWholeRecords(const std::wstring& log)
{
    // A run ended right after it started the file leaves the mark alone.
    if (log.empty() || log == L"\xFEFF") {
        return true;
    }
    if (log.size() < 2 || log.compare(log.size() - 2, 2, L"\r\n") != 0) {
        return false;
    }
    const std::wstring masked = MaskTimestamps(log);
    for (std::size_t start = log[0] == 0xFEFF ? 1 : 0; start < masked.size();
         start = masked.find(L"\r\n", start) + 2) {
        if (masked.compare(start, 20, L"##/##/##  ##:##:##  ") != 0) {
            return false;
        }
    }
    return true;
}

// A run killed inside the rewrite of the recent-projects file: once the
// temporary file exists, before the rename, the file keeps its old bytes
// (the temporary file may be left); right after the rename, it holds all of
// the new ones. Either way the log holds whole records only, no child is
// left suspended, and the next run leaves nothing beside the file.
TEST_F(ProgramTest, KilledInsideTheRewriteLeavesTheOldOrTheWholeNewFile)
{
    const std::string original = "[\n  \"QLPJ1\",\n  \"QLPJ2\"\n]\n";
    const std::string rewritten = RewriteRecentProjects(original, FirstSample(), SecondSample());
    ASSERT_NE(rewritten, original);
    const std::wstring folder = appData_ + L"\\Corvane\\Quillora";
    const struct {
        const wchar_t* after;
        const std::string& left;
        std::vector<std::wstring> beside;
    } kills[] = {
        {L"createFile", original, {L"recent_projects.json", L"recent_projects.json.QLPostlude.tmp"}},
        {L"moveFileEx", rewritten, {L"recent_projects.json"}},
    };
    for (const auto& kill : kills) {
        SCOPED_TRACE(kill.after);
        WriteBytes(recentProjects_, original);
        DeleteFileW(log_.c_str());
        const ProcessResult pass = RunPassEndedAfter(kill.after);
        ASSERT_TRUE(pass.started) << "error " << pass.startError;
        EXPECT_EQ(pass.exitCode, 3) << "the run was not ended inside the rewrite";
        EXPECT_EQ(EndChildrenOf(pass.processId), 0u) << "the killed run left a child suspended";
        EXPECT_EQ(ReadBytes(recentProjects_), kill.left);
        std::vector<std::wstring> left = FolderEntries(folder);
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, kill.beside);
        EXPECT_TRUE(HoldsOnlyWholeRecords(DecodeUtf16(ReadBytes(log_))));

        ASSERT_EQ(Run(PostInstallArguments()), 0);
        EXPECT_EQ(FolderEntries(folder), std::vector<std::wstring>{L"recent_projects.json"});
    }
}

// The way SQLite tests its I/O: a whole post-install pass once per platform
// call it makes, failing exactly that call, and once more per call, ending
// the process right after it as a crash would.
TEST_F(ProgramTest, EveryPlatformCallFailedOrCrashedAfterInTurn)
{
    const std::string original = "[\n  \"QLPJ1\",\n  \"QLPJ2\"\n]\n";
    const std::string rewritten = RewriteRecentProjects(original, FirstSample(), SecondSample());
    const std::wstring folder = appData_ + L"\\Corvane\\Quillora";
    const auto runPass = [&](const wchar_t* mode, unsigned call) {
        WriteBytes(recentProjects_, original);
        DeleteFileW(log_.c_str());
        return RunHostedPass(mode, call);
    };
    const ProcessResult counted = runPass(L"count", 0);
    ASSERT_EQ(ReadBytes(recentProjects_), rewritten);
    const unsigned calls = static_cast<unsigned>(counted.exitCode);
    ASSERT_GT(calls, 20u);
    ASSERT_LT(calls, 200u);

    // Crashes before the rename keep the old bytes, those after it leave the new ones.
    bool crashLeftOld = false;
    bool crashLeftNew = false;
    for (const wchar_t* mode : {L"fail", L"crash"}) {
        const bool crashes = std::wstring(mode) == L"crash";
        for (unsigned call = 1; call <= calls; ++call) {
            const ProcessResult pass = runPass(mode, call);
            ASSERT_TRUE(pass.started) << mode << " " << call << ": error " << pass.startError;
            if (crashes) {
                EXPECT_EQ(EndChildrenOf(pass.processId), 0u) << mode << " " << call << " left a child suspended";
            }
            const std::string bytes = ReadBytes(recentProjects_);
            EXPECT_TRUE(bytes == original || bytes == rewritten) << mode << " " << call;
            crashLeftOld = crashLeftOld || (crashes && bytes == original);
            crashLeftNew = crashLeftNew || (crashes && bytes == rewritten);
            EXPECT_TRUE(HoldsOnlyWholeRecords(DecodeUtf16(ReadBytes(log_)))) << mode << " " << call;
            std::vector<std::wstring> left = FolderEntries(folder);
            if (crashes) {
                left.erase(std::remove(left.begin(), left.end(), L"recent_projects.json.QLPostlude.tmp"), left.end());
            }
            EXPECT_EQ(left, std::vector<std::wstring>{L"recent_projects.json"}) << mode << " " << call;
        }
    }
    EXPECT_TRUE(crashLeftOld) << "no crash came before the rename";
    EXPECT_TRUE(crashLeftNew) << "no crash came after the rename";
    std::printf("a post-install pass makes %u platform calls; each was failed once and crashed after once\n", calls);
    runPass(L"count", 0);
    EXPECT_EQ(FolderEntries(folder), std::vector<std::wstring>{L"recent_projects.json"});
}

// Memory that runs out, or an exception that nobody catches, ends the run
// at once, with -1 and a last record that says why, never with the
// runtime's own way out, which may show a box.
TEST_F(ProgramTest, RunEndedByMemoryOrAnUncaughtErrorSaysWhyInItsLastRecord)
{
    const std::string original = "[\"QLPJ1\"]\n";
    const auto runPass = [&](const wchar_t* mode, unsigned call) {
        WriteBytes(recentProjects_, original);
        DeleteFileW(log_.c_str());
        return RunHostedPass(mode, call);
    };
    const unsigned calls = static_cast<unsigned>(runPass(L"count", 0).exitCode);
    ASSERT_GT(calls, 20u);
    const wchar_t* const outOfMemory = L"QL Custom Action: not enough memory, the run was ended";
    // Memory runs out for real in the host: only what the program gives back
    // can be had again, or (starve) not even that, when the run must end
    // without its record instead of trying again and again.
    const struct {
        const wchar_t* mode;
        const wchar_t* why;  // null: no record says why
    } cases[] = {{L"exhaust", outOfMemory},
                 {L"starve", nullptr},
                 {L"throw", L"QL Custom Action: an unexpected error ended the run"}};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.mode);
        // Halfway through the pass, with the log open.
        const ProcessResult pass = runPass(test.mode, calls / 2);
        ASSERT_TRUE(pass.started) << "error " << pass.startError;
        EXPECT_EQ(pass.exitCode, -1);
        EXPECT_EQ(EndChildrenOf(pass.processId), 0u);
        const std::vector<std::wstring> messages = LogMessages(log_);
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.front(), L"Start Postlude.");
        if (test.why != nullptr) {
            EXPECT_EQ(messages.back(), test.why);
        } else {
            EXPECT_EQ(std::count(messages.begin(), messages.end(), outOfMemory), 0);
        }
        EXPECT_TRUE(HoldsOnlyWholeRecords(DecodeUtf16(ReadBytes(log_))));
    }
}

TEST_F(ProgramTest, DiskFullWhileTheNewContentIsWrittenLeavesTheFileAsItWas)
{
    if (condition_.Name() != L"disk-full") {
        GTEST_SKIP() << "runs only under a file size limit (QL_CONDITION=disk-full)";
    }
    // The rewritten file is several times the size of the original, which
    // itself fits under the limit.
    std::string original;
    while (original.size() < condition_.FileSizeLimit() / 2) {
        original += "\"QLPJ1\",\n";
    }
    WriteBytes(recentProjects_, original);
    EXPECT_EQ(Run(PostInstallArguments()), 0);
    ExpectLeftAsItWas(original, L"QL Custom Action: could not write the recent projects file, left as it was");
}

} // namespace
