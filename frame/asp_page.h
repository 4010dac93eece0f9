#pragma once
// The page objects of an ASP page that created one of our objects: the
// host hands its scripting context to OnStartPage, and members that write
// into the page or read the request use these references.

#include "frame/com_ptr.h"
#include "frame/error_code.h"
#include "frame/win32.h"

#include <asptlb.h>

#include <string>
#include <string_view>

namespace corvane {

class AspPage {
public:
    // Raised, with the name of the page object missing in front of its
    // message, when a member needs a page and none is bound.
    explicit AspPage(const ErrorCode& not_bound) : not_bound_(not_bound) {}

    // Takes the Response, Request and Server of the context, in that order;
    // each one stays bound even if a later one fails.
    void bind(IDispatch* scripting_context);

    IResponse& response() const;
    IRequest& request() const;
    IServer& server() const;

    // The text of a request item, as a page script's Request.QueryString(key)
    // gives it: empty when the key is absent.
    std::wstring query_string(std::wstring_view key) const;
    std::wstring form(std::wstring_view key) const;
    std::wstring server_variable(std::wstring_view name) const;

    std::wstring url_encode(std::wstring_view text) const;
    void write(std::wstring_view text) const;

private:
    template <class PageObject>
    PageObject& bound(const ComPtr<PageObject>& object, const wchar_t* name) const;

    ErrorCode not_bound_;
    ComPtr<IResponse> response_;
    ComPtr<IRequest> request_;
    ComPtr<IServer> server_;
};

}  // namespace corvane
