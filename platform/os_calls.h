#pragma once

#include <windows.h>

// The platform calls whose failure the program handles, in one table, so
// that tests can make any of them fail on purpose (Wine can't be talked into
// failing them for real). Production code calls them through Os();
// everything defaults to the real function, and tests swap single entries
// with ScopedOsOverride. The few calls made around the table, and why, are
// listed in the development guide.
struct OsCalls {
    // Start of a run
    HANDLE(WINAPI* createMutex)(LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR);
    BOOL(WINAPI* releaseMutex)(HANDLE);
    LPWSTR*(WINAPI* commandLineToArgv)(LPCWSTR, int*);
    // The process's own rights
    BOOL(WINAPI* openProcessToken)(HANDLE, DWORD, PHANDLE);
    BOOL(WINAPI* getTokenInformation)(HANDLE, TOKEN_INFORMATION_CLASS, LPVOID, DWORD, PDWORD);
    // Folders
    BOOL(WINAPI* getSpecialFolderPath)(HWND, LPWSTR, int, BOOL);
    DWORD(WINAPI* getTempPath)(DWORD, LPWSTR);
    // GetTempPath2W where the system has it (Windows 11, Server 2022, and
    // Windows 10 with the updates of 2025), null elsewhere: for the local
    // system account it names C:\Windows\SystemTemp, which no other user
    // may write, instead of C:\Windows\Temp, where any user may plant files.
    DWORD(WINAPI* getTempPath2)(DWORD, LPWSTR);
    // Child processes
    BOOL(WINAPI* createPipe)(PHANDLE, PHANDLE, LPSECURITY_ATTRIBUTES, DWORD);
    BOOL(WINAPI* setHandleInformation)(HANDLE, DWORD, DWORD);
    BOOL(WINAPI* peekNamedPipe)(HANDLE, LPVOID, DWORD, LPDWORD, LPDWORD, LPDWORD);
    BOOL(WINAPI* initializeProcThreadAttributeList)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD, PSIZE_T);
    // Refuses the job list before Windows 10.
    BOOL(WINAPI* updateProcThreadAttribute)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T, PVOID,
                                            PSIZE_T);
    BOOL(WINAPI* createProcess)(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                                LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION);
    HANDLE(WINAPI* createJobObject)(LPSECURITY_ATTRIBUTES, LPCWSTR);
    BOOL(WINAPI* setInformationJobObject)(HANDLE, JOBOBJECTINFOCLASS, LPVOID, DWORD);
    BOOL(WINAPI* assignProcessToJobObject)(HANDLE, HANDLE);
    DWORD(WINAPI* resumeThread)(HANDLE);
    DWORD(WINAPI* waitForSingleObject)(HANDLE, DWORD);
    BOOL(WINAPI* getExitCodeProcess)(HANDLE, LPDWORD);
    BOOL(WINAPI* terminateJobObject)(HANDLE, UINT);
    BOOL(WINAPI* terminateProcess)(HANDLE, UINT);
    // The clock that bounds a child's run time, in milliseconds.
    ULONGLONG(WINAPI* getTickCount64)();
    // Files
    HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* getFileInformationByHandle)(HANDLE, LPBY_HANDLE_FILE_INFORMATION);
    BOOL(WINAPI* readFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
    BOOL(WINAPI* setFilePointerEx)(HANDLE, LARGE_INTEGER, PLARGE_INTEGER, DWORD);
    BOOL(WINAPI* setEndOfFile)(HANDLE);
    BOOL(WINAPI* flushFileBuffers)(HANDLE);
    BOOL(WINAPI* moveFileEx)(LPCWSTR, LPCWSTR, DWORD);
    BOOL(WINAPI* deleteFile)(LPCWSTR);
    BOOL(WINAPI* createDirectory)(LPCWSTR, LPSECURITY_ATTRIBUTES);
    // The echo to a console
    BOOL(WINAPI* writeConsole)(HANDLE, const VOID*, DWORD, LPDWORD, LPVOID);
    // Text in code pages
    int(WINAPI* wideCharToMultiByte)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);
    int(WINAPI* multiByteToWideChar)(UINT, DWORD, LPCCH, int, LPWSTR, int);
    // Memory for buffers as large as the user's file
    LPVOID(WINAPI* heapAlloc)(HANDLE, DWORD, SIZE_T);
};

OsCalls& Os();

// GetTempPath2W as `module` exports it, or null where it does not: how Os()
// finds it in kernel32 at run time, since a program that imported it would
// not start on a system without it.
using TempPathCall = DWORD(WINAPI*)(DWORD, LPWSTR);
TempPathCall FindGetTempPath2In(HMODULE module);

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
