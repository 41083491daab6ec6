#include "platform/single_instance.h"

#include "platform/os_calls.h"

SingleInstanceGuard::SingleInstanceGuard(const wchar_t* name) : mutex_(Os().createMutex(nullptr, TRUE, name))
{
    anotherInstanceRuns_ = mutex_.IsValid() && ::GetLastError() == ERROR_ALREADY_EXISTS;
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    // Not released, the mutex goes with its last handle, closed below.
    if (mutex_.IsValid() && !anotherInstanceRuns_) {
        Os().releaseMutex(mutex_.Get());
    }
}
