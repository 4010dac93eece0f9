#pragma once
// One owner for every kind of system handle: the handle type and its close
// function make the kind, one alias line each.

#include "frame/win32.h"

#include <utility>

namespace corvane {

template <class Handle, auto close_function>
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        UniqueHandle old(std::exchange(handle_, std::exchange(other.handle_, nullptr)));
        return *this;
    }
    ~UniqueHandle()
    {
        if (handle_)
            close_function(handle_);
    }

    Handle get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // For calls that hand a new handle out through a parameter.
    Handle* put()
    {
        *this = UniqueHandle();
        return &handle_;
    }

    // Gives the handle up without closing it.
    Handle release() { return std::exchange(handle_, nullptr); }

    // Closes now. On failure the handle stays held and the system's
    // last-error code is left for the caller to read.
    bool close()
    {
        if (!handle_)
            return true;
        if (!close_function(handle_))
            return false;
        handle_ = nullptr;
        return true;
    }

private:
    Handle handle_ = nullptr;
};

namespace handle_closers {

inline bool registry(HKEY key)
{
    return RegCloseKey(key) == ERROR_SUCCESS;
}

inline bool file(HANDLE handle)
{
    return CloseHandle(handle) != FALSE;
}

}  // namespace handle_closers

using RegistryKey = UniqueHandle<HKEY, handle_closers::registry>;
// Never INVALID_HANDLE_VALUE: CreateFileW's failure is stored as none.
using FileHandle = UniqueHandle<HANDLE, handle_closers::file>;

}  // namespace corvane
