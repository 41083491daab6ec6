#include "registration/command_runner.h"

#include "log/record_format.h"
#include "log/installer_log.h"
#include "platform/os_calls.h"
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

// PROC_THREAD_ATTRIBUTE_JOB_LIST: the jobs a new process starts in. Windows
// 10 and later; the headers offer it only to programs that require Windows
// 10, and this one runs on Windows 7.
constexpr DWORD_PTR kJobListAttribute = 0x0002000D;

// What a child is created with: it inherits exactly one handle, whatever
// else of this process happens to be inheritable, and, where the system
// takes a job list, it starts inside `job`.
class ChildAttributes {
public:
    ChildAttributes(HANDLE inherited, HANDLE job) : inherited_(inherited), job_(job)
    {
        constexpr DWORD kMostAttributes = 2;
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, kMostAttributes, 0, &size);
        storage_.resize(size);
        list_ = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
        if (!::InitializeProcThreadAttributeList(list_, kMostAttributes, 0, &size)) {
            list_ = nullptr;
            return;
        }
        if (!Os().updateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &inherited_,
                                            sizeof inherited_, nullptr, nullptr)) {
            ::DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
            return;
        }
        startsInJob_ = job_ != nullptr && Os().updateProcThreadAttribute(list_, 0, kJobListAttribute, &job_,
                                                                          sizeof job_, nullptr, nullptr);
    }
    ~ChildAttributes()
    {
        if (list_ != nullptr) {
            ::DeleteProcThreadAttributeList(list_);
        }
    }
    ChildAttributes(const ChildAttributes&) = delete;
    ChildAttributes& operator=(const ChildAttributes&) = delete;

    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }
    bool StartsInJob() const { return startsInJob_; }

private:
    // The list points at these; they live as long as it does.
    HANDLE inherited_;
    HANDLE job_;
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool startsInJob_ = false;
};

// The child and, where the platform allows it, a job that holds it and every
// process it starts, so that a child that must be ended takes its own
// children with it.
struct ChildProcess {
    UniqueHandle process;
    UniqueHandle thread;
    UniqueHandle job;
};

// A job whose processes never raise a fault box, whatever error mode they set.
UniqueHandle CreateChildJob()
{
    UniqueHandle job(Os().createJobObject(nullptr, nullptr));
    if (job.IsValid()) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
        ::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return job;
}

// Ends a child that ran past its time, with everything it started where
// there is a job, and waits briefly until it is gone.
void EndChild(const ChildProcess& child)
{
    constexpr DWORD kEndedExitCode = ERROR_TIMEOUT;
    constexpr DWORD kEndingWaitMs = 5000;
    if (child.job.IsValid()) {
        ::TerminateJobObject(child.job.Get(), kEndedExitCode);
    } else {
        ::TerminateProcess(child.process.Get(), kEndedExitCode);
    }
    Os().waitForSingleObject(child.process.Get(), kEndingWaitMs);
}

bool CreateOutputPipe(Pipe& pipe)
{
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    return Os().createPipe(pipe.readEnd.Receive(), pipe.writeEnd.Receive(), &attributes, 0) != FALSE;
}

// Creates the child windowless, its standard output and error going to
// `output`, with `extraFlags`.
bool CreateChild(const wchar_t* commandLine, HANDLE output, const ChildAttributes& attributes, DWORD extraFlags,
                 ChildProcess& child)
{
    // The process-creation call may write into its command line, so it gets
    // a copy of its own.
    std::vector<wchar_t> buffer(kMaxCommandLineLength + 1, L'\0');
    std::copy_n(commandLine, std::wcslen(commandLine), buffer.begin());

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.StartupInfo.wShowWindow = SW_SHOWNORMAL;
    startup.StartupInfo.hStdInput = nullptr;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = output;
    startup.lpAttributeList = attributes.Get();
    DWORD flags = CREATE_NO_WINDOW | extraFlags;
    if (startup.lpAttributeList != nullptr) {
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    } else {
        startup.StartupInfo.cb = sizeof startup.StartupInfo;
    }

    PROCESS_INFORMATION info{};
    if (!Os().createProcess(nullptr, buffer.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                            &startup.StartupInfo, &info)) {
        return false;
    }
    child.process.Reset(info.hProcess);
    child.thread.Reset(info.hThread);
    return true;
}

// Starts the child inside its job in one step where the system can: a child
// created suspended and put into its job afterwards would stay suspended for
// ever (holding the product's DLL open) if this program died in between.
// Elsewhere, and where the system refuses the job list, the child starts
// suspended until it is in its job, so that nothing it starts escapes; where
// no job can be had (a platform without nested jobs, inside an installer's
// own job), it runs without one and can only be ended alone.
bool StartChild(const wchar_t* commandLine, HANDLE output, ChildProcess& child)
{
    UniqueHandle job = CreateChildJob();
    if (job.IsValid()) {
        const ChildAttributes inJob(output, job.Get());
        if (inJob.StartsInJob() && CreateChild(commandLine, output, inJob, 0, child)) {
            child.job = std::move(job);
            return true;
        }
    }
    const ChildAttributes alone(output, nullptr);
    if (!CreateChild(commandLine, output, alone, CREATE_SUSPENDED, child)) {
        return false;
    }
    if (job.IsValid() && Os().assignProcessToJobObject(job.Get(), child.process.Get())) {
        child.job = std::move(job);
    }
    ::ResumeThread(child.thread.Get());
    return true;
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
        if (!::PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
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

} // namespace

CommandOutcome RunCommandLine(InstallerLog& log, const wchar_t* commandLine)
{
    DWORD exitCode = static_cast<DWORD>(-1);
    const std::size_t length = std::wcslen(commandLine);
    if (length > kMaxCommandLineLength) {
        log.Write(LogLevel::INFO, FormatRecord(L"QL Custom Action: command line not run, it is %s characters long "
                                               L"and at most 1023 fit",
                                               std::to_wstring(length))
                                      .c_str());
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
    if (!StartChild(commandLine, pipe.writeEnd.Get(), child)) {
        log.Write(LogLevel::INFO, L"QL Custom Action: Error could not create new Process");
        return {0, false};
    }
    switch (WaitForChildWhileDraining(child.process.Get(), pipe.readEnd.Get())) {
    case WaitOutcome::Ended:
        break;
    case WaitOutcome::Failed:
        log.Write(LogLevel::INFO, L"QL Custom Action: Error could not wait for the process to complete");
        return {0, false};
    case WaitOutcome::TimedOut:
        EndChild(child);
        log.Write(LogLevel::INFO, L"QL Custom Action: the command did not end within 5 minutes and was ended");
        return {0, false};
    }
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
