#include "support/test_support.h"

#include "platform/os_calls.h"
#include "platform/unique_handle.h"
#include "platform/conversion.h"

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <map>
#include <stdexcept>

namespace testing_support {

namespace {

std::wstring ProcessTempFolder()
{
    wchar_t buffer[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, buffer);
    return buffer;
}

bool IsStamp(const std::wstring& line)
{
    static const wchar_t kShape[] = L"dd/dd/dd  dd:dd:dd";
    if (line.size() < 18) {
        return false;
    }
    for (std::size_t i = 0; i < 18; ++i) {
        const bool ok = kShape[i] == L'd' ? std::iswdigit(line[i]) != 0 : line[i] == kShape[i];
        if (!ok) {
            return false;
        }
    }
    return true;
}

std::wstring StampedLine(const std::wstring& level, const std::wstring& message)
{
    return L"##/##/##  ##:##:##  " + level + L"    " + message + L"\r\n";
}

} // namespace

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

void CreateFolders(const std::wstring& path)
{
    for (std::size_t separator = path.find(L'\\', 3); separator != std::wstring::npos;
         separator = path.find(L'\\', separator + 1)) {
        CreateDirectoryW(path.substr(0, separator).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
}

std::wstring MakeScratchFolder(const std::wstring& name)
{
    std::wstring folder = ProcessTempFolder() + L"ql-tests\\" + name;
    RemoveTree(folder);
    CreateFolders(folder);
    return folder;
}

std::string ReadBytes(const std::wstring& path)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file.IsValid()) {
        return std::string();
    }
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (!file.IsValid() || !WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        throw std::runtime_error("could not write a test file");
    }
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::wstring> FolderEntries(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    while (search != INVALID_HANDLE_VALUE) {
        if (entry.cFileName[0] != L'.') {
            names.emplace_back(entry.cFileName);
        }
        if (!FindNextFileW(search, &entry)) {
            FindClose(search);
            break;
        }
    }
    return names;
}

std::wstring DecodeUtf16(const std::string& bytes)
{
    std::wstring text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return text;
}

std::string EncodeUtf16(const std::wstring& text)
{
    std::string bytes;
    for (const wchar_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>((unit >> 8) & 0xFF));
    }
    return bytes;
}

std::wstring ProgramPath()
{
    wchar_t path[MAX_PATH] = {};
    GetEnvironmentVariableW(L"QL_PROGRAM", path, MAX_PATH);
    return path;
}

std::wstring Slashed(std::wstring path)
{
    std::replace(path.begin(), path.end(), L'\\', L'/');
    return path;
}

std::wstring TestBinaryFolder()
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    return folder.substr(0, folder.find_last_of(L'\\'));
}

bool RegistrationToolStandsIn()
{
    wchar_t value[8] = {};
    return GetEnvironmentVariableW(L"QL_STAND_IN_TOOL", value, 8) == 1 && value[0] == L'1';
}

std::wstring ComponentFolder()
{
    return RegistrationToolStandsIn() ? TestBinaryFolder() + L"\\x64" : TestBinaryFolder();
}

std::vector<std::wstring> MachineTypeNotes(const std::wstring& dll)
{
    if (!RegistrationToolStandsIn()) {
        return {};
    }
    return {L"QL Custom Action: the DLL is built for x64 (machine type 0x8664), which the 32-bit registration tool "
            L"cannot load: " +
            dll};
}

std::wstring SpecialFolder(int csidl)
{
    wchar_t buffer[MAX_PATH] = {};
    SHGetSpecialFolderPathW(nullptr, buffer, csidl, FALSE);
    return buffer;
}

std::wstring MaskTimestamps(const std::wstring& log)
{
    std::wstring masked;
    std::size_t start = 0;
    while (start < log.size()) {
        std::size_t end = log.find(L'\n', start);
        end = end == std::wstring::npos ? log.size() : end + 1;
        std::wstring line = log.substr(start, end - start);
        const std::size_t mark = start == 0 && !line.empty() && line[0] == 0xFEFF ? 1 : 0;
        if (IsStamp(line.substr(mark))) {
            line.replace(mark, 18, L"##/##/##  ##:##:##");
        }
        masked += line;
        start = end;
    }
    return masked;
}

std::wstring InfoLine(const std::wstring& message)
{
    return StampedLine(L" INFO          ", message);
}

std::wstring ErrorLine(const std::wstring& message)
{
    return StampedLine(L" ERROR         ", message);
}

std::wstring Lines(const std::vector<std::wstring>& messages)
{
    std::wstring text;
    for (const std::wstring& message : messages) {
        text += InfoLine(message);
    }
    return text;
}

std::vector<std::wstring> LogMessages(const std::wstring& path)
{
    std::wstring text = DecodeUtf16(ReadBytes(path));
    if (!text.empty() && text[0] == 0xFEFF) {
        text.erase(0, 1);
    }
    std::vector<std::wstring> messages;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find(L"\r\n", start);
        const std::wstring line = text.substr(start, end - start);
        messages.push_back(line.size() >= 39 ? line.substr(39) : line);
        if (end == std::wstring::npos) {
            break;
        }
        start = end + 2;
    }
    return messages;
}

