#include "registration/administrator_rights.h"

#include "log/installer_log.h"
#include "platform/os_calls.h"
#include "platform/unique_handle.h"

#include <windows.h>

namespace {

enum class Rights { Administrator, Restricted, Unknown };

// Under UAC an administrator's unelevated token is a restricted one, so the
// token's elevation, not group membership, tells what the process may write.
Rights QueryRights()
{
    UniqueHandle token;
    if (!Os().openProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) {
        return Rights::Unknown;
    }
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (!Os().getTokenInformation(token.Get(), TokenElevation, &elevation, sizeof elevation, &size)) {
        return Rights::Unknown;
    }
    return elevation.TokenIsElevated != 0 ? Rights::Administrator : Rights::Restricted;
}

} // namespace

void LogAdministratorRights(InstallerLog& log)
{
    switch (QueryRights()) {
    case Rights::Administrator:
        log.Write(LogLevel::INFO, L"QL Custom Action: running with administrator rights");
        break;
    case Rights::Restricted:
        log.Write(LogLevel::INFO, L"QL Custom Action: running without administrator rights");
        log.Write(LogLevel::INFO, L"QL Custom Action: warning: machine-wide registration will likely fail "
                                  L"unless the installer runs this program elevated");
        break;
    case Rights::Unknown:
        log.Write(LogLevel::INFO, L"QL Custom Action: could not tell whether this process has administrator rights");
        break;
    }
}
