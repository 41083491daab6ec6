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

// This process's own token as it is (elevated on Wine 8, limited on Wine 10
// and under UAC); a limited token and a token that can't be read come
// through the seam.
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

    os.openProcessToken = NoToken;
    EXPECT_EQ(RightsRecords(os),
              Messages{L"QL Custom Action: could not tell whether this process has administrator rights"});
}

// Wine 10, as Windows under UAC, starts a program with a limited token unless
// it is started elevated; Wine 8 gives every process an elevated one. The
// tests' expected records follow the token, so both must be what they are.
TEST(AdministratorRights, WineGivesTheTokenOfItsVersion)
{
    const int wine = WineMajorVersion();
    if (wine == 0) {
        GTEST_SKIP() << "not under Wine: the token is whatever the tests were started with";
    }
    EXPECT_EQ(ThisProcessIsElevated(), wine < 10) << "Wine " << wine;
}

} // namespace
