#pragma once

#include <windows.h>

// The few platform calls that tests must be able to make fail on purpose
// (Wine can't be talked into failing them for real). Production code calls
// them through Os(); everything defaults to the real function, and tests
// swap single entries with ScopedOsOverride.
struct OsCalls {
    BOOL(WINAPI* getSpecialFolderPath)(HWND, LPWSTR, int, BOOL);
    DWORD(WINAPI* getTempPath)(DWORD, LPWSTR);
    BOOL(WINAPI* createPipe)(PHANDLE, PHANDLE, LPSECURITY_ATTRIBUTES, DWORD);
    BOOL(WINAPI* setHandleInformation)(HANDLE, DWORD, DWORD);
    BOOL(WINAPI* createProcess)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
    DWORD(WINAPI* waitForSingleObject)(HANDLE, DWORD);
    BOOL(WINAPI* getExitCodeProcess)(HANDLE, LPDWORD);
    BOOL(WINAPI* readFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
};

OsCalls& Os();

// Restores every entry on destruction, so a test can't leak a fake.
class ScopedOsOverride {
public:
    ScopedOsOverride() : saved_(Os()) {}
    ~ScopedOsOverride() { Os() = saved_; }
    ScopedOsOverride(const ScopedOsOverride&) = delete;
    ScopedOsOverride& operator=(const ScopedOsOverride&) = delete;
    OsCalls* operator->() { return &Os(); }

private:
    OsCalls saved_;
};
