#include "registration/registration_passes.h"

#include "log/installer_log.h"
#include "platform/folders.h"
#include "registration/command_runner.h"
#include "registration/dll_check.h"
#include "registration/registration_command.h"
#include "text/conversion.h"
#include "text/narrow_text.h"

#include <shlobj.h>

#include <iterator>
#include <numeric>
#include <string>

namespace {

const wchar_t* const kSystemFolderDlls[] = {L"itcc.dll"};
const wchar_t* const kInstallDirDlls[] = {L"Wrenfold\\Vantabox.dll"};
constexpr wchar_t kUnregisteredDll[] = L"\\Wrenfold\\Vantabox.dll";

// The buffers the installation directory must fit, terminator
// included: MAX_PATH when registering, 1024 when unregistering.
constexpr std::size_t kRegisterDirCapacity = MAX_PATH;
constexpr std::size_t kUnregisterDirCapacity = 1024;

std::wstring FetchSystemFolder(InstallerLog& log)
{
    std::wstring folder;
    if (!FetchSpecialFolder(CSIDL_SYSTEMX86, folder)) {
        log.Write(LogLevel::INFO, L"QL Custom Action: Unable to Fetch system32 folder");
    }
    return folder;
}

// The installation directory as the passes use it, or empty (after the
// record that says why) when it can't be used. The directory is used exactly
// as given: a round trip through the ANSI code page would turn characters it
// lacks into '?' or into look-alikes (a full-width X into a plain X), which
// could point the registration tool at a different, existing folder.
std::wstring AcceptInstallDir(InstallerLog& log, const wchar_t* installDir, std::size_t capacity)
{
    std::wstring folder = installDir;
    if (folder.empty()) {
        log.Write(LogLevel::INFO, L"QL Custom Action: could not convert installation directory into unicode");
        return folder;
    }
    if (folder.size() >= capacity) {
        // A cut path would name some other file; refuse it instead.
        log.Write(LogLevel::INFO, L"QL Custom Action: converted installation directory is too long, no command run");
        folder.clear();
    }
    return folder;
}

// The tool's exit code alone says little to whoever reads the log.
void LogExitCodeMeaning(InstallerLog& log, std::int32_t exitCode)
{
    const std::wstring pattern =
        L"QL Custom Action: the registration tool's exit code " + std::to_wstring(exitCode) + L" means: %s";
    log.Write(LogLevel::INFO, FormatRecord(pattern, RegistrationExitMeaning(exitCode)).c_str());
}

// Runs one registration command, unless its tool or DLL would come from a
// place nobody vouches for. True only when the tool ran to its end and
// returned 0.
bool RunRegistrationCommand(InstallerLog& log, const std::wstring& systemFolder, std::wstring_view switches,
                            const std::wstring& dllPath)
{
    if (systemFolder.empty()) {
        // The tool's path would resolve against the current drive's root,
        // where anyone may have put a program of that name.
        log.Write(LogLevel::INFO, L"QL Custom Action: no command run, the system folder is unknown");
        return false;
    }
    const std::wstring command = BuildRegistrationCommand(systemFolder, switches, dllPath);
    log.Write(LogLevel::INFO, L"QL Custom Action: Executing Following command Line:");
    log.Write(LogLevel::INFO, WidenBytes(ConvertToUtf8(command)).c_str());
    LogWhatKeepsTheDllFromLoading(log, dllPath);
    const CommandOutcome outcome = RunCommandLine(log, command.c_str());
    if (outcome.isChildExitCode && outcome.result != 0) {
        LogExitCodeMeaning(log, outcome.result);
    }
    return outcome.isChildExitCode && outcome.result == 0;
}

// Registers each of `dlls` under `folder`, in order; returns how many did not
// register.
template <std::size_t N>
unsigned RegisterEach(InstallerLog& log, const std::wstring& systemFolder, const std::wstring& folder,
                      const wchar_t* const (&dlls)[N])
{
    return std::accumulate(std::begin(dlls), std::end(dlls), 0u, [&](unsigned failed, const wchar_t* dll) {
        return failed + (RunRegistrationCommand(log, systemFolder, kRegisterSwitch, folder + L"\\" + dll) ? 0u : 1u);
    });
}

// Whether the pass may run commands for this directory; says why not.
bool IsFolderForCommands(InstallerLog& log, const std::wstring& folder)
{
    if (IsUsableInstallFolder(folder)) {
        return true;
    }
    log.Write(LogLevel::INFO, FormatRecord(L"QL Custom Action: installation directory is not a usable folder name, "
                                           L"no command run: %s",
                                           folder)
                                  .c_str());
    return false;
}

} // namespace

unsigned RegisterDlls(InstallerLog& log)
{
    log.Write(LogLevel::INFO, L"QL Custom Action:  In RegisterDlls function");
    const std::wstring systemFolder = FetchSystemFolder(log);
    const unsigned failed = RegisterEach(log, systemFolder, systemFolder, kSystemFolderDlls);
    log.Write(LogLevel::INFO, L"QL Custom Action: RegisterDlls ended");
    return failed;
}

unsigned installDirRegisterDlls(InstallerLog& log, const wchar_t* installDir)
{
    constexpr unsigned kAll = static_cast<unsigned>(std::size(kInstallDirDlls));
    log.Write(LogLevel::INFO, L"QL Custom Action:  In installDirRegisterDlls function");
    const std::wstring systemFolder = FetchSystemFolder(log);
    const std::wstring accepted = AcceptInstallDir(log, installDir, kRegisterDirCapacity);
    if (accepted.empty()) {
        return kAll;
    }
    log.Write(LogLevel::INFO, L"QL Custom Action: converted INSTALLDIR into TCHAR");
    unsigned failed = kAll;
    if (IsFolderForCommands(log, accepted)) {
        failed = RegisterEach(log, systemFolder, WithoutTrailingBackslash(accepted), kInstallDirDlls);
    }
    log.Write(LogLevel::INFO, L"QL Custom Action: installDirRegisterDlls ended");
    return failed;
}

unsigned UnRegisterDlls(InstallerLog& log, const wchar_t* installDir)
{
    log.Write(LogLevel::INFO, L"QL Custom Action:  In UnRegisterDlls function");
    const std::wstring systemFolder = FetchSystemFolder(log);
    const std::wstring accepted = AcceptInstallDir(log, installDir, kUnregisterDirCapacity);
    if (accepted.empty()) {
        return 1;
    }
    unsigned failed = 1;
    if (IsFolderForCommands(log, accepted)) {
        const std::wstring folder = WithoutTrailingBackslash(accepted);
        failed = RunRegistrationCommand(log, systemFolder, kUnregisterSwitch, folder + kUnregisteredDll) ? 0 : 1;
    }
    log.Write(LogLevel::INFO, L"QL Custom Action: UnRegisterDlls ended");
    return failed;
}
