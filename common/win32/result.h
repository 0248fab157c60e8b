// Short HRESULT ladders, in the spirit of wil's RETURN_IF_FAILED.
#pragma once

#include <windows.h>

#define RETURN_IF_FAILED(expr)                 \
  do {                                         \
    const HRESULT hr_ = (expr);                \
    if (FAILED(hr_)) return hr_;               \
  } while (0)

#define RETURN_HR_IF(hr, cond)                 \
  do {                                         \
    if (cond) return (hr);                     \
  } while (0)

#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF(hr, (ptr) == nullptr)

// The calling thread's last error as an HRESULT, never S_OK.
inline HRESULT last_error_hr() noexcept {
  const DWORD e = ::GetLastError();
  return e == 0 ? E_FAIL : HRESULT_FROM_WIN32(e);
}

#define RETURN_LAST_ERROR_IF(cond)             \
  do {                                         \
    if (cond) return last_error_hr();          \
  } while (0)

#define RETURN_IF_WIN32_BOOL_FALSE(expr) RETURN_LAST_ERROR_IF(!(expr))
#define RETURN_LAST_ERROR_IF_NULL(expr) RETURN_LAST_ERROR_IF((expr) == nullptr)
