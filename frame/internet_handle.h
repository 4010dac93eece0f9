#pragma once

#include "frame/platform.h"

#include <utility>

namespace corvane {

// Owns one WinInet handle and closes it through the platform seam when it
// goes, unless close() already did.
class InternetHandle {
public:
    InternetHandle() = default;
    explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    InternetHandle(InternetHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    InternetHandle& operator=(InternetHandle&& other) noexcept
    {
        InternetHandle old(std::exchange(handle_, std::exchange(other.handle_, nullptr)));
        return *this;
    }
    ~InternetHandle()
    {
        if (handle_)
            platform().InternetCloseHandle(handle_);
    }

    HINTERNET get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    // For calls that hand a new handle out through a parameter.
    HINTERNET* put()
    {
        *this = InternetHandle();
        return &handle_;
    }

    // Gives the handle up without closing it.
    HINTERNET release() { return std::exchange(handle_, nullptr); }

    // Closes now. On failure the handle stays held and the platform's
    // last-error code is left for the caller to read.
    bool close()
    {
        if (!handle_)
            return true;
        if (!platform().InternetCloseHandle(handle_))
            return false;
        handle_ = nullptr;
        return true;
    }

private:
    HINTERNET handle_ = nullptr;
};

}  // namespace corvane
