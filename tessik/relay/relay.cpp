#include "relay/relay.h"

#include <utility>

#include "win32/message_filter.h"
#include "win32/object_security.h"

namespace tessik {
namespace {

constexpr DWORD kRelayWindowStyle = WS_POPUP | WS_BORDER | WS_SYSMENU;  // 0x80880000, never shown

}  // namespace

Relay::Relay(RelayTarget& target) noexcept : target_(target) {}

Relay::~Relay() {
  RemoveHooks();
  // Hooks on this process's own threads keep a view of the block; the block
  // goes with the relay.
  ReleaseRelayView();
}

BOOL Relay::InstallHooks(const DWORD* thread_ids, DWORD count) noexcept {
  // The hook procedures live in this module, which the platform maps into the watched process.
  const HINSTANCE module = HookModule();
  if (count > kMaxHookedThreads) count = kMaxHookedThreads;
  if (count == 0 || !RegisterRelayClass(module)) {
    RemoveHooks();
    return FALSE;
  }
  if (!::CreateWindowExA(0, kRelayWindowClass, nullptr, kRelayWindowStyle, 0, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                         nullptr, nullptr, module, this) ||
      !Publish(hwnd())) {
    RemoveHooks();
    return FALSE;
  }
  // An elevated monitoring process must still take the relay messages from
  // a program at a lower integrity level.
  win32::allow_message_from_lower_integrity(hwnd(), WM_KEYRELAY);
  win32::allow_message_from_lower_integrity(hwnd(), WM_MOUSERELAY);
  // A 32-bit module cannot run in a 64-bit process (the platform may even
  // return hooks that never fire), so such threads go to the companion.
  DWORD own[kMaxHookedThreads];
  DWORD wide[kMaxHookedThreads];
  DWORD own_count = 0;
  DWORD wide_count = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (Companion::IsNeededFor(thread_ids[i])) {
      wide[wide_count++] = thread_ids[i];
    } else {
      own[own_count++] = thread_ids[i];
    }
  }
  const DWORD hooked = SetRelayHooks(module, own, own_count) + companion_.SetHooks(wide, wide_count);
  if (hooked > 0) return TRUE;
  RemoveHooks();
  return FALSE;
}

void Relay::RemoveHooks() noexcept {
  DestroyWindow();
  RemoveRelayHooks();
  companion_.RemoveHooks();
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
    const win32::token_identity who;
    // The hooks read the block in every program of this logon.
    const win32::unique_hlocal security = win32::owned_object_security(who, win32::logon_session_read::kYes);
    if (!security) return false;
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), security.get(), FALSE};
    ::SetLastError(ERROR_SUCCESS);
    // A block whose security keeps this access from us fails here (access
    // denied): it is not ours either.
    win32::unique_handle block(::CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                                    kRelayBlockSize, kRelayBlockName));
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    if (!block || (existed && !win32::may_use_existing(block.get(), who))) return false;
    block_ = std::move(block);
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

}  // namespace tessik
