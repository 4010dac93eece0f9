#include "frame/keyed_collection.h"

#include "frame/dispatch.h"
#include "frame/error.h"
#include "frame/platform.h"
#include "frame/unknown_object.h"

#include <memory>
#include <new>

namespace corvane {

namespace {

constexpr int runtime_invalid_argument = 5;
constexpr int runtime_subscript_out_of_range = 9;
constexpr int runtime_type_mismatch = 13;

using Entries = std::vector<ComPtr<IDispatch>>;

// Walks the entries there were when it was made; entries are only ever
// added, so later additions do not disturb it.
class EntryEnumerator final : public UnknownObject<IEnumVARIANT> {
public:
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

// The index itself when it is a number or text; an object's default value.
Variant plain_index(const VARIANT& index)
{
    Variant plain;
    check_com(VariantCopyInd(plain.get(), const_cast<VARIANT*>(&index)));
    if (V_VT(plain.get()) == VT_DISPATCH) {
        Variant value;
        if (FAILED(VariantChangeType(value.get(), plain.get(), 0, VT_BSTR)) &&
            FAILED(VariantChangeType(value.get(), plain.get(), 0, VT_R8)))
            raise_runtime_error(runtime_type_mismatch);
        return value;
    }
    return plain;
}

bool is_number(VARTYPE type)
{
    switch (type) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8: case VT_INT:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8: case VT_UINT:
    case VT_R4: case VT_R8: case VT_CY: case VT_DECIMAL: case VT_BOOL:
        return true;
    default:
        return false;
    }
}

}  // namespace

std::wstring KeyedCollection::folded(std::wstring_view key)
{
    if (key.empty())
        return {};
    std::wstring result(key.size(), L'\0');
    const int length = static_cast<int>(key.size());
    if (platform().LCMapStringW(LOCALE_INVARIANT, LCMAP_UPPERCASE, key.data(), length, result.data(), length) !=
        length)
        return std::wstring(key);
    return result;
}

void KeyedCollection::add(ComPtr<IDispatch> entry, std::wstring_view key)
{
    std::wstring folded_key = folded(key);
    entries_->push_back(std::move(entry));
    try {
        first_with_key_.try_emplace(std::move(folded_key), entries_->size() - 1);
    } catch (...) {
        entries_->pop_back();
        throw;
    }
}

const ComPtr<IDispatch>& KeyedCollection::find(const VARIANT& index) const
{
    Variant plain = plain_index(index);
    const VARTYPE type = V_VT(plain.get());
    if (type == VT_BSTR) {
        const auto found = first_with_key_.find(folded(Bstr::view_of(V_BSTR(plain.get()))));
        if (found == first_with_key_.end())
            raise_runtime_error(runtime_invalid_argument);
        return (*entries_)[found->second];
    }
    if (!is_number(type))
        raise_runtime_error(runtime_type_mismatch);
    Variant position;
    if (FAILED(VariantChangeType(position.get(), plain.get(), 0, VT_I4)) || V_I4(position.get()) < 1 ||
        static_cast<size_t>(V_I4(position.get())) > entries_->size())
        raise_runtime_error(runtime_subscript_out_of_range);
    return (*entries_)[static_cast<size_t>(V_I4(position.get())) - 1];
}

ComPtr<IUnknown> KeyedCollection::enumerator() const
{
    return ComPtr<IUnknown>::adopt(new EntryEnumerator(entries_, entries_->size(), 0));
}

}  // namespace corvane
