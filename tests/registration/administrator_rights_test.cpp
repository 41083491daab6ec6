#include "registration/administrator_rights.h"

#include "platform/os_calls.h"
#include "support/log_capture.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

using Messages = std::vector<std::wstring>;

template <DWORD elevated>
BOOL WINAPI TokenOfElevation(HANDLE, TOKEN_INFORMATION_CLASS which, LPVOID information, DWORD size, PDWORD needed)
{
    if (which != TokenElevation || size < sizeof(TOKEN_ELEVATION)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    static_cast<TOKEN_ELEVATION*>(information)->TokenIsElevated = elevated;
    *needed = sizeof(TOKEN_ELEVATION);
    return TRUE;
}

BOOL WINAPI NoInformation(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD)
{
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

BOOL WINAPI NoToken(HANDLE, DWORD, PHANDLE)
{
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

Messages RightsRecords(const OsCalls& os)
{
    LogCapture capture(L"rights");
    ScopedOsOverride override;
    Os() = os;
    LogAdministratorRights(capture.Log());
    return capture.Messages();
}

// This process's own token as it is, whichever Wine or Windows gives it; an
// elevated token, a limited one, a token whose elevation can't be read and
// one that can't be opened come through the seam.
TEST(AdministratorRights, SaysWhetherMachineWideRegistrationCanWork)
{
    OsCalls os = Os();
    EXPECT_EQ(RightsRecords(os), RightsRecordsOfThisToken());

    os.getTokenInformation = TokenOfElevation<1>;
    EXPECT_EQ(RightsRecords(os), Messages{L"QL Custom Action: running with administrator rights"});

    os.getTokenInformation = TokenOfElevation<0>;
    EXPECT_EQ(RightsRecords(os),
              (Messages{L"QL Custom Action: running without administrator rights",
                        L"QL Custom Action: warning: machine-wide registration will likely fail unless the "
                        L"installer runs this program elevated"}));

    os.getTokenInformation = NoInformation;
    EXPECT_EQ(RightsRecords(os),
              Messages{L"QL Custom Action: could not tell whether this process has administrator rights"});

    os.getTokenInformation = TokenOfElevation<1>;
    os.openProcessToken = NoToken;
    EXPECT_EQ(RightsRecords(os),
              Messages{L"QL Custom Action: could not tell whether this process has administrator rights"});
}

} // namespace
