// One owner for every kind of Windows handle: a move-only wrapper that calls
// the handle's close function exactly once. Modelled on wil::unique_any.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <type_traits>
#include <utility>

namespace win32 {

// Traits: the handle type, how it is closed, and the bits of its "none" value
// (an integer, since INVALID_HANDLE_VALUE cannot be a template argument).
template <typename T, typename Close, Close close_fn, std::intptr_t invalid_bits = 0>
class unique_any {
  static T none() noexcept {
    if constexpr (std::is_pointer_v<T>)
      return reinterpret_cast<T>(invalid_bits);
    else
      return static_cast<T>(invalid_bits);
  }

 public:
  using pointer = T;

  unique_any() noexcept = default;
  explicit unique_any(T value) noexcept : value_(value) {}
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : value_(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_any() { reset(); }

  T get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != none(); }

  void reset(T value = none()) noexcept {
    T old = value_;
    value_ = value;
    if (old != none()) close_fn(old);
  }
  [[nodiscard]] T release() noexcept {
    T old = value_;
    value_ = none();
    return old;
  }
  // Releases what is held and hands out the address for an out parameter.
  T* put() noexcept {
    reset();
    return &value_;
  }

 private:
  T value_ = none();
};

namespace detail {
inline void close_handle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void destroy_window(HWND h) noexcept { ::DestroyWindow(h); }
inline void unhook(HHOOK h) noexcept { ::UnhookWindowsHookEx(h); }
inline void destroy_icon(HICON h) noexcept { ::DestroyIcon(h); }
inline void free_library(HMODULE h) noexcept { ::FreeLibrary(h); }
inline void unmap_view(void* p) noexcept { ::UnmapViewOfFile(p); }
inline void sys_free_string(BSTR s) noexcept { ::SysFreeString(s); }
inline void co_task_mem_free(void* p) noexcept { ::CoTaskMemFree(p); }
inline void delete_font(HFONT f) noexcept { ::DeleteObject(f); }
inline void close_key(HKEY k) noexcept { ::RegCloseKey(k); }
inline void destroy_menu(HMENU m) noexcept { ::DestroyMenu(m); }
inline void release_screen_dc(HDC dc) noexcept { ::ReleaseDC(nullptr, dc); }
inline void process_heap_free(void* p) noexcept { ::HeapFree(::GetProcessHeap(), 0, p); }
inline void local_free(HLOCAL p) noexcept { ::LocalFree(p); }
inline void unhook_win_event(HWINEVENTHOOK h) noexcept { ::UnhookWinEvent(h); }
inline void deregister_event_source(HANDLE h) noexcept { ::DeregisterEventSource(h); }
// Waits for a callback that runs, so that nothing it uses goes first.
inline void unregister_wait(HANDLE h) noexcept { ::UnregisterWaitEx(h, INVALID_HANDLE_VALUE); }
}  // namespace detail

// Kernel handles whose "none" is null (mappings, processes, threads, events).
using unique_handle = unique_any<HANDLE, decltype(&detail::close_handle), &detail::close_handle>;
// Kernel handles whose "none" is INVALID_HANDLE_VALUE (files, snapshots).
using unique_hfile = unique_any<HANDLE, decltype(&detail::close_handle), &detail::close_handle, -1>;
using unique_hwnd = unique_any<HWND, decltype(&detail::destroy_window), &detail::destroy_window>;
using unique_hhook = unique_any<HHOOK, decltype(&detail::unhook), &detail::unhook>;
using unique_hicon = unique_any<HICON, decltype(&detail::destroy_icon), &detail::destroy_icon>;
using unique_hmodule = unique_any<HMODULE, decltype(&detail::free_library), &detail::free_library>;
using unique_mapview = unique_any<void*, decltype(&detail::unmap_view), &detail::unmap_view>;
using unique_bstr = unique_any<BSTR, decltype(&detail::sys_free_string), &detail::sys_free_string>;
using unique_cotaskmem = unique_any<void*, decltype(&detail::co_task_mem_free), &detail::co_task_mem_free>;
using unique_hfont = unique_any<HFONT, decltype(&detail::delete_font), &detail::delete_font>;
using unique_hkey = unique_any<HKEY, decltype(&detail::close_key), &detail::close_key>;
using unique_hmenu = unique_any<HMENU, decltype(&detail::destroy_menu), &detail::destroy_menu>;
// Whether the first `size` bytes of a mapped view can be touched: a section
// made with SEC_RESERVE (a block of a shared name made by someone else) maps
// as reserved pages, and the first read of them faults.
inline bool view_committed(const void* view, SIZE_T size) noexcept {
  MEMORY_BASIC_INFORMATION info{};
  if (!view || ::VirtualQuery(view, &info, sizeof info) != sizeof info) return false;
  const SIZE_T offset = static_cast<SIZE_T>(static_cast<const char*>(view) - static_cast<const char*>(info.BaseAddress));
  return info.State == MEM_COMMIT && (info.Protect & (PAGE_NOACCESS | PAGE_GUARD)) == 0 &&
         info.RegionSize >= offset + size;
}
// A block from HeapAlloc(GetProcessHeap(), ...).
using unique_process_heap_block =
    unique_any<void*, decltype(&detail::process_heap_free), &detail::process_heap_free>;
// Blocks that the system hands out to be freed with LocalFree (CommandLineToArgvW).
using unique_hlocal = unique_any<HLOCAL, decltype(&detail::local_free), &detail::local_free>;
// The screen's device context, from GetDC(nullptr).
using unique_screen_dc = unique_any<HDC, decltype(&detail::release_screen_dc), &detail::release_screen_dc>;
// An event hook from SetWinEventHook.
using unique_hwineventhook =
    unique_any<HWINEVENTHOOK, decltype(&detail::unhook_win_event), &detail::unhook_win_event>;
// An event log source from RegisterEventSourceW.
using unique_event_source =
    unique_any<HANDLE, decltype(&detail::deregister_event_source), &detail::deregister_event_source>;

// A wait from RegisterWaitForSingleObject.
using unique_registered_wait =
    unique_any<HANDLE, decltype(&detail::unregister_wait), &detail::unregister_wait>;

// Holds an SRW lock exclusively for the scope.
class exclusive_lock {
 public:
  explicit exclusive_lock(SRWLOCK& lock) noexcept : lock_(lock) { ::AcquireSRWLockExclusive(&lock_); }
  ~exclusive_lock() { ::ReleaseSRWLockExclusive(&lock_); }
  exclusive_lock(const exclusive_lock&) = delete;
  exclusive_lock& operator=(const exclusive_lock&) = delete;

 private:
  SRWLOCK& lock_;
};

// Holds an SRW lock shared for the scope.
class shared_lock {
 public:
  explicit shared_lock(SRWLOCK& lock) noexcept : lock_(lock) { ::AcquireSRWLockShared(&lock_); }
  ~shared_lock() { ::ReleaseSRWLockShared(&lock_); }
  shared_lock(const shared_lock&) = delete;
  shared_lock& operator=(const shared_lock&) = delete;

 private:
  SRWLOCK& lock_;
};

}  // namespace win32
