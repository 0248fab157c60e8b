#include "relay/hooks.h"

#include <utility>

#include "win32/unique_any.h"

namespace tessik {
namespace {

// The hooks this process set, the first g_hook_count entries; only the
// setting thread touches them. The hook procedures do not read them: in the
// watched program there are none, so they pass the call on with a null
// handle, which the platform takes (from NT on it ignores the handle).
struct HookPair {
  DWORD thread_id = 0;
  // Held while hooked: the thread's id cannot be reused meanwhile, and its
  // end shows. A pair whose thread could not be opened is set anew each time.
  win32::unique_handle thread;
  win32::unique_hhook keyboard;
  win32::unique_hhook mouse;
};
HookPair g_hooks[kMaxHookedThreads];
DWORD g_hook_count = 0;

bool Named(DWORD thread_id, const DWORD* thread_ids, DWORD count) noexcept {
  for (DWORD i = 0; i < count; ++i) {
    if (thread_ids[i] == thread_id) return true;
  }
  return false;
}

bool StillRunning(const HookPair& pair) noexcept {
  return pair.thread && ::WaitForSingleObject(pair.thread.get(), 0) == WAIT_TIMEOUT;
}

bool IsHooked(DWORD thread_id) noexcept {
  for (DWORD i = 0; i < g_hook_count; ++i) {
    if (g_hooks[i].thread_id == thread_id) return true;
  }
  return false;
}

// The view of the relay block, mapped by the first hook call that finds the
// block and kept until the module unloads: opening the block by name on
// every message costs several times the hook itself. Hooks on several
// threads of one process share it, hence the lock.
SRWLOCK g_view_lock = SRWLOCK_INIT;
void* g_relay_view = nullptr;

// The value last read from the block, and whether it names a relay window.
// The block may name any window; its class is asked once per new value,
// not on every message.
LONG g_checked_value = 0;
bool g_checked_is_relay = false;

LONG LoadValue(const void* view) noexcept { return *static_cast<const volatile LONG*>(view); }

// Under the exclusive lock.
void ForgetView() noexcept {
  win32::unique_mapview view(g_relay_view);
  g_relay_view = nullptr;
  g_checked_value = 0;
  g_checked_is_relay = false;
}

// The relay window named by the relay block, or null. Runs in the watched
// program on every input message: no allocation, no waiting but the lock.
HWND ReadRelayWindow() noexcept {
  {
    const win32::shared_lock lock(g_view_lock);
    if (g_relay_view) {
      const LONG value = LoadValue(g_relay_view);
      if (value != 0 && value == g_checked_value) return g_checked_is_relay ? RelayBlockWindow(value) : nullptr;
    }
  }
  const win32::exclusive_lock lock(g_view_lock);
  if (!g_relay_view) {
    // No block yet means no monitoring process yet: look again next message.
    const win32::unique_handle block(::OpenFileMappingA(FILE_MAP_READ, FALSE, kRelayBlockName));
    if (!block) return nullptr;
    win32::unique_mapview view(::MapViewOfFile(block.get(), FILE_MAP_READ, 0, 0, kRelayBlockSize));
    if (!win32::view_committed(view.get(), kRelayBlockSize)) return nullptr;
    g_relay_view = view.release();
  }
  const LONG value = LoadValue(g_relay_view);
  if (value != g_checked_value || value == 0) {
    // A kept view can outlive its block's name: once the monitoring process
    // closes the block, a new one makes a new block under the same name. A
    // value that names no window sends the next message back to the name.
    char name[ARRAYSIZE(kRelayWindowClass) + 1];
    const int length = value ? ::GetClassNameA(RelayBlockWindow(value), name, ARRAYSIZE(name)) : 0;
    if (length == 0) {
      ForgetView();
      return nullptr;
    }
    g_checked_value = value;
    g_checked_is_relay = length == ARRAYSIZE(kRelayWindowClass) - 1 && ::lstrcmpiA(name, kRelayWindowClass) == 0;
  }
  return g_checked_is_relay ? RelayBlockWindow(value) : nullptr;
}

// A relay window that has gone since it was checked also sends the next
// message back to the name.
void PostOrForget(HWND relay_window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (relay_window && !::PostMessageA(relay_window, message, wParam, lParam)) ReleaseRelayView();
}

}  // namespace

HINSTANCE HookModule() noexcept {
  HMODULE module = nullptr;
  // The address of a hook procedure names this module; no reference is taken.
  ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&KeyboardHookProc), &module);
  return module;
}

DWORD SetRelayHooks(HINSTANCE module, const DWORD* thread_ids, DWORD count, bool* hooked) noexcept {
  // First release what is no longer wanted, so that the bound leaves room
  // for the new threads.
  DWORD kept = 0;
  for (DWORD i = 0; i < g_hook_count; ++i) {
    HookPair& pair = g_hooks[i];
    if (!Named(pair.thread_id, thread_ids, count) || !StillRunning(pair)) {
      pair = HookPair{};
    } else if (kept != i) {
      g_hooks[kept++] = std::move(pair);
    } else {
      ++kept;
    }
  }
  g_hook_count = kept;
  for (DWORD i = 0; i < count; ++i) {
    if (hooked) hooked[i] = false;
    if (thread_ids[i] == 0) continue;
    if (IsHooked(thread_ids[i])) {
      if (hooked) hooked[i] = true;
      continue;
    }
    if (g_hook_count == kMaxHookedThreads) continue;
    HookPair& pair = g_hooks[g_hook_count];
    pair.keyboard.reset(::SetWindowsHookExA(WH_KEYBOARD, KeyboardHookProc, module, thread_ids[i]));
    pair.mouse.reset(::SetWindowsHookExA(WH_MOUSE, MouseHookProc, module, thread_ids[i]));
    if (pair.keyboard && pair.mouse) {
      pair.thread_id = thread_ids[i];
      pair.thread.reset(::OpenThread(SYNCHRONIZE, FALSE, thread_ids[i]));
      ++g_hook_count;
      if (hooked) hooked[i] = true;
    } else {
      pair = HookPair{};
    }
  }
  return g_hook_count;
}

void RemoveRelayHooks() noexcept {
  for (DWORD i = 0; i < g_hook_count; ++i) g_hooks[i] = HookPair{};
  g_hook_count = 0;
}

void ReleaseRelayView() noexcept {
  const win32::exclusive_lock lock(g_view_lock);
  ForgetView();
}

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept {
  if (code >= 0) {
    // Bit 31 of the keystroke flags is the transition: set when the key comes up.
    const bool going_up = (static_cast<ULONG_PTR>(lParam) & 0x80000000u) != 0;
    PostOrForget(ReadRelayWindow(), WM_KEYRELAY, wParam, going_up ? 0 : 1);
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK MouseHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept {
  const auto* mouse = reinterpret_cast<const MOUSEHOOKSTRUCT*>(lParam);
  if (code >= 0 && mouse) {
    const DWORD packed = (static_cast<DWORD>(mouse->pt.y & 0xFFFF) << 16) | static_cast<DWORD>(mouse->pt.x & 0xFFFF);
    PostOrForget(ReadRelayWindow(), WM_MOUSERELAY, wParam, static_cast<LPARAM>(packed));
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace tessik