void CollectRecords(const std::wstring& logPath)
{
    wchar_t records[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"QL_RECORDS_FILE", records, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || GetFileAttributesW(logPath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    std::string lines;
    for (const std::wstring& message : LogMessages(logPath)) {
        lines += ConvertToUtf8(message) + "\n";
    }
    const UniqueHandle file(CreateFileW(records, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file.IsValid() || !WriteFile(file.Get(), lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr) ||
        written != lines.size()) {
        throw std::runtime_error("the records could not be added to QL_RECORDS_FILE");
    }
}

namespace {
std::wstring g_redirectedTemp;
DWORD WINAPI RedirectedTempPath(DWORD, LPWSTR buffer)
{
    wcscpy(buffer, (g_redirectedTemp + L"\\").c_str());
    return static_cast<DWORD>(g_redirectedTemp.size() + 1);
}
} // namespace

void RedirectTempFolder(OsCalls& os, const std::wstring& folder)
{
    g_redirectedTemp = folder;
    os.getTempPath = RedirectedTempPath;
    os.getTempPath2 = nullptr;
}

namespace {

ULONGLONG g_pipeNeverEmptiesUntil = 0;

// Reports a full read from a pipe and leaves the bytes in it, so that the
// pipe never runs empty, until the pretence ends; files, and pipes after
// that, are read for real.
BOOL WINAPI ReadThatLeavesTheBytesInThePipe(HANDLE file, LPVOID buffer, DWORD wanted, LPDWORD read,
                                            LPOVERLAPPED overlapped)
{
    if (GetFileType(file) != FILE_TYPE_PIPE || ::GetTickCount64() >= g_pipeNeverEmptiesUntil) {
        return ReadFile(file, buffer, wanted, read, overlapped);
    }
    *read = wanted;
    return TRUE;
}

} // namespace

void PretendThePipeNeverEmpties(OsCalls& os, unsigned milliseconds)
{
    g_pipeNeverEmptiesUntil = ::GetTickCount64() + milliseconds;
    os.readFile = ReadThatLeavesTheBytesInThePipe;
}

bool NamedEventExists(const wchar_t* name)
{
    UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, name));
    return event.IsValid();
}

bool EndsWithin(const wchar_t* name, unsigned milliseconds)
{
    const DWORD start = GetTickCount();
    while (NamedEventExists(name)) {
        if (GetTickCount() - start > milliseconds) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

StartedProcess StartProcess(const std::wstring& commandLine, const Environment& environment, bool suspended,
                            bool inheritHandles, HANDLE standardOutput, HANDLE token)
{
    std::map<std::wstring, std::wstring> variables;
    wchar_t* block = GetEnvironmentStringsW();
    for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        const std::size_t equals = text.find(L'=', 1);
        if (equals != std::wstring::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    FreeEnvironmentStringsW(block);
    for (const auto& [name, value] : environment) {
        variables[name] = value;
    }
    std::wstring newBlock;
    for (const auto& [name, value] : variables) {
        newBlock.append(name).append(L"=").append(value);
        newBlock.push_back(L'\0');
    }
    newBlock.push_back(L'\0');

    StartedProcess started;
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (suspended ? CREATE_SUSPENDED : 0);
    // Wine, very rarely and only under load, fails to start a process that
    // starts the next time. A program that can't be started at all (a bad
    // image, a missing file) fails every attempt, so trying again hides no
    // fault of the programs under test; each retry is printed all the same.
    constexpr int kAttempts = 3;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        std::wstring mutableLine = commandLine;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (standardOutput != nullptr) {
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdOutput = standardOutput;
            startup.hStdError = standardOutput;
        }
        const bool inherit = inheritHandles || standardOutput != nullptr;
        PROCESS_INFORMATION info{};
        const BOOL inheritable = inherit ? TRUE : FALSE;
        const BOOL created =
            token == nullptr
                ? CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, inheritable, flags, &newBlock[0], nullptr,
                                 &startup, &info)
                : CreateProcessAsUserW(token, nullptr, &mutableLine[0], nullptr, nullptr, inheritable, flags,
                                       &newBlock[0], nullptr, &startup, &info);
        if (created) {
            started.process.Reset(info.hProcess);
            started.thread.Reset(info.hThread);
            started.error = 0;
            break;
        }
        started.error = GetLastError();
        std::fprintf(stderr, "starting %ls failed with error %lu (attempt %d of %d)\n", commandLine.c_str(),
                     started.error, attempt, kAttempts);
        if (attempt < kAttempts) {
            Sleep(200);
        }
    }
    return started;
}

namespace {

// Whether every thread of the process is suspended, as a process created
// suspended and never let go is: each thread is asked to suspend once more,
// which tells how often it was suspended before, and let go again.
bool IsSuspended(DWORD processId)
{
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    bool anyThread = false;
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != processId) {
            continue;
        }
        const UniqueHandle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
        const DWORD before = thread.IsValid() ? SuspendThread(thread.Get()) : static_cast<DWORD>(-1);
        if (before == static_cast<DWORD>(-1)) {
            continue;
        }
        ResumeThread(thread.Get());
        if (before == 0) {
            return false;
        }
        anyThread = true;
    }
    return anyThread;
}

} // namespace

