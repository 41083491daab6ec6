#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

// The child and, where the platform allows it, a job that holds it and every
// process it starts, so that a child that must be ended takes its own
// children with it.
struct ChildProcess {
    UniqueHandle process;
    UniqueHandle thread;
    UniqueHandle job;
};

// What the start fell back on, for the log: each, where it happened, as the
// system's error code; ERROR_SUCCESS where it did not.
struct StartReport {
    DWORD notCreated = ERROR_SUCCESS;         // the child could not be created
    DWORD notLetGo = ERROR_SUCCESS;           // created suspended, it could not be let go, and was ended
    DWORD notInJobAtOnce = ERROR_SUCCESS;     // it could not start inside its job, and was put in afterwards
    DWORD outsideJob = ERROR_SUCCESS;         // it runs without a job
    DWORD handlesNotLimited = ERROR_SUCCESS;  // it inherits every inheritable handle, not only its output
};

// Starts `commandLine` windowless, its standard output and error going to
// `output`, inside a job of its own where the system can. Returns whether it
// runs; `report` says what the start fell back on.
bool StartChild(const wchar_t* commandLine, HANDLE output, ChildProcess& child, StartReport& report);

// Ends a child that ran past its time, with everything it started where
// there is a job, and waits briefly until it is gone.
void EndChild(const ChildProcess& child);
