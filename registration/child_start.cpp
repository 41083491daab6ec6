#include "registration/child_start.h"

#include "registration/command_runner.h"
#include "platform/os_calls.h"

#include <algorithm>
#include <cwchar>
#include <vector>

namespace {

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
            jobListError_ = ::GetLastError();
            list_ = nullptr;
            return;
        }
        if (!Os().updateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                            static_cast<void*>(&inherited_), sizeof inherited_, nullptr, nullptr)) {
            jobListError_ = ::GetLastError();
            ::DeleteProcThreadAttributeList(list_);
            list_ = nullptr;
            return;
        }
        if (job_ != nullptr) {
            startsInJob_ = Os().updateProcThreadAttribute(list_, 0, kJobListAttribute, static_cast<void*>(&job_),
                                                          sizeof job_, nullptr, nullptr) != FALSE;
            jobListError_ = startsInJob_ ? 0 : ::GetLastError();
        }
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
    // Why the child can't start in its job with these attributes.
    DWORD JobListError() const { return jobListError_; }

private:
    // The list points at these; they live as long as it does.
    HANDLE inherited_;
    HANDLE job_;
    std::vector<char> storage_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool startsInJob_ = false;
    DWORD jobListError_ = 0;
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

// Creates the child windowless, its standard output and error going to
// `output`, with `extraFlags`. Returns nothing, or why it could not.
std::optional<DWORD> CreateChild(const wchar_t* commandLine, HANDLE output, const ChildAttributes& attributes,
                                 DWORD extraFlags, ChildProcess& child)
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
        return ::GetLastError();
    }
    child.process.Reset(info.hProcess);
    child.thread.Reset(info.hThread);
    return std::nullopt;
}

} // namespace

// Starts the child inside its job in one step where the system can: a child
// created suspended and put into its job afterwards would stay suspended for
// ever (holding the product's DLL open) if this program died in between.
// Elsewhere, and where the system refuses the job list, the child starts
// suspended until it is in its job, so that nothing it starts escapes; where
// no job can be had (a platform without nested jobs, inside an installer's
// own job), it starts running at once, without one, and can only be ended
// alone.
bool StartChild(const wchar_t* commandLine, HANDLE output, ChildProcess& child, StartReport& report)
{
    UniqueHandle job = CreateChildJob();
    if (!job.IsValid()) {
        report.outsideJob = ::GetLastError();
    } else {
        const ChildAttributes inJob(output, job.Get());
        if (!inJob.StartsInJob()) {
            report.notInJobAtOnce = inJob.JobListError();
        } else if (const std::optional<DWORD> refused = CreateChild(commandLine, output, inJob, 0, child)) {
            report.notInJobAtOnce = refused;
        } else {
            child.job = std::move(job);
            return true;
        }
    }
    const ChildAttributes alone(output, nullptr);
    report.notCreated = CreateChild(commandLine, output, alone, job.IsValid() ? CREATE_SUSPENDED : 0, child);
    if (report.notCreated) {
        return false;
    }
    if (!job.IsValid()) {
        return true;
    }
    if (Os().assignProcessToJobObject(job.Get(), child.process.Get())) {
        child.job = std::move(job);
    } else {
        report.outsideJob = ::GetLastError();
    }
    if (Os().resumeThread(child.thread.Get()) == static_cast<DWORD>(-1)) {
        // A child that never runs would be waited for until the time limit.
        report.notLetGo = ::GetLastError();
        EndChild(child);
        return false;
    }
    return true;
}

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
