#pragma once
// Owners for COM references, automation strings and variants, so that no
// member pairs AddRef/Release or SysAllocString/SysFreeString by hand.

#include "frame/win32.h"

#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace corvane {

template <class Interface>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(std::nullptr_t) {}
    ComPtr(const ComPtr& other) : pointer_(other.pointer_) { add_ref(); }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ~ComPtr() { release(); }

    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(pointer_, other.pointer_);
        return *this;
    }

    // Takes over a reference the caller already owns.
    static ComPtr adopt(Interface* pointer)
    {
        ComPtr result;
        result.pointer_ = pointer;
        return result;
    }

    // Adds a reference of its own.
    static ComPtr share(Interface* pointer)
    {
        ComPtr result = adopt(pointer);
        result.add_ref();
        return result;
    }

    Interface* get() const { return pointer_; }
    Interface* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

    // For out-parameters: drops the current reference first.
    Interface** put()
    {
        release();
        return &pointer_;
    }

    // Hands the reference to the caller, e.g. into an [out, retval].
    Interface* detach() { return std::exchange(pointer_, nullptr); }

    template <class Other>
    ComPtr<Other> query() const
    {
        ComPtr<Other> result;
        if (pointer_)
            pointer_->QueryInterface(__uuidof(Other), reinterpret_cast<void**>(result.put()));
        return result;
    }

    void reset() { release(); }

private:
    void add_ref()
    {
        if (pointer_)
            pointer_->AddRef();
    }
    void release()
    {
        if (Interface* pointer = std::exchange(pointer_, nullptr))
            pointer->Release();
    }

    Interface* pointer_ = nullptr;
};

// An automation string owner.
class Bstr {
public:
    Bstr() = default;
    explicit Bstr(std::wstring_view text)
    {
        // A length past what the call takes would be cut, not refused.
        if (text.size() > std::numeric_limits<UINT>::max())
            throw std::bad_alloc();
        text_ = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!text_)
            throw std::bad_alloc();
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    Bstr(Bstr&& other) noexcept : text_(std::exchange(other.text_, nullptr)) {}
    Bstr& operator=(Bstr&& other) noexcept
    {
        std::swap(text_, other.text_);
        return *this;
    }
    ~Bstr() { SysFreeString(text_); }

    BSTR get() const { return text_; }
    BSTR* put()
    {
        SysFreeString(std::exchange(text_, nullptr));
        return &text_;
    }
    BSTR detach() { return std::exchange(text_, nullptr); }
    std::wstring_view view() const { return view_of(text_); }
    static std::wstring_view view_of(BSTR text) { return {text ? text : L"", SysStringLen(text)}; }

private:
    BSTR text_ = nullptr;
};

// A VARIANT owner: cleared on destruction.
class Variant {
public:
    Variant() { VariantInit(&value_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    Variant(Variant&& other) noexcept
    {
        value_ = other.value_;
        VariantInit(&other.value_);
    }
    Variant& operator=(Variant&& other) noexcept
    {
        std::swap(value_, other.value_);
        return *this;
    }
    ~Variant() { VariantClear(&value_); }

    VARIANT* get() { return &value_; }
    const VARIANT* get() const { return &value_; }
    VARIANT* put()
    {
        VariantClear(&value_);
        return &value_;
    }

private:
    VARIANT value_;
};

}  // namespace corvane
