#include "registration/command_runner.h"

#include "platform/os_calls.h"
#include "platform/system_error.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

using Messages = std::vector<std::wstring>;

std::wstring FakeTool(const std::wstring& arguments)
{
    return L"\"" + TestBinaryFolder() + L"\\fake_tool.exe\" " + arguments;
}

Messages Ran(std::int32_t code)
{
    return {L"QL Custom Action: commandline exit code: " + std::to_wstring(code),
            L"ZT Custom Action: commandline output"};
}

TEST(CommandRunner, LogsAndReturnsTheChildsExitCode)
{
    LogCapture capture(L"runner-exit");
    EXPECT_EQ(ExecuteCommandLine(capture.Log(), FakeTool(L"exit 3").c_str()), 3);
    EXPECT_EQ(ExecuteCommandLine(capture.Log(), FakeTool(L"exit 0xC0000005").c_str()), -1073741819);
    Messages expected = Ran(3);
    const Messages second = Ran(-1073741819);
    expected.insert(expected.end(), second.begin(), second.end());
    EXPECT_EQ(capture.Messages(), expected);
}

TEST(CommandRunner, OutputLargerThanThePipeNeverBlocksAndNeverReachesTheLog)
{
    LogCapture capture(L"runner-flood");
    EXPECT_EQ(ExecuteCommandLine(capture.Log(), FakeTool(L"flood 1048576").c_str()), 0);
    EXPECT_EQ(capture.Messages(), Ran(0));
}

TEST(CommandRunner, ChildHasNoStandardInput)
{
    LogCapture capture(L"runner-stdin");
    EXPECT_EQ(ExecuteCommandLine(capture.Log(), FakeTool(L"stdin x").c_str()), 0);
}

// A process the child started may hold the pipe open after the child has
// ended, quietly or writing to it faster than the runner reads. A runner that
// waited for it would take 20 seconds; the bound leaves the rest as room for
// a machine busy with the other build's suite.
TEST(CommandRunner, ReturnsOnceTheChildEndsEvenIfItsChildHoldsThePipe)
{
    for (const wchar_t* grandchild : {L"linger 20000", L"leave-spewing 30000"}) {
        SCOPED_TRACE(grandchild);
        LogCapture capture(L"runner-linger");
        const DWORD start = GetTickCount();
        {
            ScopedOsOverride os;
            if (std::wstring(grandchild).find(L"spewing") != std::wstring::npos) {
                PretendThePipeNeverEmpties(Os(), 20000);
            }
            EXPECT_EQ(ExecuteCommandLine(capture.Log(), FakeTool(grandchild).c_str()), 0);
        }
        EXPECT_LT(GetTickCount() - start, 12000u);
        EXPECT_EQ(capture.Messages(), Ran(0));
    }
}

// A record with the system's error code and its text, as the runner writes it.
std::wstring SystemError(const std::wstring& before, DWORD error, const std::wstring& after = L"")
{
    return before + L", error " + std::to_wstring(error) + L": " + SystemErrorText(error) + after;
}

TEST(CommandRunner, MissingProgramIsReportedWithTheSystemsErrorAndReturnsZero)
{
    LogCapture capture(L"runner-missing");
    EXPECT_EQ(ExecuteCommandLine(capture.Log(), L"\"C:\\no such folder\\tool.exe\" /s"), 0);
    const Messages messages = capture.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], L"QL Custom Action: Error could not create new Process");
    const std::wstring why = L"QL Custom Action: the process could not be created, error ";
    EXPECT_EQ(messages[1].compare(0, why.size(), why), 0) << messages[1];
    EXPECT_EQ(messages[1].find(L"unknown"), std::wstring::npos) << messages[1];
}

TEST(CommandRunner, RunsA1023CharacterCommandAndRefusesLongerOnes)
{
    LogCapture capture(L"runner-length");
    std::wstring command = FakeTool(L"exit 5");
    command.resize(kMaxCommandLineLength, L' ');
    EXPECT_EQ(ExecuteCommandLine(capture.Log(), command.c_str()), 5);
    command.push_back(L' ');
    EXPECT_EQ(ExecuteCommandLine(capture.Log(), command.c_str()), -1);
    Messages expected = Ran(5);
    expected.emplace_back(L"QL Custom Action: command line not run, it is 1024 characters long and at most 1023 fit");
    EXPECT_EQ(capture.Messages(), expected);
}

