#include "registration/child_start.h"

#include "platform/attribute_list.h"
#include "platform/os_calls.h"
#include "platform/system_error.h"

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
    ChildAttributes(HANDLE inherited, HANDLE job) : inherited_(inherited), job_(job), list_(kMostAttributes)
    {
        handleListError_ =
            list_.Add(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, static_cast<void*>(&inherited_), sizeof inherited_);
        if (handleListError_ == ERROR_SUCCESS && job_ != nullptr) {
            jobListError_ = list_.Add(kJobListAttribute, static_cast<void*>(&job_), sizeof job_);
        }
    }

    // The list, or null where the handles could not be limited: the child
    // is then created without one.
    LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return handleListError_ == ERROR_SUCCESS ? list_.Get() : nullptr; }
    // Why the child would inherit every inheritable handle.
    DWORD HandleListError() const { return handleListError_; }
    // Why the child can't start in its job with these attributes.
    DWORD JobListError() const { return jobListError_; }

private:
    static constexpr DWORD kMostAttributes = 2;
    // The list points at these; they live as long as it does.
    HANDLE inherited_;
    HANDLE job_;
    AttributeList list_;
    DWORD handleListError_ = ERROR_SUCCESS;
    DWORD jobListError_ = ERROR_SUCCESS;
};

// A job whose processes never raise a fault box, whatever error mode they set.
UniqueHandle CreateChildJob()
{
    UniqueHandle job(Os().createJobObject(nullptr, nullptr));
    if (job.IsValid()) {
        // Without the limit, the error mode the child inherits from this
        // program still keeps the boxes away.
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
        Os().setInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return job;
}

// Creates the child windowless, its standard output and error going to
// `output`, with `extraFlags`. Returns why it could not, or ERROR_SUCCESS.
DWORD CreateChild(const wchar_t* commandLine, HANDLE output, const ChildAttributes& attributes, DWORD extraFlags,
                  ChildProcess& child)
{
    // The process-creation call may write into its command line, so it gets
    // a copy of its own, terminator included.
    std::vector<wchar_t> buffer(commandLine, commandLine + std::wcslen(commandLine) + 1);

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
        return ErrorOfFailedCall();
    }
    child.process.Reset(info.hProcess);
    child.thread.Reset(info.hThread);
    return ERROR_SUCCESS;
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
    // Where even the handles can't be limited, the job list can't be given
    // either: the child starts as below, and a record says why.
    DWORD inJobHandleListError = ERROR_SUCCESS;
    if (!job.IsValid()) {
        report.outsideJob = ErrorOfFailedCall();
    } else {
        const ChildAttributes inJob(output, job.Get());
        inJobHandleListError = inJob.HandleListError();
        if (inJobHandleListError == ERROR_SUCCESS) {
            report.notInJobAtOnce = inJob.JobListError() != ERROR_SUCCESS
                                        ? inJob.JobListError()
                                        : CreateChild(commandLine, output, inJob, 0, child);
            if (report.notInJobAtOnce == ERROR_SUCCESS) {
                child.job = std::move(job);
                return true;
            }
        }
    }
    const ChildAttributes alone(output, nullptr);
    report.handlesNotLimited = alone.HandleListError();
    if (report.handlesNotLimited == ERROR_SUCCESS && inJobHandleListError != ERROR_SUCCESS) {
        // Only the first list failed: that is why the child starts suspended.
        report.notInJobAtOnce = inJobHandleListError;
    }
    report.notCreated = CreateChild(commandLine, output, alone, job.IsValid() ? CREATE_SUSPENDED : 0, child);
    if (report.notCreated != ERROR_SUCCESS) {
        return false;
    }
    if (!job.IsValid()) {
        return true;
    }
    if (Os().assignProcessToJobObject(job.Get(), child.process.Get())) {
        child.job = std::move(job);
    } else {
        report.outsideJob = ErrorOfFailedCall();
    }
    if (Os().resumeThread(child.thread.Get()) == static_cast<DWORD>(-1)) {
        // A child that never runs would be waited for until the time limit.
        report.notLetGo = ErrorOfFailedCall();
        EndChild(child);
        return false;
    }
    return true;
}

void EndChild(const ChildProcess& child)
{
    constexpr DWORD kEndedExitCode = ERROR_TIMEOUT;
    constexpr DWORD kEndingWaitMs = 5000;
    // Where ending fails, the wait below runs out and the run goes on.
    if (child.job.IsValid()) {
        Os().terminateJobObject(child.job.Get(), kEndedExitCode);
    } else {
        Os().terminateProcess(child.process.Get(), kEndedExitCode);
    }
    Os().waitForSingleObject(child.process.Get(), kEndingWaitMs);
}
