// Short HRESULT ladders in the manner of wil's RETURN_IF_FAILED. Every exit
// they take reports the failing expression, its result, the file and the line
// on the debugger's output (DebugView shows it; nothing goes to disk, nothing
// is shown to the user) before it returns what it returns. Locals carry a
// name of their own, so a macro can be used where the caller has a variable
// or member of any ordinary name.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <exception>

namespace win32 {

// Receives every report as the text that went to the debugger. Tests set one
// to read a report without a debugger; the program leaves it unset.
using failure_observer = void (*)(const char* report) noexcept;

inline std::atomic<failure_observer>& failure_observer_slot() noexcept {
  static std::atomic<failure_observer> slot{nullptr};
  return slot;
}

// Returns the observer it replaces.
inline failure_observer set_failure_observer(failure_observer observer) noexcept {
  return failure_observer_slot().exchange(observer);
}

inline const char* file_name_of(const char* path) noexcept {
  const char* name = path;
  for (const char* p = path; *p; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return name;
}

inline void report_text(const char* text) noexcept {
  ::OutputDebugStringA(text);
  if (const failure_observer observer = failure_observer_slot().load()) observer(text);
}

// "file(line): 0x80070005 from what". The caller's last error survives the report.
inline void report_failure(HRESULT hr, const char* what, const char* file, int line) noexcept {
  const DWORD last_error = ::GetLastError();
  char text[512];
  std::snprintf(text, sizeof text, "%s(%d): 0x%08lX from %s\n", file_name_of(file), line,
                static_cast<unsigned long>(hr), what);
  report_text(text);
  ::SetLastError(last_error);
}

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
  report_text(text);
}

// Keeps a step that fails at every call (a program that cannot be hooked,
// set again every few seconds) to one report until it succeeds again. Steps
// are known by their text. One thread only.
class step_reports {
 public:
  // True the first time `step` fails since the owner last succeeded. With
  // more failing steps than it can hold, every failure is reported.
  bool first_failure(const char* step) noexcept {
    for (const char* known : failing_) {
      if (known && std::strcmp(known, step) == 0) return false;
    }
    for (const char*& slot : failing_) {
      if (!slot) {
        slot = step;
        break;
      }
    }
    return true;
  }
  // Every step the owner takes succeeded.
  void succeeded() noexcept {
    for (const char*& slot : failing_) slot = nullptr;
  }

 private:
  const char* failing_[8] = {};
};

}  // namespace win32

// Reports a failure that the caller handles itself (a step of a longer
// procedure that returns something other than an HRESULT).
#define REPORT_FAILURE(hr, what) ::win32::report_failure((hr), (what), __FILE__, __LINE__)
#define REPORT_LAST_ERROR(what) REPORT_FAILURE(::win32::last_error_hr(), (what))
// The same, once per failing step of an owner of a ::win32::step_reports.
#define REPORT_FAILURE_ONCE(reports, hr, what) \
  do {                                         \
    if ((reports).first_failure(what)) REPORT_FAILURE((hr), (what)); \
  } while (0)
#define REPORT_LAST_ERROR_ONCE(reports, what) REPORT_FAILURE_ONCE((reports), ::win32::last_error_hr(), (what))

#define RETURN_IF_FAILED(expr)                                          \
  do {                                                                  \
    const HRESULT result_hr_local_ = (expr);                            \
    if (FAILED(result_hr_local_)) {                                     \
      ::win32::report_failure(result_hr_local_, #expr, __FILE__, __LINE__); \
      return result_hr_local_;                                          \
    }                                                                   \
  } while (0)

#define RETURN_HR_IF(hr, cond)                                          \
  do {                                                                  \
    if (cond) {                                                         \
      const HRESULT result_hr_local_ = (hr);                            \
      ::win32::report_failure(result_hr_local_, #cond, __FILE__, __LINE__); \
      return result_hr_local_;                                          \
    }                                                                   \
  } while (0)

#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF(hr, (ptr) == nullptr)

#define RETURN_LAST_ERROR_IF(cond)                                      \
  do {                                                                  \
    if (cond) {                                                         \
      const HRESULT result_hr_local_ = ::win32::last_error_hr();        \
      ::win32::report_failure(result_hr_local_, #cond, __FILE__, __LINE__); \
      return result_hr_local_;                                          \
    }                                                                   \
  } while (0)

#define RETURN_IF_WIN32_BOOL_FALSE(expr) RETURN_LAST_ERROR_IF(!(expr))
#define RETURN_LAST_ERROR_IF_NULL(expr) RETURN_LAST_ERROR_IF((expr) == nullptr)
