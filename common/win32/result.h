// Short HRESULT ladders in the spirit of wil's RETURN_IF_FAILED, under the
// project's own prefix. Locals carry a name of their own, so a macro can be
// used where the caller has a variable or member of any ordinary name.
#pragma once

#include <windows.h>

#include <cstdio>
#include <exception>

#define VDX_RETURN_IF_FAILED(expr)                                 \
  do {                                                             \
    const HRESULT vdx_result_hr_local_ = (expr);                   \
    if (FAILED(vdx_result_hr_local_)) return vdx_result_hr_local_; \
  } while (0)

#define VDX_RETURN_HR_IF(hr, cond) \
  do {                             \
    if (cond) return (hr);         \
  } while (0)

#define VDX_RETURN_HR_IF_NULL(hr, ptr) VDX_RETURN_HR_IF(hr, (ptr) == nullptr)

#define VDX_RETURN_LAST_ERROR_IF(cond)         \
  do {                                         \
    if (cond) return ::win32::last_error_hr(); \
  } while (0)

#define VDX_RETURN_IF_WIN32_BOOL_FALSE(expr) VDX_RETURN_LAST_ERROR_IF(!(expr))
#define VDX_RETURN_LAST_ERROR_IF_NULL(expr) VDX_RETURN_LAST_ERROR_IF((expr) == nullptr)

namespace win32 {

// The calling thread's last error as an HRESULT, never S_OK.
inline HRESULT last_error_hr() noexcept {
  const DWORD e = ::GetLastError();
  return e == 0 ? E_FAIL : HRESULT_FROM_WIN32(e);
}

// Reports the exception being handled, what it says and where it was caught,
// on the debugger's output. Call it only inside a catch block: every
// boundary that must not let an exception through (COM methods, window and
// hook procedures, callbacks) reports what it stops rather than drop it.
inline void report_exception(const char* where) noexcept {
  const char* what = "an exception that is not a std::exception";
  try {
    throw;
  } catch (const std::exception& e) {
    what = e.what();
  } catch (...) {
    // `what` already says it.
  }
  char text[512];
  std::snprintf(text, sizeof text, "Exception stopped at %s: %s\n", where, what);
  ::OutputDebugStringA(text);
}

}  // namespace win32
