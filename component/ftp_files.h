#pragma once

#include "component/ftp_file.h"
#include "component/interfaces.h"
#include "frame/dispatch.h"
#include "frame/keyed_collection.h"
#include "ftp/listing.h"

#include <vector>

namespace corvane {

// The entries of one remote directory listing, in server order, each under
// its name.
class FTPFiles final : public DispatchObject<_FTPFiles> {
public:
    HRESULT STDMETHODCALLTYPE Count(LONG* result) override;
    HRESULT STDMETHODCALLTYPE Item(VARIANT index, _FTPFile** result) override;
    HRESULT STDMETHODCALLTYPE NewEnum(IUnknown** result) override;

    static ComPtr<FTPFiles> from_listing(std::vector<ftp::ListingEntry> listing);

private:
    ~FTPFiles() override = default;

    KeyedCollection<FTPFile> entries_;
};

}  // namespace corvane
