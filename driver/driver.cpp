#include "driver/driver.h"

#include "driver/options.h"
#include "driver/run_end.h"
#include "log/installer_log.h"
#include "platform/command_line.h"
#include "platform/single_instance.h"
#include "registration/administrator_rights.h"
#include "registration/install_dir.h"
#include "registration/registration_passes.h"
#include "seeding/recent_projects_seeding.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kMutexName[] = L"QL_Postlude-{864f1458-2c1d-4074-afbb-7034b3805d2d}";
constexpr wchar_t kLogFileName[] = L"QLPostlude.log";
constexpr wchar_t kUsageMessage[] =
    L"Valid Option not provided, usage : Postlude_WB_QL_install.exe install / uninstall \"C:\\Program Files\"";

// No pass may see a directory that doesn't fit MAX_PATH; a longer one is
// refused whole rather than cut to a different, wrong directory.
InstallDir AcceptInstallDir(InstallerLog& log, const std::wstring& requested)
{
    if (std::optional<InstallDir> accepted = InstallDir::Accept(requested)) {
        return *accepted;
    }
    const std::wstring pattern = L"InstallDir refused: it is %s characters long, at most " +
                                 std::to_wstring(InstallDir::kMaxLength) + L" are accepted";
    log.Write(LogLevel::INFO, FormatRecord(pattern, std::to_wstring(requested.size())).c_str());
    return InstallDir();
}

// The machine's half of the post-install pass. Returns how many
// registrations did not succeed.
unsigned RegisterBoth(InstallerLog& log, const InstallDir& installDir)
{
    LogAdministratorRights(log);
    const unsigned failed = RegisterDlls(log);
    return failed + installDirRegisterDlls(log, installDir);
}

// Returns how many registrations did not succeed. The seeding's outcome
// never counts: a user's recent-projects file is no reason to fail an
// installation.
unsigned RunPostInstallPass(InstallerLog& log, const Options& options, const InstallDir& installDir)
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

void RunUninstallPass(InstallerLog& log, const InstallDir& installDir)
{
    log.Write(LogLevel::INFO, L"Running Postlude on uninstall.");
    log.Write(LogLevel::INFO, L"Start uninstallPostlude");
    LogAdministratorRights(log);
    // A removal is never failed: one that fails leaves a product nobody can
    // remove, so what the unregistration did is only logged.
    static_cast<void>(UnRegisterDlls(log, installDir));
    log.Write(LogLevel::INFO, L" End uninstallPostlude");
}

// Returns how many registrations of the post-install pass did not succeed
// (none for the other passes).
unsigned RunRequestedPass(InstallerLog& log, const Options& options, const InstallDir& installDir)
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

// What a logged run did not do of what it was started for, when the caller
// asked for a failure to be reported.
enum class RunFailure { None, NoPass, NoPart, Registrations };

RunFailure FailureOf(const Options& options, unsigned failedRegistrations)
{
    if (!options.failOnError) {
        return RunFailure::None;
    }
    if (options.requestedPass.empty()) {
        return RunFailure::NoPass;
    }
    if (options.requestedPass == L"Post_install" && options.part == PostInstallPart::Unknown) {
        return RunFailure::NoPart;
    }
    return failedRegistrations == 0 ? RunFailure::None : RunFailure::Registrations;
}

// ERROR_INSTALL_FAILURE, which Windows Installer and deployment tools read
// as a failed installation, for a run that failed; 0 otherwise.
int ExitCodeOf(RunFailure failure)
{
    return failure == RunFailure::None ? 0 : ERROR_INSTALL_FAILURE;
}

// The last record of a failed run: why it failed.
void LogWhyTheRunFailed(InstallerLog& log, RunFailure failure, const Options& options, const InstallDir& installDir,
                        unsigned failedRegistrations)
{
    switch (failure) {
    case RunFailure::None:
        return;
    case RunFailure::NoPass:
        log.Write(LogLevel::INFO,
                  FormatRecord(L"QL Custom Action: no pass was run: the names given were %s, and a pass is "
                               L"-Post_install 1 or -uninstall 1, exit code 1603",
                               ListNames(options.names))
                      .c_str());
        return;
    case RunFailure::NoPart:
        log.Write(LogLevel::INFO, L"QL Custom Action: no part of the post-install pass was run, exit code 1603");
        return;
    case RunFailure::Registrations:
        break;
    }
    if (installDir.IsEmpty()) {
        log.Write(LogLevel::INFO, (L"QL Custom Action: no usable installation folder was given: pass -installDir "
                                   L"with the product's folder, absolute, at most " +
                                   std::to_wstring(InstallDir::kMaxLength) + L" characters")
                                      .c_str());
    }
    const wchar_t* const pattern = failedRegistrations == 1
                                       ? L"QL Custom Action: %s registration did not succeed, exit code 1603"
                                       : L"QL Custom Action: %s registrations did not succeed, exit code 1603";
    log.Write(LogLevel::INFO, FormatRecord(pattern, std::to_wstring(failedRegistrations)).c_str());
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
    const SingleInstanceGuard guard(kMutexName);
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
    const InstallDir installDir = AcceptInstallDir(log, options.installDir);
    log.Write(LogLevel::INFO, FormatRecord(L"InstallDir is %s", installDir.Text()).c_str());
    const unsigned failedRegistrations = RunRequestedPass(log, options, installDir);
    log.Write(LogLevel::INFO, FormatRecord(L"InstallDir is %s", installDir.Text()).c_str());
    log.Write(LogLevel::INFO, FormatRecord(L"Commandline passed is %s", passedCommandLine).c_str());
    const RunFailure failure = FailureOf(options, failedRegistrations);
    LogWhyTheRunFailed(log, failure, options, installDir, failedRegistrations);
    log.Close();
    return ExitCodeOf(failure);
}