BOOL WINAPI FailCreatePipe(PHANDLE, PHANDLE, LPSECURITY_ATTRIBUTES, DWORD)
{
    return FALSE;
}
BOOL WINAPI FailSetHandleInformation(HANDLE, DWORD, DWORD)
{
    return FALSE;
}
BOOL WINAPI FailCreateProcess(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                              LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
DWORD WINAPI FailWait(HANDLE, DWORD)
{
    return WAIT_FAILED;
}
BOOL WINAPI FailGetExitCode(HANDLE, LPDWORD)
{
    return FALSE;
}

// The members are read through GetParam(), which cppcheck does not follow.
struct PlatformFailure {
    // cppcheck-suppress unusedStructMember
    const char* name;
    // cppcheck-suppress unusedStructMember
    void (*inject)(OsCalls&);
    std::int32_t result;
    // cppcheck-suppress unusedStructMember
    Messages messages;
};

class CommandRunnerFailure : public ::testing::TestWithParam<PlatformFailure> {};

TEST_P(CommandRunnerFailure, IsLoggedAndEndsTheCall)
{
    LogCapture capture(L"runner-failure");
    std::int32_t result = 0;
    {
        ScopedOsOverride os;
        GetParam().inject(Os());
        result = ExecuteCommandLine(capture.Log(), FakeTool(L"exit 7").c_str());
    }
    EXPECT_EQ(result, GetParam().result);
    EXPECT_EQ(capture.Messages(), GetParam().messages);
}

INSTANTIATE_TEST_SUITE_P(
    EachPlatformCall, CommandRunnerFailure,
    ::testing::Values(
        PlatformFailure{"CreatePipe", [](OsCalls& os) { os.createPipe = FailCreatePipe; }, -1,
                        {L"QL Custom Action: Failure in StdoutRd CreatePipe"}},
        PlatformFailure{"SetHandleInformation",
                        [](OsCalls& os) { os.setHandleInformation = FailSetHandleInformation; }, -1,
                        {L"QL Custom Action: Failure in Stdout SetHandleInformation"}},
        PlatformFailure{"CreateProcess", [](OsCalls& os) { os.createProcess = FailCreateProcess; }, 0,
                        {L"QL Custom Action: Error could not create new Process",
                         SystemError(L"QL Custom Action: the process could not be created", ERROR_ACCESS_DENIED)}},
        PlatformFailure{"Wait", [](OsCalls& os) { os.waitForSingleObject = FailWait; }, 0,
                        {L"QL Custom Action: Error could not wait for the process to complete"}},
        PlatformFailure{"GetExitCodeProcess", [](OsCalls& os) { os.getExitCodeProcess = FailGetExitCode; }, -1,
                        Ran(-1)}),
    [](const ::testing::TestParamInfo<PlatformFailure>& failure) { return std::string(failure.param.name); });

const wchar_t kHeldChild[] = L"ql-runner-held-child";

ULONGLONG WINAPI ClockPastTheLimitOnceTheChildRuns()
{
    return NamedEventExists(kHeldChild) ? kChildTimeLimitMs : 0;
}
BOOL WINAPI NoJob(HANDLE, HANDLE)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// As before Windows 10: a handle list is known, a job list is not.
BOOL WINAPI NoJobList(LPPROC_THREAD_ATTRIBUTE_LIST list, DWORD flags, DWORD_PTR attribute, PVOID value, SIZE_T size,
                      PVOID previous, PSIZE_T returned)
{
    if (attribute != PROC_THREAD_ATTRIBUTE_HANDLE_LIST) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return UpdateProcThreadAttribute(list, flags, attribute, value, size, previous, returned);
}

struct Creation {
    DWORD flags;
    BOOL inJob; // in the runner's job, right after it was created
};
std::vector<Creation> g_creations;
// The job the runner made for its child: the test process itself may run
// inside another job (as Windows CI services start tests), which any child
// is then in too.
HANDLE g_runnersJob = nullptr;

HANDLE WINAPI RecordedCreateJobObject(LPSECURITY_ATTRIBUTES attributes, LPCWSTR name)
{
    g_runnersJob = CreateJobObjectW(attributes, name);
    return g_runnersJob;
}

BOOL WINAPI RecordedCreateProcess(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                  LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                  LPVOID environment, LPCWSTR folder, LPSTARTUPINFOW startup,
                                  LPPROCESS_INFORMATION info)
{
    const BOOL created = CreateProcessW(application, commandLine, processAttributes, threadAttributes, inherit, flags,
                                        environment, folder, startup, info);
    if (created) {
        BOOL inJob = FALSE;
        IsProcessInJob(info->hProcess, g_runnersJob, &inJob);
        g_creations.push_back({flags, inJob});
    }
    return created;
}

// A child created suspended and put into its job afterwards would wait for
// ever if the program died in between; where the system takes a job list,
// the child starts in its job at once, and only elsewhere the old way.
TEST(CommandRunner, ChildStartsInItsJobAtOnceOrSuspendedUntilItIsIn)
{
    for (const bool jobLists : {true, false}) {
        SCOPED_TRACE(jobLists ? "with job lists" : "without job lists");
        g_creations.clear();
        LogCapture capture(L"runner-job");
        {
            ScopedOsOverride os;
            os->createJobObject = RecordedCreateJobObject;
            os->createProcess = RecordedCreateProcess;
            if (!jobLists) {
                os->updateProcThreadAttribute = NoJobList;
            }
            EXPECT_EQ(ExecuteCommandLine(capture.Log(), FakeTool(L"exit 3").c_str()), 3);
        }
        Messages expected = Ran(3);
        if (!jobLists) {
            expected.push_back(SystemError(L"QL Custom Action: the process could not be started inside its job",
                                           ERROR_NOT_SUPPORTED,
                                           L"; it was started suspended and put into its job afterwards"));
        }
        EXPECT_EQ(capture.Messages(), expected);
        ASSERT_EQ(g_creations.size(), 1u);
        ASSERT_NE(g_runnersJob, nullptr);
        EXPECT_EQ((g_creations[0].flags & CREATE_SUSPENDED) != 0, !jobLists);
        EXPECT_EQ(g_creations[0].inJob != FALSE, jobLists);
    }
}

HANDLE WINAPI NoJobObject(LPSECURITY_ATTRIBUTES, LPCWSTR)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

DWORD WINAPI FailResume(HANDLE);

// Without a job to put it in, a child created suspended would gain nothing
// and stay suspended for nothing if the runner could not let it go.
TEST(CommandRunner, ChildWithoutAJobStartsRunning)
{
    g_creations.clear();
    LogCapture capture(L"runner-nojob");
    {
        ScopedOsOverride os;
        os->createJobObject = NoJobObject;
        os->createProcess = RecordedCreateProcess;
        os->resumeThread = FailResume;
        EXPECT_EQ(ExecuteCommandLine(capture.Log(), FakeTool(L"exit 3").c_str()), 3);
    }
    ASSERT_EQ(g_creations.size(), 1u);
    EXPECT_EQ(g_creations[0].flags & CREATE_SUSPENDED, 0u);
    Messages expected = Ran(3);
    expected.push_back(SystemError(L"QL Custom Action: the process ran without a job", ERROR_ACCESS_DENIED,
                                   L"; at the time limit it alone would be ended, not the processes it started"));
    EXPECT_EQ(capture.Messages(), expected);
}

BOOL WINAPI NoWin32Application(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                               LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION)
{
    SetLastError(ERROR_BAD_EXE_FORMAT);
    return FALSE;
}

// A file that is no program (Wine says only "File not found" of one, so the
// call fails as Windows fails it): the system's text names the file where it
// says "%1".
TEST(CommandRunner, FileThatIsNoProgramIsNamedInTheSystemsText)
{
    const std::wstring file = L"C:\\Program Files\\Sample Product\\not-a-program.exe";
    LogCapture capture(L"runner-no-program");
    {
        ScopedOsOverride os;
        os->createProcess = NoWin32Application;
        ExecuteCommandLine(capture.Log(), (L"\"" + file + L"\" /s x").c_str());
    }
    const Messages messages = capture.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], L"QL Custom Action: Error could not create new Process");
    EXPECT_NE(messages[1].find(file), std::wstring::npos) << messages[1];
    EXPECT_EQ(messages[1].find(L"%1"), std::wstring::npos) << messages[1];
}

