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
#include <new>
#include <utility>

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

// What an owner remembers of its failing steps, keyed by file and line: a
// step that fails at every call (a program that cannot be hooked, set again
// every few seconds) is reported once, until the owner succeeds again. One
// thread only.
class failure_memory {
 public:
  // True the first time the step at `file`(`line`) fails since the owner
  // last succeeded. With more failing steps than it can hold, every failure
  // is reported.
  bool first_failure(const char* file, int line) noexcept {
    for (const site& known : failing_) {
      if (known.file && known.line == line && std::strcmp(known.file, file) == 0) return false;
    }
    for (site& slot : failing_) {
      if (!slot.file) {
        slot = {file, line};
        break;
      }
    }
    return true;
  }
  // Every step the owner takes succeeded.
  void succeeded() noexcept {
    for (site& slot : failing_) slot = {};
  }

 private:
  struct site {
    const char* file;
    int line;
  };
  site failing_[8] = {};
};

// The memory that the reports of the calling thread go through, if any.
inline failure_memory*& current_failure_memory() noexcept {
  static thread_local failure_memory* memory = nullptr;
  return memory;
}

// While it lives, each step that fails on this thread is reported once until
// `memory`'s owner succeeds; outside every scope, each failure is reported.
// Scopes nest: an owner that calls another reports through its own memory
// again once the other returns.
class report_once_scope {
 public:
  explicit report_once_scope(failure_memory& memory) noexcept
      : previous_(std::exchange(current_failure_memory(), &memory)) {}
  // The caller's last error survives the scope's end.
  ~report_once_scope() {
    const DWORD last_error = ::GetLastError();
    current_failure_memory() = previous_;
    ::SetLastError(last_error);
  }
  report_once_scope(const report_once_scope&) = delete;
  report_once_scope& operator=(const report_once_scope&) = delete;

 private:
  failure_memory* previous_;
};

// "file(line): 0x80070005 from what", unless the step at that file and line
// was reported already (report_once_scope). The caller's last error survives
// the report.
inline void report_failure(HRESULT hr, const char* what, const char* file, int line) noexcept {
  // First: reading a thread-local value may clear it.
  const DWORD last_error = ::GetLastError();
  failure_memory* const memory = current_failure_memory();
  if (!memory || memory->first_failure(file, line)) {
    char text[512];
    std::snprintf(text, sizeof text, "%s(%d): 0x%08lX from %s\n", file_name_of(file), line,
                  static_cast<unsigned long>(hr), what);
    report_text(text);
  }
  ::SetLastError(last_error);
}

// The result of the exception being handled, reported with where it was
// caught (CATCH_RETURN). Call it only inside a catch block.
inline HRESULT result_from_caught_exception(const char* file, int line) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    char where[300];
    std::snprintf(where, sizeof where, "%s(%d)", file_name_of(file), line);
    report_exception(where);
    return E_UNEXPECTED;
  }
}

}  // namespace win32

// Reports a failure that the caller handles itself (a step of a longer
// procedure that returns something other than an HRESULT).
#define REPORT_FAILURE(hr, what) ::win32::report_failure((hr), (what), __FILE__, __LINE__)
#define REPORT_LAST_ERROR(what) REPORT_FAILURE(::win32::last_error_hr(), (what))

// A step's exit when it fails: each reports (the _MSG forms with the step's
// own words in place of the expression) and returns the failure. The
// _EXPECTED form returns a failure that the callee reported already.
#define RETURN_HR_IF_MSG(hr, cond, msg)                             \
  do {                                                              \
    if (cond) {                                                     \
      const HRESULT result_hr_local_ = (hr);                        \
      ::win32::report_failure(result_hr_local_, (msg), __FILE__, __LINE__); \
      return result_hr_local_;                                      \
    }                                                               \
  } while (0)
#define RETURN_HR_IF(hr, cond) RETURN_HR_IF_MSG((hr), (cond), #cond)
#define RETURN_HR_IF_NULL(hr, ptr) RETURN_HR_IF_MSG((hr), (ptr) == nullptr, #ptr " == nullptr")

#define RETURN_IF_FAILED_MSG(expr, msg)                             \
  do {                                                              \
    const HRESULT result_hr_local_ = (expr);                        \
    if (FAILED(result_hr_local_)) {                                 \
      ::win32::report_failure(result_hr_local_, (msg), __FILE__, __LINE__); \
      return result_hr_local_;                                      \
    }                                                               \
  } while (0)
#define RETURN_IF_FAILED(expr) RETURN_IF_FAILED_MSG((expr), #expr)
#define RETURN_IF_FAILED_EXPECTED(expr)                             \
  do {                                                              \
    const HRESULT result_hr_local_ = (expr);                        \
    if (FAILED(result_hr_local_)) return result_hr_local_;          \
  } while (0)

// The last error is read after `cond`, before anything else can change it.
#define RETURN_LAST_ERROR_IF_MSG(cond, msg)                         \
  do {                                                              \
    if (cond) {                                                     \
      const HRESULT result_hr_local_ = ::win32::last_error_hr();    \
      ::win32::report_failure(result_hr_local_, (msg), __FILE__, __LINE__); \
      return result_hr_local_;                                      \
    }                                                               \
  } while (0)
#define RETURN_LAST_ERROR_IF(cond) RETURN_LAST_ERROR_IF_MSG((cond), #cond)
#define RETURN_LAST_ERROR_IF_NULL_MSG(expr, msg) RETURN_LAST_ERROR_IF_MSG((expr) == nullptr, (msg))
#define RETURN_LAST_ERROR_IF_NULL(expr) RETURN_LAST_ERROR_IF_MSG((expr) == nullptr, #expr)
#define RETURN_IF_WIN32_BOOL_FALSE_MSG(expr, msg) RETURN_LAST_ERROR_IF_MSG(!(expr), (msg))
#define RETURN_IF_WIN32_BOOL_FALSE(expr) RETURN_LAST_ERROR_IF_MSG(!(expr), #expr)

// Ends a try block at a COM or registration boundary: no exception leaves
// it; each is reported and returned as an HRESULT.
#define CATCH_RETURN() \
  catch (...) {        \
    return ::win32::result_from_caught_exception(__FILE__, __LINE__); \
  }
