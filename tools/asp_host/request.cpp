// Request and its collections: every lookup by a text key gives a string
// list, empty for a key the request lacks, as a classic host does.

#include "tools/asp_host/arguments.h"
#include "tools/asp_host/page_objects.h"

#include "frame/text.h"
#include "frame/variants.h"
#include "frame/com_object.h"

#include <algorithm>
#include <cstring>
#include <memory>

namespace corvane::asp_host {

namespace {

// For Each over keys or values: a snapshot taken when the loop starts.
class TextEnumerator final : public ComObject<IEnumVARIANT> {
public:
    explicit TextEnumerator(std::shared_ptr<const std::vector<std::wstring>> items, size_t position = 0)
        : items_(std::move(items)), position_(position)
    {
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override
    {
        if (!items)
            return E_POINTER;
        ULONG done = 0;
        try {
            for (; done < count && position_ < items_->size(); ++done, ++position_)
                set_variant_text(&items[done], (*items_)[position_]);
        } catch (...) {
            for (ULONG i = 0; i < done; ++i)
                VariantClear(&items[i]);
            return E_OUTOFMEMORY;
        }
        if (fetched)
            *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        const size_t left = items_->size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }

    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position_ = 0;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override
    {
        if (!copy)
            return E_POINTER;
        *copy = new (std::nothrow) TextEnumerator(items_, position_);
        return *copy ? S_OK : E_OUTOFMEMORY;
    }

private:
    ~TextEnumerator() override = default;

    std::shared_ptr<const std::vector<std::wstring>> items_;
    size_t position_;
};


[[noreturn]] void raise_bad_index()
{
    throw ComponentError(DISP_E_BADINDEX, L"Request object", L"Index out of range");
}

int count_of(size_t size)
{
    return static_cast<int>(size);
}

}  // namespace

void set_enumerator(IUnknown** out, std::vector<std::wstring> items)
{
    auto shared = std::make_shared<const std::vector<std::wstring>>(std::move(items));
    *out = ComPtr<IEnumVARIANT>::adopt(new TextEnumerator(std::move(shared))).detach();
}

HRESULT StringList::get_Item(VARIANT i, VARIANT* pVariantReturn)
{
    return member([&] {
        check_out(pVariantReturn);
        state_->enter(L"StringList", L"Item");
        const Variant index = plain(i);
        if (is_missing(*index.get())) {
            // A key the request lacks reads as Empty, not as "".
            if (values_.empty())
                return;
            std::wstring joined;
            for (const std::wstring& value : values_)
                joined += (joined.empty() ? L"" : L", ") + value;
            set_variant_text(pVariantReturn, joined);
            return;
        }
        const std::optional<long> position = index_of(*index.get());
        if (!position)
            check_com(DISP_E_TYPEMISMATCH);
        if (*position < 1 || static_cast<size_t>(*position) > values_.size())
            raise_bad_index();
        set_variant_text(pVariantReturn, values_[static_cast<size_t>(*position - 1)]);
    });
}

HRESULT StringList::get_Count(int* cStrRet)
{
    return member([&] {
        check_out(cStrRet);
        state_->enter(L"StringList", L"Count");
        *cStrRet = count_of(values_.size());
    });
}

HRESULT StringList::get__NewEnum(IUnknown** ppEnumReturn)
{
    return member([&] {
        check_out(ppEnumReturn);
        state_->enter(L"StringList", L"_NewEnum");
        set_enumerator(ppEnumReturn, values_);
    });
}

ComPtr<StringList> RequestDictionary::values_of(std::wstring_view key) const
{
    const Collection::Entry* entry = collection().find(key);
    return make_object<StringList>(state_, entry ? entry->values : std::vector<std::wstring>{});
}

HRESULT RequestDictionary::get_Item(VARIANT Var, VARIANT* pVariantReturn)
{
    return member([&] {
        check_out(pVariantReturn);
        enter(L"Item");
        const Variant key = plain(Var);
        if (is_missing(*key.get())) {
            set_variant_text(pVariantReturn, collection().text());
            return;
        }
        if (const std::optional<long> position = index_of(*key.get())) {
            const auto& entries = collection().entries();
            if (*position < 1 || static_cast<size_t>(*position) > entries.size())
                raise_bad_index();
            const auto& values = entries[static_cast<size_t>(*position - 1)].values;
            set_variant_object(pVariantReturn, make_object<StringList>(state_, values).get());
            return;
        }
        set_variant_object(pVariantReturn, values_of(text_of(*key.get())).get());
    });
}

HRESULT RequestDictionary::get__NewEnum(IUnknown** ppEnumReturn)
{
    return member([&] {
        check_out(ppEnumReturn);
        enter(L"_NewEnum");
        std::vector<std::wstring> keys;
        for (const Collection::Entry& entry : collection().entries())
            keys.push_back(entry.key);
        set_enumerator(ppEnumReturn, std::move(keys));
    });
}

HRESULT RequestDictionary::get_Count(int* cStrRet)
{
    return member([&] {
        check_out(cStrRet);
        enter(L"Count");
        *cStrRet = count_of(collection().entries().size());
    });
}

HRESULT RequestDictionary::get_Key(VARIANT VarKey, VARIANT* pvar)
{
    return member([&] {
        check_out(pvar);
        enter(L"Key");
        const Variant key = plain(VarKey);
        if (const std::optional<long> position = index_of(*key.get())) {
            const auto& entries = collection().entries();
            if (*position < 1 || static_cast<size_t>(*position) > entries.size())
                raise_bad_index();
            set_variant_text(pvar, entries[static_cast<size_t>(*position - 1)].key);
            return;
        }
        if (const Collection::Entry* entry = collection().find(text_of(*key.get())))
            set_variant_text(pvar, entry->key);
    });
}

Request::Request(State state)
    : state_(std::move(state)),
      query_string_(make_object<RequestDictionary>(state_, &PageState::query_string, L"QueryString")),
      form_(make_object<RequestDictionary>(state_, &PageState::form, L"Form")),
      server_variables_(make_object<RequestDictionary>(state_, &PageState::server_variables, L"ServerVariables")),
      cookies_(make_object<RequestDictionary>(state_, &PageState::cookies, L"Cookies"))
{
}

HRESULT Request::get_Item(BSTR bstrVar, IDispatch** ppObjReturn)
{
    return member([&] {
        check_out(ppObjReturn);
        state_->enter(L"Request", L"Item");
        const std::wstring_view key = Bstr::view_of(bstrVar);
        for (const auto* source :
             {&state_->query_string, &state_->form, &state_->cookies, &state_->server_variables}) {
            if (const Collection::Entry* entry = source->find(key)) {
                *ppObjReturn = make_object<StringList>(state_, entry->values).detach();
                return;
            }
        }
        *ppObjReturn = make_object<StringList>(state_, std::vector<std::wstring>{}).detach();
    });
}

HRESULT Request::dictionary(const wchar_t* member_name, const ComPtr<RequestDictionary>& source,
                            IRequestDictionary** result)
{
    return member([&] {
        check_out(result);
        state_->enter(L"Request", member_name);
        *result = ComPtr<RequestDictionary>(source).detach();
    });
}

HRESULT Request::get_QueryString(IRequestDictionary** ppDictReturn)
{
    return dictionary(L"QueryString", query_string_, ppDictReturn);
}

HRESULT Request::get_Form(IRequestDictionary** ppDictReturn)
{
    return dictionary(L"Form", form_, ppDictReturn);
}

HRESULT Request::get_ServerVariables(IRequestDictionary** ppDictReturn)
{
    return dictionary(L"ServerVariables", server_variables_, ppDictReturn);
}

HRESULT Request::get_TotalBytes(LONG* pcbTotal)
{
    return member([&] {
        check_out(pcbTotal);
        state_->enter(L"Request", L"TotalBytes");
        const size_t total = state_->request_body ? state_->request_body->size() : ansi_of(state_->form.text()).size();
        *pcbTotal = static_cast<LONG>(total);
    });
}

HRESULT Request::get_Cookies(IRequestDictionary** ppDictReturn)
{
    return dictionary(L"Cookies", cookies_, ppDictReturn);
}

// Reads the raw body from where the last read stopped, as many bytes as
// asked for and left; the count comes back as the number read.
HRESULT Request::BinaryRead(VARIANT* pvarCountToRead, VARIANT* pvarReturn)
{
    return member([&] {
        check_out(pvarReturn);
        state_->enter(L"Request", L"BinaryRead");
        if (!pvarCountToRead)
            check_com(E_POINTER);
        // A test page's body is its form, as TotalBytes counts it.
        if (!state_->request_body)
            state_->request_body = ansi_of(state_->form.text());
        const std::optional<long> asked = index_of(*plain(*pvarCountToRead).get());
        if (!asked || *asked < 0)
            check_com(DISP_E_TYPEMISMATCH);
        const std::string& body = *state_->request_body;
        const size_t count = std::min(static_cast<size_t>(*asked), body.size() - body_read_);
        set_variant_bytes(pvarReturn, std::string_view(body).substr(body_read_, count));
        body_read_ += count;
        // The count goes back into the caller's variable, however it came.
        if (V_VT(pvarCountToRead) == (VT_I4 | VT_BYREF)) {
            *V_I4REF(pvarCountToRead) = static_cast<LONG>(count);
            return;
        }
        VARIANT* count_out = V_VT(pvarCountToRead) == (VT_VARIANT | VT_BYREF) ? V_VARIANTREF(pvarCountToRead)
                                                                              : pvarCountToRead;
        VariantClear(count_out);
        V_VT(count_out) = VT_I4;
        V_I4(count_out) = static_cast<LONG>(count);
    });
}

// The host has no raw body dictionary or client certificate to offer.
HRESULT Request::get_Body(IRequestDictionary**) { return E_NOTIMPL; }
HRESULT Request::get_ClientCertificate(IRequestDictionary**) { return E_NOTIMPL; }

}  // namespace corvane::asp_host