bool RunsUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool HoldsAdministratorRights(HANDLE token)
{
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size)) {
        return false;
    }
    if (type == TokenElevationTypeLimited) {
        return false;
    }
    // A full token holds the rights only through the Administrators group:
    // UAC splits the tokens of other privileged groups too, and a token
    // restricted from a full one keeps its type with the group deny-only.
    // Membership is asked of an impersonation token: one made from this token.
    HANDLE impersonation = nullptr;
    if (!DuplicateToken(token, SecurityIdentification, &impersonation)) {
        return false;
    }
    const UniqueHandle owner(impersonation);
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof administrators;
    BOOL member = FALSE;
    return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize) &&
           CheckTokenMembership(impersonation, administrators, &member) && member;
}

namespace {

// This process's token, opened for `access`; empty where it can't be.
UniqueHandle ThisProcessToken(DWORD access)
{
    UniqueHandle token;
    OpenProcessToken(GetCurrentProcess(), access, token.Receive());
    return token;
}

} // namespace

bool ThisProcessIsElevated()
{
    const UniqueHandle token = ThisProcessToken(TOKEN_QUERY | TOKEN_DUPLICATE);
    return token.IsValid() && HoldsAdministratorRights(token.Get());
}

UniqueHandle LinkedPrimaryToken()
{
    const UniqueHandle token = ThisProcessToken(TOKEN_QUERY);
    TOKEN_LINKED_TOKEN linked{};
    DWORD size = 0;
    if (!token.IsValid() || !GetTokenInformation(token.Get(), TokenLinkedToken, &linked, sizeof linked, &size)) {
        return UniqueHandle();
    }
    const UniqueHandle linkedOwner(linked.LinkedToken);
    HANDLE primary = nullptr;
    if (!DuplicateTokenEx(linked.LinkedToken, MAXIMUM_ALLOWED, nullptr, SecurityImpersonation, TokenPrimary,
                          &primary)) {
        return UniqueHandle();
    }
    return UniqueHandle(primary);
}

std::vector<std::wstring> RightsRecordsFor(bool administrator)
{
    if (administrator) {
        return {L"QL Custom Action: running with administrator rights"};
    }
    return {L"QL Custom Action: running without administrator rights",
            L"QL Custom Action: warning: machine-wide registration will likely fail unless the installer runs this "
            L"program elevated"};
}

std::vector<std::wstring> RightsRecordsOfThisToken()
{
    return RightsRecordsFor(ThisProcessIsElevated());
}

unsigned EndChildrenOf(unsigned long parentId)
{
    unsigned suspended = 0;
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.Get(), &entry); more; more = Process32NextW(snapshot.Get(), &entry)) {
        if (entry.th32ParentProcessID == parentId) {
            suspended += IsSuspended(entry.th32ProcessID) ? 1 : 0;
            const UniqueHandle child(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
            if (child.IsValid()) {
                TerminateProcess(child.Get(), 9);
                WaitForSingleObject(child.Get(), 5000);
            }
        }
    }
    return suspended;
}

ProcessResult RunProcess(const std::wstring& commandLine, const Environment& environment, unsigned timeoutMs,
                         bool inheritHandles, HANDLE token)
{
    ProcessResult result;
    const StartedProcess started = StartProcess(commandLine, environment, false, inheritHandles, nullptr, token);
    if (!started.process.IsValid()) {
        result.startError = started.error;
        return result;
    }
    result.started = true;
    result.processId = GetProcessId(started.process.Get());
    if (WaitForSingleObject(started.process.Get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(started.process.Get(), 999);
        result.exitCode = 999;
        return result;
    }
    DWORD code = 0;
    GetExitCodeProcess(started.process.Get(), &code);
    result.exitCode = static_cast<std::int32_t>(code);
    return result;
}

ProcessResult RunProcessReadingOutput(const std::wstring& commandLine, const Environment& environment,
                                      std::string& output)
{
    ProcessResult result;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        return result;
    }
    const UniqueHandle reader(readEnd);
    UniqueHandle writer(writeEnd);
    SetHandleInformation(reader.Get(), HANDLE_FLAG_INHERIT, 0);
    const StartedProcess started = StartProcess(commandLine, environment, false, false, writer.Get());
    // Only the program holds the write end now, so the pipe ends with it.
    writer.Reset();
    if (!started.process.IsValid()) {
        result.startError = started.error;
        return result;
    }
    result.started = true;
    result.processId = GetProcessId(started.process.Get());
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(reader.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        output.append(buffer, read);
    }
    if (WaitForSingleObject(started.process.Get(), 120000) != WAIT_OBJECT_0) {
        TerminateProcess(started.process.Get(), 999);
        result.exitCode = 999;
        return result;
    }
    DWORD code = 0;
    GetExitCodeProcess(started.process.Get(), &code);
    result.exitCode = static_cast<std::int32_t>(code);
    return result;
}

} // namespace testing_support
