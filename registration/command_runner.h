#pragma once

#include <cstdint>

class InstallerLog;

// The longest command line the runner will start (its buffer less the NUL).
constexpr unsigned kMaxCommandLineLength = 1023;

// How long a child may run before it is ended (with every process it
// started, where the platform allows it): five minutes, far beyond any
// registration, short enough that an unattended installation never hangs.
constexpr unsigned long long kMillisecondsPerMinute = 60ull * 1000;
constexpr unsigned long long kChildTimeLimitMs = 5 * kMillisecondsPerMinute;

// What became of one command line: `result` as ExecuteCommandLine returns
// it, and whether that is the exit code of a child that ran to its end
// rather than a stand-in for a command that did not run, was cut short or
// whose exit code could not be read.
struct CommandOutcome {
    std::int32_t result = 0;
    bool isChildExitCode = false;
};

// Runs one command line as a windowless child process whose standard output
// and error go into a pipe that is read and discarded, waits for it to end
// and logs its exit code. Its result is the exit code, -1 when the pipe
// can't be set up or the command is too long, 0 when the child can't be
// started or waited for or did not end in time.
CommandOutcome RunCommandLine(InstallerLog& log, const wchar_t* commandLine);

inline std::int32_t ExecuteCommandLine(InstallerLog& log, const wchar_t* commandLine)
{
    return RunCommandLine(log, commandLine).result;
}
