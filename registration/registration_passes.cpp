#include "registration/registration_passes.h"

#include "log/installer_log.h"
#include "platform/folders.h"
#include "registration/command_runner.h"
#include "registration/registration_command.h"
#include "text/conversion.h"
#include "text/narrow_text.h"

#include <shlobj.h>

#include <string>

namespace {

const wchar_t* const kSystemFolderDlls[] = {L"itcc.dll"};
const wchar_t* const kInstallDirDlls[] = {L"Wrenfold\\Vantabox.dll"};
constexpr wchar_t kUnregisteredDll[] = L"\\Wrenfold\\Vantabox.dll";

// The buffers the converted installation directory must fit, terminator
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
// record that says why) when it can't be used.
std::wstring ConvertInstallDir(InstallerLog& log, const wchar_t* installDir, std::size_t capacity)
{
    std::wstring converted = ConvertToUnicode(installDir);
    if (converted.empty()) {
        log.Write(LogLevel::INFO, L"QL Custom Action: could not convert installation directory into unicode");
        return converted;
    }
    if (converted.size() >= capacity) {
        // A cut path would name some other file; refuse it instead.
        log.Write(LogLevel::INFO, L"QL Custom Action: converted installation directory is too long, no command run");
        converted.clear();
    }
    return converted;
}

void RunRegistrationCommand(InstallerLog& log, const std::wstring& systemFolder, std::wstring_view switches,
                            const std::wstring& dllPath)
{
    const std::wstring command = BuildRegistrationCommand(systemFolder, switches, dllPath);
    log.Write(LogLevel::INFO, L"QL Custom Action: Executing Following command Line:");
    log.Write(LogLevel::INFO, WidenBytes(ConvertToUtf8(command)).c_str());
    ExecuteCommandLine(log, command.c_str());
}

} // namespace

void RegisterDlls(InstallerLog& log)
{
    log.Write(LogLevel::INFO, L"QL Custom Action:  In RegisterDlls function");
    const std::wstring systemFolder = FetchSystemFolder(log);
    for (const wchar_t* dll : kSystemFolderDlls) {
        RunRegistrationCommand(log, systemFolder, kRegisterSwitch, systemFolder + L"\\" + dll);
    }
    log.Write(LogLevel::INFO, L"QL Custom Action: RegisterDlls ended");
}

void installDirRegisterDlls(InstallerLog& log, const wchar_t* installDir)
{
    log.Write(LogLevel::INFO, L"QL Custom Action:  In installDirRegisterDlls function");
    const std::wstring systemFolder = FetchSystemFolder(log);
    const std::wstring converted = ConvertInstallDir(log, installDir, kRegisterDirCapacity);
    if (converted.empty()) {
        return;
    }
    log.Write(LogLevel::INFO, L"QL Custom Action: converted INSTALLDIR into TCHAR");
    const std::wstring folder = WithoutTrailingBackslash(converted);
    for (const wchar_t* dll : kInstallDirDlls) {
        RunRegistrationCommand(log, systemFolder, kRegisterSwitch, folder + L"\\" + dll);
    }
    log.Write(LogLevel::INFO, L"QL Custom Action: installDirRegisterDlls ended");
}

void UnRegisterDlls(InstallerLog& log, const wchar_t* installDir)
{
    log.Write(LogLevel::INFO, L"QL Custom Action:  In UnRegisterDlls function");
    const std::wstring systemFolder = FetchSystemFolder(log);
    const std::wstring converted = ConvertInstallDir(log, installDir, kUnregisterDirCapacity);
    if (converted.empty()) {
        return;
    }
    const std::wstring folder = WithoutTrailingBackslash(converted);
    RunRegistrationCommand(log, systemFolder, kUnregisterSwitch, folder + kUnregisteredDll);
    log.Write(LogLevel::INFO, L"QL Custom Action: UnRegisterDlls ended");
}
