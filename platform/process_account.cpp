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
    // Room for a TOKEN_USER and the largest SID there is, aligned for the
    // pointer the structure starts with.
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE] = {};
    DWORD size = 0;
    if (!Os().getTokenInformation(token.Get(), TokenUser, buffer, sizeof buffer, &size)) {
        return Account::Unknown;
    }
    const auto* const user = reinterpret_cast<const TOKEN_USER*>(buffer);
    return ::IsWellKnownSid(user->User.Sid, WinLocalSystemSid) ? Account::LocalSystem : Account::Other;
}
