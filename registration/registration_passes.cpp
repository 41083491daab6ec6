#include "registration/registration_passes.h"

#include "log/installer_log.h"
#include "platform/conversion.h"
#include "platform/folders.h"
#include "registration/command_runner.h"
#include "registration/dll_check.h"
#include "registration/registration_command.h"
#include "text/narrow_text.h"

#include <shlobj.h>

#include <algorithm>
#include <iterator>
#include <string>

namespace {

// Where a component lives: the 32-bit system folder, or under the
// installation directory.
enum class Place { SystemFolder, InstallDir };

struct Component {
    Place place;
    const wchar_t* path;  // relative to its place
};

// The product's components. The uninstall pass unregisters those under the
// installation directory; the system folder's stay, for other products.
const Component kComponents[] = {
    {Place::SystemFolder, L"itcc.dll"},
    {Place::InstallDir, L"Wrenfold\\Vantabox.dll"},
};

// What one pass does, to the components of one place.
struct Pass {
    const wchar_t* name;  // as its records name it
    Place place;
    std::wstring_view switches;
};

constexpr Pass kRegisterSystemFolder = {L"RegisterDlls", Place::SystemFolder, kRegisterSwitch};
constexpr Pass kRegisterInstallDir = {L"installDirRegisterDlls", Place::InstallDir, kRegisterSwitch};
constexpr Pass kUnregisterInstallDir = {L"UnRegisterDlls", Place::InstallDir, kUnregisterSwitch};

unsigned ComponentsOf(const Pass& pass)
{
    return static_cast<unsigned>(std::count_if(std::begin(kComponents), std::end(kComponents),
                                                [&](const Component& component) { return component.place == pass.place; }));
}

void LogPassStart(InstallerLog& log, const Pass& pass)
{
    log.Write(LogLevel::INFO, (L"QL Custom Action:  In " + std::wstring(pass.name) + L" function").c_str());
}

void LogPassEnd(InstallerLog& log, const Pass& pass)
{
    log.Write(LogLevel::INFO, (L"QL Custom Action: " + std::wstring(pass.name) + L" ended").c_str());
}

std::wstring FetchSystemFolder(InstallerLog& log)
{
    std::wstring folder;
    if (!FetchSpecialFolder(CSIDL_SYSTEMX86, folder)) {
        log.Write(LogLevel::INFO, L"QL Custom Action: Unable to Fetch system32 folder");
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

// Runs the pass's command for each of its components under `folder`, in
// order; returns how many did not succeed.
unsigned RunForEachComponent(InstallerLog& log, const Pass& pass, const std::wstring& systemFolder,
                             const std::wstring& folder)
{
    return static_cast<unsigned>(
        std::count_if(std::begin(kComponents), std::end(kComponents), [&](const Component& component) {
            return component.place == pass.place &&
                   !RunRegistrationCommand(log, systemFolder, pass.switches, folder + L"\\" + component.path);
        }));
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

// A pass over the components under the installation directory. The
// directory is used exactly as given: a round trip through the ANSI code
// page would turn characters it lacks into '?' or into look-alikes (a
// full-width X into a plain X), which could point the registration tool at
// a different, existing folder.
unsigned RunInstallDirPass(InstallerLog& log, const Pass& pass, const InstallDir& installDir)
{
    LogPassStart(log, pass);
    const std::wstring systemFolder = FetchSystemFolder(log);
    if (installDir.IsEmpty()) {
        log.Write(LogLevel::INFO, L"QL Custom Action: could not convert installation directory into unicode");
        return ComponentsOf(pass);
    }
    // Said by the registering pass only, as it always was.
    if (pass.switches == kRegisterSwitch) {
        log.Write(LogLevel::INFO, L"QL Custom Action: converted INSTALLDIR into TCHAR");
    }
    unsigned failed = ComponentsOf(pass);
    if (IsFolderForCommands(log, installDir.Text())) {
        failed = RunForEachComponent(log, pass, systemFolder, WithoutTrailingBackslash(installDir.Text()));
    }
    LogPassEnd(log, pass);
    return failed;
}

} // namespace

unsigned RegisterDlls(InstallerLog& log)
{
    LogPassStart(log, kRegisterSystemFolder);
    const std::wstring systemFolder = FetchSystemFolder(log);
    const unsigned failed = RunForEachComponent(log, kRegisterSystemFolder, systemFolder, systemFolder);
    LogPassEnd(log, kRegisterSystemFolder);
    return failed;
}

unsigned installDirRegisterDlls(InstallerLog& log, const InstallDir& installDir)
{
    return RunInstallDirPass(log, kRegisterInstallDir, installDir);
}

unsigned UnRegisterDlls(InstallerLog& log, const InstallDir& installDir)
{
    return RunInstallDirPass(log, kUnregisterInstallDir, installDir);
}
