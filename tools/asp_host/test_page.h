#pragma once
// Test host pages for C++ tests. They come from the host DLL built with the
// tests, loaded by its path: no registration is needed, and the host's type
// library stays in its own module, apart from the one of the program under
// test.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include "asp_test_page_h.h"

#include <string>
#include <vector>

namespace corvane::asp_host {

// A fresh page with an empty request.
ComPtr<IAspTestPage> new_page();

// What to hand to a component's OnStartPage.
ComPtr<IDispatch> context_of(IAspTestPage* page);

// The page's call log, one entry per Response call.
std::vector<std::wstring> calls_of(IAspTestPage* page);

// The headers added, "Name: value" each.
std::vector<std::wstring> headers_of(IAspTestPage* page);

std::wstring body_of(IAspTestPage* page);
std::string body_bytes_of(IAspTestPage* page);

}  // namespace corvane::asp_host
