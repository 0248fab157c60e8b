#include "relay/relay.h"

#include "module.h"

namespace tessik {
namespace {

constexpr char kRelayWindowClass[] = "TessikRelayWindow";
constexpr DWORD kRelayWindowStyle = WS_POPUP | WS_BORDER | WS_SYSMENU;  // 0x80880000, never shown
constexpr DWORD kRelayBlockSize = sizeof(DWORD);

// One pair per process. In the watched process they stay null, and passing
// the call on with a null handle is what the platform expects there.
win32::unique_hhook g_keyboard_hook;
win32::unique_hhook g_mouse_hook;

// The relay window named by the relay block, or null. Runs in the watched
// program on every input message: no allocation, no waiting.
HWND ReadRelayWindow() noexcept {
  const win32::unique_handle block(::OpenFileMappingA(FILE_MAP_READ, FALSE, kRelayBlockName));
  if (!block) return nullptr;
  const win32::unique_mapview view(::MapViewOfFile(block.get(), FILE_MAP_READ, 0, 0, kRelayBlockSize));
  if (!view) return nullptr;
  // Window handles are 32-bit values, sign-extended where pointers are wider.
  const LONG value = *static_cast<const volatile LONG*>(view.get());
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(value));
}

}  // namespace

Relay::Relay(RelayTarget& target) noexcept : target_(target) {}

Relay::~Relay() { RemoveHooks(); }

BOOL Relay::InstallHooks(DWORD thread_id) noexcept {
  // The hook procedures live in this module, which the platform maps into the watched process.
  const HINSTANCE module = ModuleInstance();
  // Thread 0 would make both hooks system-wide.
  if (thread_id == 0 || !RegisterRelayClass(module)) {
    RemoveHooks();
    return FALSE;
  }
  if (!::CreateWindowExA(0, kRelayWindowClass, nullptr, kRelayWindowStyle, 0, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                         nullptr, nullptr, module, this) ||
      !Publish(hwnd())) {
    RemoveHooks();
    return FALSE;
  }
  g_keyboard_hook.reset(::SetWindowsHookExA(WH_KEYBOARD, KeyboardHookProc, module, thread_id));
  g_mouse_hook.reset(::SetWindowsHookExA(WH_MOUSE, MouseHookProc, module, thread_id));
  if (g_keyboard_hook && g_mouse_hook) return TRUE;
  RemoveHooks();
  return FALSE;
}

void Relay::RemoveHooks() noexcept {
  DestroyWindow();
  g_keyboard_hook.reset();
  g_mouse_hook.reset();
}

// Once per process; the class stays registered for the module's life.
bool Relay::RegisterRelayClass(HINSTANCE module) noexcept {
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof(window_class);
  if (::GetClassInfoExA(module, kRelayWindowClass, &window_class)) return true;
  window_class = WNDCLASSEXA{};
  window_class.cbSize = sizeof(window_class);
  window_class.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  window_class.lpfnWndProc = WindowProc;
  window_class.hInstance = module;
  window_class.hCursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  window_class.lpszClassName = kRelayWindowClass;
  return ::RegisterClassExA(&window_class) != 0;
}

bool Relay::Publish(HWND window) noexcept {
  if (!block_) {
    block_.reset(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kRelayBlockSize,
                                      kRelayBlockName));
    if (!block_) return false;
  }
  if (!block_view_) {
    block_view_.reset(::MapViewOfFile(block_.get(), FILE_MAP_WRITE, 0, 0, kRelayBlockSize));
    if (!block_view_) {
      block_.reset();
      return false;
    }
  }
  // One aligned 4-byte store: the hook procedures read it without a lock.
  *static_cast<volatile LONG*>(block_view_.get()) = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
  return true;
}

LRESULT Relay::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_KEYRELAY:
      target_.FireKeyEvent(static_cast<LONG>(wParam), static_cast<LONG>(lParam));
      return 1;
    case WM_MOUSERELAY:
      // Both words unsigned: a negative coordinate arrives as 65536 - |x|.
      target_.FireMouseEvent(static_cast<LONG>(wParam), static_cast<LONG>(LOWORD(lParam)),
                             static_cast<LONG>(HIWORD(lParam)));
      return 1;
    default:
      break;
  }
  return DefaultProc(hwnd(), message, wParam, lParam);
}

LRESULT CALLBACK KeyboardHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept {
  if (code >= 0) {
    if (const HWND relay_window = ReadRelayWindow()) {
      // Bit 31 of the keystroke flags is the transition: set when the key comes up.
      const bool going_up = (static_cast<ULONG_PTR>(lParam) & 0x80000000u) != 0;
      ::PostMessageA(relay_window, WM_KEYRELAY, wParam, going_up ? 0 : 1);
    }
  }
  return ::CallNextHookEx(g_keyboard_hook.get(), code, wParam, lParam);
}

LRESULT CALLBACK MouseHookProc(int code, WPARAM wParam, LPARAM lParam) noexcept {
  const auto* mouse = reinterpret_cast<const MOUSEHOOKSTRUCT*>(lParam);
  if (code >= 0 && mouse) {
    if (const HWND relay_window = ReadRelayWindow()) {
      const DWORD packed = (static_cast<DWORD>(mouse->pt.y & 0xFFFF) << 16) | static_cast<DWORD>(mouse->pt.x & 0xFFFF);
      ::PostMessageA(relay_window, WM_MOUSERELAY, wParam, static_cast<LPARAM>(packed));
    }
  }
  return ::CallNextHookEx(g_mouse_hook.get(), code, wParam, lParam);
}

}  // namespace tessik
