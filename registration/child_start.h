#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

#include <optional>

// The child and, where the platform allows it, a job that holds it and every
// process it starts, so that a child that must be ended takes its own
// children with it.
struct ChildProcess {
    UniqueHandle process;
    UniqueHandle thread;
    UniqueHandle job;
};

// What the start fell back on, for the log: each, where it happened, with
// the system's error code.
struct StartReport {
    std::optional<DWORD> notCreated;      // the child could not be created
    std::optional<DWORD> notLetGo;        // created suspended, it could not be let go, and was ended
    std::optional<DWORD> notInJobAtOnce;  // it could not start inside its job, and was put in afterwards
    std::optional<DWORD> outsideJob;      // it runs without a job
};

// Starts `commandLine` windowless, its standard output and error going to
// `output`, inside a job of its own where the system can. Returns whether it
// runs; `report` says what the start fell back on.
bool StartChild(const wchar_t* commandLine, HANDLE output, ChildProcess& child, StartReport& report);

// Ends a child that ran past its time, with everything it started where
// there is a job, and waits briefly until it is gone.
void EndChild(const ChildProcess& child);
