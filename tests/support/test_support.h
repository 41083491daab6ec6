#pragma once

#include "platform/unique_handle.h"

#include <cstdint>
#include <string>
#include <vector>

class InstallerLog;
struct OsCalls;

namespace testing_support {

// A fresh, empty folder under the test process's temporary folder.
std::wstring MakeScratchFolder(const std::wstring& name);
void RemoveTree(const std::wstring& folder);
void CreateFolders(const std::wstring& path);

std::string ReadBytes(const std::wstring& path);
void WriteBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
// The names of the files in a folder, so that a test sees anything left behind.
std::vector<std::wstring> FolderEntries(const std::wstring& folder);

std::wstring DecodeUtf16(const std::string& bytes);
std::string EncodeUtf16(const std::wstring& text);

// The built program under test (the QL_PROGRAM variable that ctest sets).
std::wstring ProgramPath();
// The path with every backslash turned into a forward slash.
std::wstring Slashed(std::wstring path);

// The folder that holds the test programs and their fixtures.
std::wstring TestBinaryFolder();

// Whether the registration tool in the 32-bit system folder is Wine's 64-bit
// one standing in for it, on a machine that can't run 32-bit code
// (QL_STAND_IN_TOOL, set by cmake/wine-run).
bool RegistrationToolStandsIn();
// The folder of the test components and the COM client that checks them,
// built for the machine type of the registration tool.
std::wstring ComponentFolder();
// The records the program writes before a command for `dll`, a test
// component, because of the component's machine type: none for the 32-bit
// tool, which takes the 32-bit components; under the stand-in, that the DLL
// is built for x64, which is true of what the stand-in registers.
std::vector<std::wstring> MachineTypeNotes(const std::wstring& dll);
std::wstring SpecialFolder(int csidl);

// A text log with each line's date and time replaced by "##/##/##  ##:##:##",
// after checking that they are digits in the right places. Lines whose stamp
// is malformed are left as they are, so that the comparison fails.
std::wstring MaskTimestamps(const std::wstring& log);

// One expected text-log line with its stamp masked.
std::wstring InfoLine(const std::wstring& message);
std::wstring ErrorLine(const std::wstring& message);
std::wstring Lines(const std::vector<std::wstring>& messages);

// The messages of a text log file (each line without its 39-character
// prefix and line end).
std::vector<std::wstring> LogMessages(const std::wstring& path);

// Appends the messages of a log the program wrote, as UTF-8 lines, to the
// file that QL_RECORDS_FILE names, where the suite gathers every record its
// runs wrote for the check that each is in the log reference, whole. Does
// nothing without the variable or the log.
void CollectRecords(const std::wstring& logPath);

// Makes the seam's temporary folder `folder`, for as long as `os` is overridden.
void RedirectTempFolder(OsCalls& os, const std::wstring& folder);

// Makes every read of a pipe through `os` leave what it read in the pipe for
// the next `milliseconds`, as a child that writes faster than anyone reads
// would, for as long as `os` is overridden; then reads are real again.
void PretendThePipeNeverEmpties(OsCalls& os, unsigned milliseconds);

// Whether a process that announces itself with the named event still runs
// (fake_tool hold NAME), and a wait of up to `milliseconds` for it to end.
bool NamedEventExists(const wchar_t* name);
bool EndsWithin(const wchar_t* name, unsigned milliseconds);

using Environment = std::vector<std::pair<std::wstring, std::wstring>>;

struct StartedProcess {
    UniqueHandle process;
    UniqueHandle thread;
    unsigned long error = 0; // why CreateProcess failed, when it did
};

// Starts a program exactly with `commandLine` and `environment` (an
// override of the named variables of this process's environment), without
// waiting for it; suspended when asked, so that several can be let go at once.
// With `standardOutput`, the program gets it as its standard output and
// error, and inherits it. With `token`, the program runs with that token
// rather than this process's.
StartedProcess StartProcess(const std::wstring& commandLine, const Environment& environment = {},
                            bool suspended = false, bool inheritHandles = false, HANDLE standardOutput = nullptr,
                            HANDLE token = nullptr);

struct ProcessResult {
    bool started = false;
    std::int32_t exitCode = 0;
    unsigned long processId = 0;
    unsigned long startError = 0; // why it did not start, when it didn't
};

// Whether these tests run under Wine rather than Windows (its ntdll says so).
bool RunsUnderWine();

// Whether `token` holds administrator rights. An administrator's limited
// token under UAC does not, whatever its groups say (Wine's limited token
// has the Administrators group enabled); any other token, full or linked to
// none (UAC off, the local system account, a standard user), holds them
// exactly when the Administrators group is enabled in it, as
// CheckTokenMembership tells: not deny-only, and among a restricted token's
// restricting SIDs. `token` needs TOKEN_QUERY and TOKEN_DUPLICATE; a token
// that can't be asked counts as holding none. The program asks the token's
// elevation instead: two ways that agree on the tokens these tests get.
bool HoldsAdministratorRights(HANDLE token);
bool ThisProcessIsElevated();

// The token linked to this process's (the limited one of an elevated
// administrator, the full one of a limited), as a primary token a program
// can be started with; empty where there is none or it can't be made one.
// Windows gives a caller without the TCB privilege the linked token at the
// identification level only, which no duplicate may raise: there it is
// always empty. Wine gives it at that level too, but lets it be raised.
UniqueHandle LinkedPrimaryToken();

// The records a pass starts with about its rights, for a program that runs
// with a token that holds administrator rights or one that does not.
std::vector<std::wstring> RightsRecordsFor(bool administrator);
std::vector<std::wstring> RightsRecordsOfThisToken();

// Ends, by their ids, the processes that the process `parentId` started and
// left running, after it has looked at them: returns how many were left
// suspended, which would have waited for ever, holding whatever they
// inherited and the DLL they were to register.
unsigned EndChildrenOf(unsigned long parentId);

// Starts a program as StartProcess does, waits for it and returns its exit
// code (999 when it had to be ended after `timeoutMs`).
ProcessResult RunProcess(const std::wstring& commandLine, const Environment& environment = {},
                         unsigned timeoutMs = 120000, bool inheritHandles = false, HANDLE token = nullptr);

// Runs a program as RunProcess does, with a pipe as its standard output, as
// installers that copy a program's output into their own log start it; the
// bytes it wrote there go to `output` (999 as its exit code when it had to
// be ended).
ProcessResult RunProcessReadingOutput(const std::wstring& commandLine, const Environment& environment,
                                      std::string& output);

} // namespace testing_support