// Where no job can be had (nested jobs before Windows 8), the child alone is
// ended.
TEST(CommandRunner, ChildOutsideAJobIsEndedAloneAtTheLimit)
{
    LogCapture capture(L"runner-limit");
    std::int32_t result = -1;
    {
        ScopedOsOverride os;
        os->getTickCount64 = ClockPastTheLimitOnceTheChildRuns;
        os->updateProcThreadAttribute = NoJobList;
        os->assignProcessToJobObject = NoJob;
        result = ExecuteCommandLine(capture.Log(), FakeTool(std::wstring(L"hold ") + kHeldChild).c_str());
    }
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(EndsWithin(kHeldChild, 20000));
    // The records of today first, then why only the child itself could be ended.
    EXPECT_EQ(capture.Messages(),
              (Messages{L"QL Custom Action: the command did not end within 5 minutes and was ended",
                        SystemError(L"QL Custom Action: the process could not be started inside its job",
                                    ERROR_NOT_SUPPORTED,
                                    L"; it was started suspended and put into its job afterwards"),
                        SystemError(L"QL Custom Action: the process ran without a job", ERROR_ACCESS_DENIED,
                                    L"; at the time limit it alone would be ended, not the processes it started")}));
}

DWORD WINAPI FailResume(HANDLE)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return static_cast<DWORD>(-1);
}

