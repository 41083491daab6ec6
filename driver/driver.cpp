#include "driver/driver.h"

#include "driver/options.h"
#include "driver/run_end.h"
#include "log/installer_log.h"
#include "platform/os_calls.h"
#include "platform/unique_handle.h"
#include "registration/administrator_rights.h"
#include "registration/registration_passes.h"
#include "seeding/recent_projects_seeding.h"

#include <shellapi.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kMutexName[] = L"QL_Postlude-{864f1458-2c1d-4074-afbb-7034b3805d2d}";
constexpr wchar_t kLogFileName[] = L"QLPostlude.log";
constexpr wchar_t kUsageMessage[] =
    L"Valid Option not provided, usage : Postlude_WB_QL_install.exe install / uninstall \"C:\\Program Files\"";

// Holds the named mutex that keeps a second instance from running. It is
// owned until the run ends; a mutex that can't be created leaves the run
// unguarded rather than stopping it.
class SingleInstanceGuard {
public:
    SingleInstanceGuard() : mutex_(Os().createMutex(nullptr, TRUE, kMutexName))
    {
        anotherInstanceRuns_ = mutex_.IsValid() && ::GetLastError() == ERROR_ALREADY_EXISTS;
    }
    ~SingleInstanceGuard()
    {
        if (mutex_.IsValid() && !anotherInstanceRuns_) {
            ::ReleaseMutex(mutex_.Get());
        }
    }
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    bool AnotherInstanceRuns() const { return anotherInstanceRuns_; }

private:
    UniqueHandle mutex_;
    bool anotherInstanceRuns_ = false;
};

struct LocalFreeDeleter {
    void operator()(wchar_t** arguments) const { ::LocalFree(static_cast<HLOCAL>(arguments)); }
};

std::vector<std::wstring> SplitCommandLine(const std::wstring& commandLine)
{
    int count = 0;
    std::unique_ptr<wchar_t*, LocalFreeDeleter> arguments(Os().commandLineToArgv(commandLine.c_str(), &count));
    std::vector<std::wstring> list;
    if (arguments) {
        list.assign(arguments.get(), arguments.get() + count);
    }
    return list;
}

// No pass may see a directory that doesn't fit MAX_PATH; a longer one is
// refused whole rather than cut to a different, wrong directory.
std::wstring AcceptInstallDir(InstallerLog& log, const std::wstring& requested)
{
    if (requested.size() <= kMaxInstallDirLength) {
        return requested;
    }
    log.Write(LogLevel::INFO,
              FormatRecord(L"InstallDir refused: it is %s characters long, at most 259 are accepted",
                           std::to_wstring(requested.size()))
                  .c_str());
    return std::wstring();
}

// The machine's half of the post-install pass. Returns how many
// registrations did not succeed.
unsigned RegisterBoth(InstallerLog& log, const std::wstring& installDir)
{
    LogAdministratorRights(log);
    const unsigned failed = RegisterDlls(log);
    return failed + installDirRegisterDlls(log, installDir.c_str());
}

// Returns how many registrations did not succeed. The seeding's outcome
// never counts: a user's recent-projects file is no reason to fail an
// installation.
unsigned RunPostInstallPass(InstallerLog& log, const Options& options, const std::wstring& installDir)
{
    if (options.part == PostInstallPart::Unknown) {
        log.Write(LogLevel::INFO, FormatRecord(L"QL Custom Action: -postInstallPart %s is neither machine nor user: "
                                               L"no part of the post-install pass was run",
                                               options.partValue)
                                      .c_str());
        return 0;
    }
    log.Write(LogLevel::INFO, L"Running Postlude on Post payload install.");
    log.Write(LogLevel::INFO, L" Start PostPayloadinstallPostlude");
    unsigned failed = 0;
    switch (options.part) {
    case PostInstallPart::Machine:
        log.Write(LogLevel::INFO, L"QL Custom Action: the machine's part of the post-install pass: the registrations");
        failed = RegisterBoth(log, installDir);
        break;
    case PostInstallPart::User:
        log.Write(LogLevel::INFO,
                  L"QL Custom Action: the user's part of the post-install pass: the recent projects file");
        SeedUnlessLocalSystem(log, options.recentProjectsTemplate);
        break;
    default:
        failed = RegisterBoth(log, installDir);
        UpdateAppDataFile(log, options.recentProjectsTemplate);
        break;
    }
    log.Write(LogLevel::INFO, L"End PostPayloadinstallPostlude");
    return failed;
}

void RunUninstallPass(InstallerLog& log, const std::wstring& installDir)
{
    log.Write(LogLevel::INFO, L"Running Postlude on uninstall.");
    log.Write(LogLevel::INFO, L"Start uninstallPostlude");
    LogAdministratorRights(log);
    // A removal is never failed: one that fails leaves a product nobody can
    // remove, so what the unregistration did is only logged.
    static_cast<void>(UnRegisterDlls(log, installDir.c_str()));
    log.Write(LogLevel::INFO, L" End uninstallPostlude");
}

