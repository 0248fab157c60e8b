#include "relay/relay.h"

#include <utility>

#include "win32/message_filter.h"
#include "win32/object_security.h"
#include "win32/result.h"
#include "win32/scope_exit.h"
#include "win32/token.h"

namespace tessik {
namespace {

constexpr DWORD kRelayWindowStyle = WS_POPUP | WS_BORDER | WS_SYSMENU;  // 0x80880000, never shown

// The integrity level of the token of `process` (this one unless given); 0
// when it cannot be read.
DWORD IntegrityLevel(HANDLE process = ::GetCurrentProcess()) noexcept {
  const win32::unique_process_heap_block label = win32::query_process_token(TokenIntegrityLevel, process);
  const PSID sid = win32::token_label_sid(label);
  return sid ? win32::integrity_rid(sid) : 0;
}

// Whether one of the processes of `thread_ids` runs below this process's
// integrity level (this one elevated, the program not), or cannot be told
// to run at it or above: then its hooks' messages must pass UIPI, or its
// use would never count.
bool WatchesBelowOwnLevel(const DWORD* thread_ids, DWORD count) noexcept {
  const DWORD own = IntegrityLevel();
  if (own == 0) return false;  // no integrity levels here
  for (DWORD i = 0; i < count; ++i) {
    const win32::unique_handle thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, thread_ids[i]));
    const win32::unique_handle process(
        thread ? ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ::GetProcessIdOfThread(thread.get()))
               : nullptr);
    const DWORD level = process ? IntegrityLevel(process.get()) : 0;
    if (level < own) return true;
  }
  return false;
}

}  // namespace

Relay::Relay(RelayTarget& target) noexcept : target_(target) {}

Relay::~Relay() {
  RemoveHooks();
  // Hooks on this process's own threads keep a view of the block; the block
  // goes with the relay.
  ReleaseRelayView();
}

DWORD Relay::InstallHooks(const DWORD* thread_ids, DWORD count, bool* hooked) noexcept {
  const win32::report_once_scope once(reports_);
  DWORD done = 0;
  if (SUCCEEDED(Install(thread_ids, count, hooked, &done))) reports_.succeeded();
  return done;
}

HRESULT Relay::Install(const DWORD* thread_ids, DWORD count, bool* hooked, DWORD* done) noexcept {
  // One deadline for the whole set, the companion's removal after a failure included.
  const DWORD deadline = Companion::SetDeadline();
  // Every way out that watches nothing leaves nothing behind.
  auto remove_all = win32::scope_exit([this, deadline]() noexcept { RemoveHooksBy(deadline); });
  // The hook procedures live in this module, which the platform maps into the watched process.
  const HINSTANCE module = HookModule();
  if (count > kMaxHookedThreads) count = kMaxHookedThreads;
  RETURN_HR_IF_MSG(E_INVALIDARG, count == 0, "install hooks: no thread to hook");
  if (!hwnd()) {
    RETURN_LAST_ERROR_IF_MSG(!RegisterRelayClass(module), "install hooks: registering the relay window's class");
    RETURN_LAST_ERROR_IF_NULL_MSG(::CreateWindowExA(0, kRelayWindowClass, nullptr, kRelayWindowStyle, 0, 0,
                                                    CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, module, this),
                                  "install hooks: creating the relay window");
  }
  // The relay messages pass UIPI only while a watched program runs below
  // this process: Windows then lets every lower level through alike, since
  // it tells no sender's level. Anyone who can post them can only keep the
  // program alive (a code of 0 counts for nothing).
  const bool below = WatchesBelowOwnLevel(thread_ids, count);
  win32::allow_message_from_lower_integrity(hwnd(), WM_KEYRELAY, below);
  win32::allow_message_from_lower_integrity(hwnd(), WM_MOUSERELAY, below);
  // Written again at each set: the block names our window whoever wrote last.
  RETURN_IF_FAILED_EXPECTED(Publish(hwnd()));
  // A 32-bit module cannot run in a 64-bit process (the platform may even
  // return hooks that never fire), so such threads go to the companion.
  DWORD own[kMaxHookedThreads];
  DWORD wide[kMaxHookedThreads];
  DWORD own_index[kMaxHookedThreads];
  DWORD wide_index[kMaxHookedThreads];
  DWORD own_count = 0;
  DWORD wide_count = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (Companion::IsNeededFor(thread_ids[i])) {
      wide_index[wide_count] = i;
      wide[wide_count++] = thread_ids[i];
    } else {
      own_index[own_count] = i;
      own[own_count++] = thread_ids[i];
    }
  }
  bool own_hooked[kMaxHookedThreads] = {};
  const DWORD own_done = SetRelayHooks(module, own, own_count, own_hooked);
  const DWORD wide_done = companion_.SetHooks(wide, wide_count, deadline);
  if (hooked) {
    for (DWORD i = 0; i < own_count; ++i) hooked[own_index[i]] = own_hooked[i];
    for (DWORD i = 0; i < wide_count; ++i) hooked[wide_index[i]] = wide_done == wide_count;
  }
  RETURN_HR_IF_MSG(E_FAIL, own_done + wide_done == 0, "install hooks: no thread took both hooks");
  remove_all.release();
  *done = own_done + wide_done;
  return S_OK;
}

void Relay::RemoveHooks() noexcept { RemoveHooksBy(Companion::SetDeadline()); }

void Relay::RemoveHooksBy(DWORD deadline) noexcept {
  destroy_window();
  RemoveRelayHooks();
  companion_.RemoveHooks(deadline);
}

// At the first installation; the module unregisters it when it unloads.
bool Relay::RegisterRelayClass(HINSTANCE module) noexcept {
  window_class relay_class;
  relay_class.name = kRelayWindowClass;
  relay_class.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
  relay_class.cursor = ::LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  relay_class.background = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
  return SUCCEEDED(register_window_class(module, relay_class));
}

HRESULT Relay::Publish(HWND window) noexcept {
  if (!block_) {
    const win32::token_identity who;
    // The hooks read the block in every program of this logon.
    const win32::unique_hlocal security = win32::owned_object_security(who, win32::logon_session_read::kYes);
    RETURN_LAST_ERROR_IF_MSG(!security, "publish: the relay block's security");
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), security.get(), FALSE};
    ::SetLastError(ERROR_SUCCESS);
    // A block whose security keeps this access from us fails here (access
    // denied): it is not ours either.
    win32::unique_handle block(::CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                                    kRelayBlockSize, kRelayBlockName));
    RETURN_LAST_ERROR_IF_MSG(!block, "publish: creating the relay block");
    RETURN_HR_IF_MSG(E_ACCESSDENIED,
                     ::GetLastError() == ERROR_ALREADY_EXISTS && !win32::may_use_existing(block.get(), who),
                     "publish: a relay block of another user, or of a lower level, is there");
    block_ = std::move(block);
  }
  if (!block_view_) {
    block_view_.reset(::MapViewOfFile(block_.get(), FILE_MAP_WRITE, 0, 0, kRelayBlockSize));
    // Without its view the block is made again at the next set.
    auto forget_block = win32::scope_exit([this]() noexcept {
      block_view_.reset();
      block_.reset();
    });
    RETURN_LAST_ERROR_IF_MSG(!win32::view_committed(block_view_.get(), kRelayBlockSize),
                             "publish: mapping the relay block");
    forget_block.release();
  }
  // One aligned 4-byte store: the hook procedures read it without a lock.
  *static_cast<volatile LONG*>(block_view_.get()) = RelayBlockValue(window);
  return S_OK;
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
  return default_proc(hwnd(), message, wParam, lParam);
}

}  // namespace tessik