// A child created suspended that can't be let go would otherwise be waited
// for until the time limit, five minutes later, and never run.
TEST(CommandRunner, ChildThatCantBeLetGoIsEndedAtOnceAndSaysWhy)
{
    LogCapture capture(L"runner-resume");
    const DWORD start = GetTickCount();
    std::int32_t result = -1;
    {
        ScopedOsOverride os;
        os->updateProcThreadAttribute = NoJobList;
        os->resumeThread = FailResume;
        result = ExecuteCommandLine(capture.Log(), FakeTool(L"exit 3").c_str());
    }
    EXPECT_EQ(result, 0);
    // Waited for, it would hold the runner until the five-minute limit.
    EXPECT_LT(GetTickCount() - start, 60000u);
    EXPECT_EQ(EndChildrenOf(GetCurrentProcessId()), 0u);
    EXPECT_EQ(capture.Messages(),
              (Messages{L"QL Custom Action: Error could not create new Process",
                        SystemError(L"QL Custom Action: the process was created suspended and could not be let go",
                                    ERROR_ACCESS_DENIED, L"; it was ended")}));
}

// Windows passes a parent's error mode on to its children; Wine does not,
// which this test finds out first.
TEST(CommandRunner, ChildInheritsTheErrorModeThatSuppressesBoxes)
{
    const UINT mode = SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX;
    const UINT saved = SetErrorMode(mode);
    const ProcessResult plain = RunProcess(FakeTool(L"errormode x"));
    LogCapture capture(L"runner-errormode");
    const std::int32_t inherited = ExecuteCommandLine(capture.Log(), FakeTool(L"errormode x").c_str());
    SetErrorMode(saved);
    if (static_cast<UINT>(plain.exitCode) != mode) {
        GTEST_SKIP() << "not shown: this platform passes no error mode to child processes (Windows does, and "
                        "there this test checks that the registration tool inherits the mode that keeps boxes away)";
    }
    EXPECT_EQ(static_cast<UINT>(inherited), mode);
}

} // namespace
