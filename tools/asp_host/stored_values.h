#pragma once
// Named values kept between requests, for Session and Application. Keys
// ignore letter case, as a classic host's do.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace corvane::asp_host {

class StoredValues {
public:
    // Empty for a name never set.
    void read(std::wstring_view name, VARIANT* out) const;
    // Empty removes the name.
    void write(std::wstring_view name, const VARIANT& value);
    void clear() { entries_.clear(); }
    size_t size() const { return entries_.size(); }
    // Objects live in the apartment of the page that stored them; a server
    // that loses that apartment drops them.
    void drop_objects();

private:
    std::vector<std::pair<std::wstring, Variant>> entries_;
};

struct SessionData {
    std::wstring id;
    StoredValues values;
    long timeout_minutes = 20;
    bool abandoned = false;
};

// The one session of a test page, whose id no cookie ever carries.
inline std::shared_ptr<SessionData> test_page_session()
{
    auto session = std::make_shared<SessionData>();
    session->id = L"1";
    return session;
}

}  // namespace corvane::asp_host
