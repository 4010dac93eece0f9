#pragma once

#include "frame/dispatch.h"
#include "frame/interfaces.h"
#include "frame/keyed_collection.h"
#include "ftp/ftp_file.h"

namespace corvane {

// The entries of one remote directory listing, in server order.
class FTPFiles final : public DispatchObject<_FTPFiles> {
public:
    static ComPtr<IUnknown> create();

    HRESULT STDMETHODCALLTYPE Count(LONG* result) override;
    HRESULT STDMETHODCALLTYPE Item(VARIANT var_idx, _FTPFile** result) override;
    HRESULT STDMETHODCALLTYPE NewEnum(IUnknown** result) override;

    // Builds one entry from a find record and adds it under its name.
    ComPtr<FTPFile> AddFile(const WIN32_FIND_DATAA& record);

    // The entries in order, for the component's own readers.
    size_t size() const { return entries.size(); }
    const FTPFile& entry(size_t index) const;

private:
    ~FTPFiles() override = default;

    KeyedCollection entries;
    std::vector<FTPFile*> in_order;  // the same entries, typed; owned by `entries`
};

}  // namespace corvane
