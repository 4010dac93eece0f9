#pragma once
// The ordered, keyed collection behind the component's collections: entries in
// the order added, positions from 1, text keys compared without regard to
// case. Several entries may share a key (two files "Makefile" and
// "makefile", two Set-Cookie lines): the first holds the key, the others
// are reached by position and by enumeration. Lookups take constant time.

#include "frame/com_object.h"
#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane {

// The keys of a collection and the position each first appeared at.
class KeyIndex {
public:
    // Notes the key for the entry at `position`, unless it is taken.
    void add(std::wstring_view key, size_t position);

    // The position an index selects among `size` entries, as a script's
    // collection(index) does: a number is a position from 1 (a fraction is
    // rounded to the nearest whole number, halves to even, as the runtime
    // converts to Long), a text is a key (a text of digits too), an object
    // stands for its default value. Fails with the runtime's errors 9 (no
    // such position), 5 (no such key) and 13 (an index that is neither).
    size_t find(const VARIANT& index, size_t size) const;

    void reserve(size_t count) { first_with_key_.reserve(count); }

private:
    std::unordered_map<std::wstring, size_t> first_with_key_;
};

// Walks the entries there were when it was made; entries are only ever
// added, so later additions do not disturb it.
template <class Entry>
class EntryEnumerator final : public ComObject<IEnumVARIANT> {
public:
    using Entries = std::vector<ComPtr<Entry>>;

    EntryEnumerator(std::shared_ptr<const Entries> entries, size_t end, size_t next)
        : entries_(std::move(entries)), end_(end), next_(next)
    {
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* items, ULONG* fetched) override
    {
        if (!items || (wanted > 1 && !fetched))
            return E_POINTER;
        ULONG given = 0;
        while (given < wanted && next_ < end_) {
            VariantInit(&items[given]);
            IDispatch* entry = (*entries_)[next_++].get();
            entry->AddRef();
            V_VT(&items[given]) = VT_DISPATCH;
            V_DISPATCH(&items[given]) = entry;
            ++given;
        }
        if (fetched)
            *fetched = given;
        return given == wanted ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        const size_t left = end_ - next_;
        next_ += std::min<size_t>(count, left);
        return count <= left ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Reset() override
    {
        next_ = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override
    {
        if (!copy)
            return E_POINTER;
        *copy = new (std::nothrow) EntryEnumerator(entries_, end_, next_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~EntryEnumerator() override = default;

    std::shared_ptr<const Entries> entries_;
    size_t end_;
    size_t next_;
};

// Entry: one of our dispatch classes.
template <class Entry>
class KeyedCollection {
public:
    void add(ComPtr<Entry> entry, std::wstring_view key)
    {
        entries_->push_back(std::move(entry));
        try {
            keys_.add(key, entries_->size() - 1);
        } catch (...) {
            entries_->pop_back();
            throw;
        }
    }

    // Room for `count` entries in all, made at once.
    void reserve(size_t count)
    {
        entries_->reserve(count);
        keys_.reserve(count);
    }

    size_t size() const { return entries_->size(); }
    Entry& operator[](size_t position) const { return *(*entries_)[position].get(); }

    // See KeyIndex::find.
    Entry& find(const VARIANT& index) const { return (*this)[keys_.find(index, size())]; }

    // A new enumerator over the entries as they are now.
    ComPtr<IUnknown> enumerator() const
    {
        return ComPtr<IUnknown>::adopt(new EntryEnumerator<Entry>(entries_, entries_->size(), 0));
    }

private:
    // Shared with the enumerators made so far.
    std::shared_ptr<std::vector<ComPtr<Entry>>> entries_ = std::make_shared<std::vector<ComPtr<Entry>>>();
    KeyIndex keys_;
};

}  // namespace corvane
