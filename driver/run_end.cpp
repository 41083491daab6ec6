#include "driver/run_end.h"

#include "log/installer_log.h"

#include <windows.h>

#include <exception>
#include <new>

namespace {

// Enough for the last record and what writing it allocates.
constexpr std::size_t kReserveSize = std::size_t{64} * 1024;

void* g_reserve = nullptr;
InstallerLog* g_runLog = nullptr;

[[noreturn]] void EndTheRun(const wchar_t* why)
{
    // Writing the record runs out of memory too, at worst: then the run ends
    // without it rather than coming back here.
    static bool ending = false;
    if (!ending) {
        ending = true;
        // The memory set aside is given back first, so that the record's
        // rendering finds some.
        ::operator delete(g_reserve);
        g_reserve = nullptr;
        if (g_runLog != nullptr) {
            g_runLog->Write(LogLevel::INFO, why);
        }
    }
    ::ExitProcess(static_cast<UINT>(-1));
}

} // namespace

void EndTheRunQuietlyOnFatalErrors()
{
    if (g_reserve == nullptr) {
        // Through operator new, so that it returns to the store that
        // operator new draws on when it is given back.
        g_reserve = ::operator new(kReserveSize, std::nothrow);
    }
    std::set_new_handler([] { EndTheRun(L"QL Custom Action: not enough memory, the run was ended"); });
    std::set_terminate([] { EndTheRun(L"QL Custom Action: an unexpected error ended the run"); });
}

LastRecordGoesTo::LastRecordGoesTo(InstallerLog& log)
{
    g_runLog = &log;
}

LastRecordGoesTo::~LastRecordGoesTo()
{
    g_runLog = nullptr;
}