// Returns how many registrations of the post-install pass did not succeed
// (none for the other passes).
unsigned RunRequestedPass(InstallerLog& log, const Options& options, const std::wstring& installDir)
{
    if (options.requestedPass == L"Post_install") {
        return RunPostInstallPass(log, options, installDir);
    }
    if (options.requestedPass == L"uninstall") {
        if (options.part != PostInstallPart::Whole) {
            log.Write(LogLevel::INFO, L"QL Custom Action: -postInstallPart is for the post-install pass; the "
                                      L"uninstall pass runs whole");
        }
        RunUninstallPass(log, installDir);
    } else {
        log.Write(LogLevel::ERROR, kUsageMessage);
    }
    return 0;
}

// The names given, as a record shows them: "-a, -b", or "none".
std::wstring ListNames(const std::vector<std::wstring>& names)
{
    std::wstring list;
    for (const std::wstring& name : names) {
        list += (list.empty() ? L"" : L", ") + name;
    }
    return list.empty() ? L"none" : list;
}

// The exit code of a logged run: 0, unless the caller asked for a failure to
// be reported and the run did not do what it was started for: a post-install
// pass in which a registration did not succeed, or no pass at all (a name
// misspelt). Then ERROR_INSTALL_FAILURE, which Windows Installer and
// deployment tools read as a failed installation, after a last record that
// says why.
int LoggedRunExitCode(InstallerLog& log, const Options& options, const std::wstring& installDir,
                      unsigned failedRegistrations)
{
    if (!options.failOnError) {
        return 0;
    }
    if (options.requestedPass.empty()) {
        log.Write(LogLevel::INFO,
                  FormatRecord(L"QL Custom Action: no pass was run: the names given were %s, and a pass is "
                               L"-Post_install 1 or -uninstall 1, exit code 1603",
                               ListNames(options.names))
                      .c_str());
        return ERROR_INSTALL_FAILURE;
    }
    if (options.requestedPass == L"Post_install" && options.part == PostInstallPart::Unknown) {
        log.Write(LogLevel::INFO, L"QL Custom Action: no part of the post-install pass was run, exit code 1603");
        return ERROR_INSTALL_FAILURE;
    }
    if (failedRegistrations == 0) {
        return 0;
    }
    if (installDir.empty()) {
        log.Write(LogLevel::INFO, L"QL Custom Action: no usable installation folder was given: pass -installDir "
                                  L"with the product's folder, absolute, at most 259 characters");
    }
    const wchar_t* const pattern = failedRegistrations == 1
                                       ? L"QL Custom Action: %s registration did not succeed, exit code 1603"
                                       : L"QL Custom Action: %s registrations did not succeed, exit code 1603";
    log.Write(LogLevel::INFO, FormatRecord(pattern, std::to_wstring(failedRegistrations)).c_str());
    return ERROR_INSTALL_FAILURE;
}

// An unattended installation blocks on any dialog. Children inherit this
// mode, so neither this program nor the registration tool (nor a DLL it
// loads) raises a critical-error, fault or missing-file box.
void SuppressErrorBoxes()
{
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

} // namespace

int RunInstallerAction(const wchar_t* commandLine)
{
    SuppressErrorBoxes();
    // Buffers as large as a user's file never end the run: they report
    // exhaustion, and the file is left as it was.
    EndTheRunQuietlyOnFatalErrors();
    SingleInstanceGuard guard;
    if (guard.AnotherInstanceRuns()) {
        return -1;
    }
    const std::wstring passedCommandLine = commandLine != nullptr ? commandLine : L"";
    if (passedCommandLine.empty()) {
        return -1;
    }
    const Options options = ReadOptions(SplitCommandLine(passedCommandLine));

    InstallerLog log;
    if (!log.OpenInTempFolder(kLogFileName, options.echo ? 1 : 0)) {
        log.Close();
        return -1;
    }
    const LastRecordGoesTo lastRecord(log);
    log.Write(LogLevel::INFO, L"Start Postlude.");
    const std::wstring installDir = AcceptInstallDir(log, options.installDir);
    log.Write(LogLevel::INFO, FormatRecord(L"InstallDir is %s", installDir).c_str());
    const unsigned failedRegistrations = RunRequestedPass(log, options, installDir);
    log.Write(LogLevel::INFO, FormatRecord(L"InstallDir is %s", installDir).c_str());
    log.Write(LogLevel::INFO, FormatRecord(L"Commandline passed is %s", passedCommandLine).c_str());
    const int exitCode = LoggedRunExitCode(log, options, installDir, failedRegistrations);
    log.Close();
    return exitCode;
}
