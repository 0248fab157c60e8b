#include "relay/relay.h"

#include <aclapi.h>
#include <sddl.h>

#include <utility>

#include "win32/message_filter.h"
#include "win32/result.h"
#include "win32/token.h"

namespace tessik {
namespace {

constexpr DWORD kRelayWindowStyle = WS_POPUP | WS_BORDER | WS_SYSMENU;  // 0x80880000, never shown

// Who this process runs as, for the relay block's security.
struct Identity {
  win32::unique_process_heap_block user = win32::query_process_token(TokenUser);
  win32::unique_process_heap_block groups = win32::query_process_token(TokenGroups);
  win32::unique_process_heap_block label = win32::query_process_token(TokenIntegrityLevel);
};

win32::unique_hlocal SidString(PSID sid) noexcept {
  LPWSTR text = nullptr;
  if (!sid || !::ConvertSidToStringSidW(sid, &text)) return win32::unique_hlocal();
  return win32::unique_hlocal(text);
}

LPCWSTR Text(const win32::unique_hlocal& text) noexcept { return static_cast<LPCWSTR>(text.get()); }

// The relay block's security descriptor. Full access for the creating user
// and SYSTEM; read access for the user's logon session, which every program
// of this logon carries at any integrity level, so that the hooks can read
// the block wherever they run. The label is the creator's own level with
// no-write-up alone: a program of lower integrity (a watched program, or
// anything else of the same user) may read the handle but never rewrite it,
// while reading up stays allowed. The owner is named: the default owner
// would be the token's (Administrators for an elevated token, a group under
// Wine), which the check of an existing block could not tell from another
// creator's.
win32::unique_hlocal BlockSecurity(const Identity& who) noexcept {
  const win32::unique_hlocal user = SidString(win32::token_user_sid(who.user));
  if (!user) return win32::unique_hlocal();
  const win32::unique_hlocal logon = SidString(win32::token_logon_sid(who.groups));
  const win32::unique_hlocal label = SidString(win32::token_label_sid(who.label));
  // Its SIDs have at most 184 characters each: within wsprintf's 1024.
  wchar_t sddl[1024];
  int length = ::wsprintfW(sddl, L"O:%sD:P(A;;GA;;;%s)(A;;GA;;;SY)", Text(user), Text(user));
  if (logon) length += ::wsprintfW(sddl + length, L"(A;;GR;;;%s)", Text(logon));
  if (label) ::wsprintfW(sddl + length, L"S:(ML;;NW;;;%s)", Text(label));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return win32::unique_hlocal();
  }
  return win32::unique_hlocal(descriptor);
}

// The integrity level of `object`'s label. An object without one counts
// as medium.
DWORD ObjectLevel(HANDLE object) noexcept {
  PACL sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD level = SECURITY_MANDATORY_MEDIUM_RID;
  if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, &sacl,
                        &descriptor) != ERROR_SUCCESS) {
    return level;
  }
  const win32::unique_hlocal owner(descriptor);
  for (DWORD i = 0; sacl && i < sacl->AceCount; ++i) {
    void* ace = nullptr;
    if (::GetAce(sacl, i, &ace) && static_cast<const ACE_HEADER*>(ace)->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
      level = win32::integrity_rid(&static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace)->SidStart);
      break;
    }
  }
  return level;
}

// A block that exists already is used only when this user owns it and its
// label is not below this process's level. Made first by anyone else, or by
// a program of the same user at a lower level (a non-elevated one before an
// elevated Vardex), it would carry every hooked key to them. Another client
// of the same user at the same level passes, and the last writer's handle
// wins, as before.
bool MayUseExisting(HANDLE block, const Identity& who) noexcept {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(block, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const win32::unique_hlocal keep(descriptor);
  if (!owner || !::EqualSid(owner, win32::token_user_sid(who.user))) return false;
  const PSID own_label = win32::token_label_sid(who.label);
  if (!own_label) return true;  // no integrity levels on this system
  return ObjectLevel(block) >= win32::integrity_rid(own_label);
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
  // The hook procedures live in this module, which the platform maps into the watched process.
  const HINSTANCE module = HookModule();
  if (count > kMaxHookedThreads) count = kMaxHookedThreads;
  if (count == 0) {
    REPORT_FAILURE(E_INVALIDARG, "install hooks: no thread to hook");
    RemoveHooks();
    return 0;
  }
  if (!hwnd()) {
    if (!RegisterRelayClass(module)) {
      REPORT_LAST_ERROR("install hooks: registering the relay window's class");
      RemoveHooks();
      return 0;
    }
    if (!::CreateWindowExA(0, kRelayWindowClass, nullptr, kRelayWindowStyle, 0, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                           nullptr, nullptr, module, this)) {
      REPORT_LAST_ERROR("install hooks: creating the relay window");
      RemoveHooks();
      return 0;
    }
    // An elevated monitoring process must still take the relay messages from
    // a program at a lower integrity level.
    win32::allow_message_from_lower_integrity(hwnd(), WM_KEYRELAY);
    win32::allow_message_from_lower_integrity(hwnd(), WM_MOUSERELAY);
  }
  // Written again at each set: the block names our window whoever wrote last.
  if (!Publish(hwnd())) {
    RemoveHooks();
    return 0;
  }
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
  const DWORD wide_done = companion_.SetHooks(wide, wide_count);
  if (hooked) {
    for (DWORD i = 0; i < own_count; ++i) hooked[own_index[i]] = own_hooked[i];
    for (DWORD i = 0; i < wide_count; ++i) hooked[wide_index[i]] = wide_done == wide_count;
  }
  if (own_done + wide_done > 0) return own_done + wide_done;
  REPORT_FAILURE(E_FAIL, "install hooks: no thread took both hooks");
  RemoveHooks();
  return 0;
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
    const Identity who;
    const win32::unique_hlocal security = BlockSecurity(who);
    if (!security) {
      REPORT_LAST_ERROR("publish: the relay block's security");
      return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), security.get(), FALSE};
    ::SetLastError(ERROR_SUCCESS);
    // A block whose security keeps this access from us fails here (access
    // denied): it is not ours either.
    win32::unique_handle block(::CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0,
                                                    kRelayBlockSize, kRelayBlockName));
    if (!block) {
      REPORT_LAST_ERROR("publish: creating the relay block");
      return false;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS && !MayUseExisting(block.get(), who)) {
      REPORT_FAILURE(E_ACCESSDENIED, "publish: a relay block of another user, or of a lower level, is there");
      return false;
    }
    block_ = std::move(block);
  }
  if (!block_view_) {
    block_view_.reset(::MapViewOfFile(block_.get(), FILE_MAP_WRITE, 0, 0, kRelayBlockSize));
    if (!block_view_) {
      REPORT_LAST_ERROR("publish: mapping the relay block");
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
