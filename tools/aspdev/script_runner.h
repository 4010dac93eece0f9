#pragma once
// Runs a VBScript program with the platform's script engine, the page
// objects visible by name.

#include "frame/com_ptr.h"
#include "frame/win32.h"

#include <activscp.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvane::aspdev {

struct ScriptFailure {
    HRESULT number = E_FAIL;
    std::wstring source;
    std::wstring description;
    // Of the script, 0-based; nothing when the engine gave no position.
    std::optional<unsigned long> line;
};

struct NamedObject {
    std::wstring name;
    ComPtr<IDispatch> object;
};

// Runs the script to its end on the calling thread (an initialised
// apartment). `started` gets the engine before the script runs, for a
// watchdog on another thread to interrupt; `ended_normally` tells which
// failures are the page's normal end. Nothing on success.
std::optional<ScriptFailure> run_script(const std::wstring& script, const std::vector<NamedObject>& objects,
                                        const std::function<void(const ComPtr<IActiveScript>&)>& started,
                                        const std::function<bool(HRESULT)>& ended_normally);

}  // namespace corvane::aspdev
