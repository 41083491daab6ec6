#pragma once

#include "platform/unique_handle.h"

// Holds a named mutex that keeps a second instance from running. It is
// owned until the guard goes; a mutex that can't be created leaves the run
// unguarded rather than stopping it.
class SingleInstanceGuard {
public:
    explicit SingleInstanceGuard(const wchar_t* name);
    ~SingleInstanceGuard();
    SingleInstanceGuard(const SingleInstanceGuard&) = delete;
    SingleInstanceGuard& operator=(const SingleInstanceGuard&) = delete;

    bool AnotherInstanceRuns() const { return anotherInstanceRuns_; }

private:
    UniqueHandle mutex_;
    bool anotherInstanceRuns_ = false;
};
