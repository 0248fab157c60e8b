// One base for the project's windows, after the samples' BaseWindow<T>: it
// registers the window's class with its own procedure; the object travels
// in CreateWindowEx's last argument, sits in GWLP_USERDATA
// from WM_NCCREATE to WM_NCDESTROY, and owns the window meanwhile. A window
// destroyed while it answers another thread's message is destroyed through
// destroy_window: a WM_NCDESTROY that seems sent from another thread is
// taken for a stranger's (window_proc). Every
// message in between goes to Derived::HandleMessage (a friend of the base); an exception that
// escapes it is reported (what, which class, which message) and the message
// answered with 0, because it must not unwind through the system's
// dispatcher.
#pragma once

#include <windows.h>

#include <cstdio>
#include <type_traits>

#include "win32/result.h"
#include "win32/unique_any.h"

namespace win32 {

// ANSI windows (whose DefWindowProc is the A one) pass kAnsi.
enum class window_charset { kUnicode, kAnsi };

template <typename Derived, window_charset charset = window_charset::kUnicode>
class window_base {
 public:
  HWND hwnd() const noexcept { return window_.get(); }

 protected:
  using char_type = std::conditional_t<charset == window_charset::kAnsi, char, wchar_t>;

  // What a window chooses of its class; the procedure and the module are the
  // base's.
  struct window_class {
    const char_type* name = nullptr;
    UINT style = 0;
    HICON icon = nullptr;
    HICON small_icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
  };

  // Registers `wanted` for `instance`, the module whose code window_proc is.
  // A class of that name and module that exists already counts as ours:
  // only this module registers under its own handle, and a second window of
  // the class (or a second thread racing to register it) then needs no probe
  // that could also answer with another module's global class of the name.
  // A DLL's classes outlive its unloading, so a DLL unregisters its own when
  // it unloads; a later load then registers afresh. A failure is reported.
  static HRESULT register_window_class(HINSTANCE instance, const window_class& wanted) noexcept {
    bool registered = false;
    if constexpr (charset == window_charset::kAnsi) {
      WNDCLASSEXA filled{};
      fill(filled, instance, wanted);
      registered = ::RegisterClassExA(&filled) != 0;
    } else {
      WNDCLASSEXW filled{};
      fill(filled, instance, wanted);
      registered = ::RegisterClassExW(&filled) != 0;
    }
    RETURN_LAST_ERROR_IF_MSG(!registered && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS, "RegisterClassEx");
    return S_OK;
  }

  window_base() noexcept = default;
  ~window_base() = default;
  window_base(const window_base&) = delete;
  window_base& operator=(const window_base&) = delete;

  // The window class's procedure; pass `this` of the Derived object as
  // CreateWindowEx's lpParam.
  static LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    if (message == WM_NCCREATE) {
      // lpCreateParams is the first member of both CREATESTRUCTA and W.
      auto* created = static_cast<Derived*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
      ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
      // A window the object held before is destroyed now that its
      // successor exists.
      created->window_.reset(window);
    }
    auto* self = reinterpret_cast<Derived*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self) return default_proc(window, message, wparam, lparam);
    if (message == WM_NCDESTROY) {
      // Only the window's own thread destroys it (destroy_window has let go
      // of it by then). The same message sent from another thread, by
      // anyone, destroys nothing: taken for the end, it would part the
      // object from a window that lives on.
      if (self->window_.get() == window && ::InSendMessage()) return 0;
      ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      if (self->window_.get() == window) (void)self->window_.release();  // gone already
      return default_proc(window, message, wparam, lparam);
    }
    // A predecessor on its way out: HandleMessage only ever sees hwnd().
    if (self->window_.get() != window) return default_proc(window, message, wparam, lparam);
    try {
      return self->HandleMessage(message, wparam, lparam);
    } catch (...) {
      char where[128];
      char name[64] = "?";
      ::GetClassNameA(window, name, sizeof name);
      std::snprintf(where, sizeof where, "the window procedure of class %s, message 0x%04X", name, message);
      report_exception(where);
      return 0;
    }
  }

  static LRESULT default_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    if constexpr (charset == window_charset::kAnsi)
      return ::DefWindowProcA(window, message, wparam, lparam);
    else
      return ::DefWindowProcW(window, message, wparam, lparam);
  }

  // Destroys the window now. Derived destructors call it first, so that the
  // messages of the destruction still find their members alive.
  void destroy_window() noexcept { window_.reset(); }

 private:
  template <typename WndClassEx>
  static void fill(WndClassEx& filled, HINSTANCE instance, const window_class& wanted) noexcept {
    filled.cbSize = sizeof(filled);
    filled.style = wanted.style;
    filled.lpfnWndProc = window_proc;
    filled.hInstance = instance;
    filled.hIcon = wanted.icon;
    filled.hIconSm = wanted.small_icon;
    filled.hCursor = wanted.cursor;
    filled.hbrBackground = wanted.background;
    filled.lpszClassName = wanted.name;
  }

  unique_hwnd window_;
};

}  // namespace win32
