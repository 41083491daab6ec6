#pragma once

#include <windows.h>

// Sole owner of one kernel handle; closes it when it goes out of scope.
// Treats both null and INVALID_HANDLE_VALUE as "no handle", since Win32
// uses either depending on the call that produced it.
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { Reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    HANDLE Get() const { return handle_; }
    bool IsValid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }

    // For out-parameters of Win32 calls: closes what is held first.
    HANDLE* Receive()
    {
        Reset();
        return &handle_;
    }

    HANDLE Release()
    {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }

    void Reset(HANDLE handle = nullptr)
    {
        if (IsValid()) {
            ::CloseHandle(handle_);
        }
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

// For std::unique_ptr: gives back memory the system allocated with
// LocalAlloc for the caller (CommandLineToArgvW's list, for one).
struct LocalFreeDeleter {
    void operator()(void* memory) const { ::LocalFree(static_cast<HLOCAL>(memory)); }
};
