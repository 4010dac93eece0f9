#pragma once
// The ordered, keyed collection behind FTPFiles and HTTPHeaders: entries in
// the order added, positions from 1, text keys compared without regard to
// case. Several entries may share a key (two files "Makefile" and
// "makefile", two Set-Cookie lines): the first holds the key, the others
// are reached by position and by enumeration. Lookups take constant time.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvane {

class KeyedCollection {
public:
    void add(ComPtr<IDispatch> entry, std::wstring_view key);

    size_t size() const { return entries_->size(); }

    // The entry an index selects, as a script's collection(index) does:
    // a number is a position (a fraction is rounded to the nearest whole
    // number, halves to even, as the runtime converts to Long), a text is a
    // key (a text of digits too), an object stands for its default value.
    // Fails with the runtime's errors 9 (no such position), 5 (no such key)
    // and 13 (an index that is neither).
    const ComPtr<IDispatch>& find(const VARIANT& index) const;

    // A new enumerator over the entries as they are now.
    ComPtr<IUnknown> enumerator() const;

    // Keys compare as equal exactly when these are equal.
    static std::wstring folded(std::wstring_view key);

private:
    // Shared with the enumerators made so far.
    std::shared_ptr<std::vector<ComPtr<IDispatch>>> entries_ = std::make_shared<std::vector<ComPtr<IDispatch>>>();
    std::unordered_map<std::wstring, size_t> first_with_key_;
};

}  // namespace corvane
