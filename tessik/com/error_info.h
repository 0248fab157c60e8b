// The component's own error: the watched program is not running.
#pragma once

#include <windows.h>

#include "com/resource.h"

namespace tessik {

// 0x80042710: its code is the identifier of its description string.
inline constexpr HRESULT kNotRunningError = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, IDS_NOT_RUNNING);

// Publishes the not-running error as the thread's error information (the
// description from the module's string table, the class's ProgID as the
// source) and returns kNotRunningError for the caller to return.
HRESULT NotRunningError() noexcept;

}  // namespace tessik
