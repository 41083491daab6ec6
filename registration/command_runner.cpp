#include "registration/command_runner.h"

#include "log/record_format.h"
#include "log/installer_log.h"
#include "registration/child_start.h"
#include "registration/registration_command.h"
#include "platform/os_calls.h"
#include "platform/system_error.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// How long the runner waits for the child before it empties the pipe again.
constexpr DWORD kDrainIntervalMs = 10;
// How long the runner empties the pipe at most before it looks at the child again.
constexpr ULONGLONG kDrainSliceMs = 100;
// How long the runner goes on emptying the pipe after the child has ended.
constexpr ULONGLONG kFinalDrainMs = 1000;
constexpr DWORD kReadBufferSize = 4096;

struct Pipe {
    UniqueHandle readEnd;
    UniqueHandle writeEnd;
};

bool CreateOutputPipe(Pipe& pipe)
{
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    return Os().createPipe(pipe.readEnd.Receive(), pipe.writeEnd.Receive(), &attributes, 0) != FALSE;
}

// One record: what happened, the system's error code and its text (naming
// the command's program where the text names a file), and what the runner
// did about it.
void LogSystemError(InstallerLog& log, std::wstring_view what, DWORD error, std::wstring_view program,
                    std::wstring_view consequence = {})
{
    std::wstring record(what);
    record.append(L", error ").append(std::to_wstring(error)).append(L": ").append(SystemErrorText(error, program));
    record.append(consequence);
    log.Write(LogLevel::INFO, FormatRecord(L"%s", record).c_str());
}

// Why a child could not be run, after the record that says it.
void LogWhyNotStarted(InstallerLog& log, const StartReport& report, std::wstring_view program)
{
    if (report.notCreated != ERROR_SUCCESS) {
        LogSystemError(log, L"QL Custom Action: the process could not be created", report.notCreated, program);
    } else if (report.notLetGo != ERROR_SUCCESS) {
        LogSystemError(log, L"QL Custom Action: the process was created suspended and could not be let go",
                       report.notLetGo, program, L"; it was ended");
    }
}

// What the start of a child that ran fell back on, after its other records.
void LogStartFallbacks(InstallerLog& log, const StartReport& report, std::wstring_view program)
{
    if (report.handlesNotLimited != ERROR_SUCCESS) {
        LogSystemError(log, L"QL Custom Action: the handles the process inherits could not be limited to its output",
                       report.handlesNotLimited, program, L"; it inherited every inheritable handle of this program");
    }
    if (report.notInJobAtOnce != ERROR_SUCCESS) {
        LogSystemError(log, L"QL Custom Action: the process could not be started inside its job",
                       report.notInJobAtOnce, program, L"; it was started suspended and put into its job afterwards");
    }
    if (report.outsideJob != ERROR_SUCCESS) {
        LogSystemError(log, L"QL Custom Action: the process ran without a job", report.outsideJob, program,
                       L"; at the time limit it alone would be ended, not the processes it started");
    }
}

// Reads and discards what the pipe holds, without ever blocking, until it is
// empty or the runner's clock reaches `deadline`: a child, or a process it
// started, that writes without pause must not keep the runner here, and a
// process that the child started may keep the pipe open long after the
// child itself has ended.
void DiscardPendingOutput(HANDLE readEnd, ULONGLONG deadline)
{
    char buffer[kReadBufferSize];
    while (Os().getTickCount64() < deadline) {
        DWORD available = 0;
        if (!Os().peekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
            return;
        }
        DWORD read = 0;
        const DWORD wanted = std::min(available, kReadBufferSize);
        if (!Os().readFile(readEnd, buffer, wanted, &read, nullptr) || read == 0) {
            return;
        }
    }
}

enum class WaitOutcome { Ended, Failed, TimedOut };

