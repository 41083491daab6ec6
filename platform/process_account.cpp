#include "platform/process_account.h"

#include "platform/os_calls.h"
#include "platform/unique_handle.h"

#include <windows.h>

Account QueryProcessAccount()
{
    UniqueHandle token;
    if (!Os().openProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Receive())) {
        return Account::Unknown;
    }
    // A TOKEN_USER and the largest SID there is fit; aligned for the
    // pointer the structure starts with.
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } buffer{};
    DWORD size = 0;
    if (!Os().getTokenInformation(token.Get(), TokenUser, &buffer, sizeof buffer, &size)) {
        return Account::Unknown;
    }
    return ::IsWellKnownSid(buffer.user.User.Sid, WinLocalSystemSid) ? Account::LocalSystem : Account::Other;
}