// Waits for the child to end, emptying the pipe meanwhile so that a child
// with more output than the pipe holds never blocks on its write; gives up
// once the child has run for kChildTimeLimitMs, however much it writes.
WaitOutcome WaitForChildWhileDraining(HANDLE process, HANDLE readEnd)
{
    const ULONGLONG deadline = Os().getTickCount64() + kChildTimeLimitMs;
    for (;;) {
        // A slice at a time, so that a child that has ended is seen to have
        // ended however fast a process it started fills the pipe.
        DiscardPendingOutput(readEnd, std::min(deadline, Os().getTickCount64() + kDrainSliceMs));
        const DWORD result = Os().waitForSingleObject(process, kDrainIntervalMs);
        if (result == WAIT_OBJECT_0) {
            return WaitOutcome::Ended;
        }
        if (result != WAIT_TIMEOUT) {
            return WaitOutcome::Failed;
        }
        if (Os().getTickCount64() >= deadline) {
            return WaitOutcome::TimedOut;
        }
    }
}

// Waits for a child that runs, logs what became of it and returns that.
CommandOutcome FollowChild(InstallerLog& log, const ChildProcess& child, Pipe& pipe)
{
    switch (WaitForChildWhileDraining(child.process.Get(), pipe.readEnd.Get())) {
    case WaitOutcome::Ended:
        break;
    case WaitOutcome::Failed:
        log.Write(LogLevel::INFO, L"QL Custom Action: Error could not wait for the process to complete");
        return {0, false};
    case WaitOutcome::TimedOut:
        EndChild(child);
        log.Write(LogLevel::INFO, FormatRecord(L"QL Custom Action: the command did not end within %s minutes and was ended",
                                               std::to_wstring(kChildTimeLimitMs / kMillisecondsPerMinute))
                                      .c_str());
        return {0, false};
    }
    DWORD exitCode = static_cast<DWORD>(-1);
    const bool exitCodeRead = Os().getExitCodeProcess(child.process.Get(), &exitCode) != FALSE;
    const std::int32_t result = static_cast<std::int32_t>(exitCode);

    log.Write(LogLevel::INFO,
              FormatRecord(L"QL Custom Action: commandline exit code: %s", std::to_wstring(result)).c_str());
    log.Write(LogLevel::INFO, L"ZT Custom Action: commandline output");
    // What the child left in the pipe, for a short while at most: a process
    // it started may hold the pipe open and write to it for ever.
    pipe.writeEnd.Reset();
    DiscardPendingOutput(pipe.readEnd.Get(), Os().getTickCount64() + kFinalDrainMs);
    return {result, exitCodeRead};
}

} // namespace

CommandOutcome RunCommandLine(InstallerLog& log, const wchar_t* commandLine)
{
    const std::size_t length = std::wcslen(commandLine);
    if (length > kMaxCommandLineLength) {
        const std::wstring pattern = L"QL Custom Action: command line not run, it is %s characters long and at most " +
                                     std::to_wstring(kMaxCommandLineLength) + L" fit";
        log.Write(LogLevel::INFO, FormatRecord(pattern, std::to_wstring(length)).c_str());
        return {-1, false};
    }

    Pipe pipe;
    if (!CreateOutputPipe(pipe)) {
        log.Write(LogLevel::INFO, L"QL Custom Action: Failure in StdoutRd CreatePipe");
        return {-1, false};
    }
    if (!Os().setHandleInformation(pipe.readEnd.Get(), HANDLE_FLAG_INHERIT, 0)) {
        log.Write(LogLevel::INFO, L"QL Custom Action: Failure in Stdout SetHandleInformation");
        return {-1, false};
    }
    ChildProcess child;
    StartReport report;
    if (!StartChild(commandLine, pipe.writeEnd.Get(), child, report)) {
        log.Write(LogLevel::INFO, L"QL Custom Action: Error could not create new Process");
        LogWhyNotStarted(log, report, CommandProgram(commandLine));
        return {0, false};
    }
    const CommandOutcome outcome = FollowChild(log, child, pipe);
    LogStartFallbacks(log, report, CommandProgram(commandLine));
    return outcome;
}
