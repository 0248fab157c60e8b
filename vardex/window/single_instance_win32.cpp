#include "window/single_instance_win32.h"

#include <new>
#include <utility>

#include "processes/process_reader.h"
#include "processes/program_path.h"
#include "win32/object_security.h"

namespace vardex {
namespace {

constexpr DWORD kBlockSize = sizeof(LONG);
constexpr char kBlockPrefix[] = "Local\\Vardex.Instance.";
constexpr wchar_t kShowWindowMessageName[] = L"Vardex.ShowWindow.0A2C5052-9BB1-4A9B-845B-2015C4283757";

// Whether the block is this user's whatever its label: the owner check alone.
bool OwnedByThisUser(HANDLE block) noexcept {
  win32::token_identity any_level;
  any_level.label.reset();
  return win32::may_use_existing(block, any_level);
}

// Whether process `id` runs this program's executable, by the one path rule.
bool RunsThisProgram(DWORD id) noexcept {
  char own[MAX_PATH] = "";
  const DWORD length = ::GetModuleFileNameA(nullptr, own, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return false;
  win32::system_process_query query;
  const win32::unique_hmodule psapi(win32::load_system_library(win32::kPsapi));
  win32::system_process_source source(query, {win32::kNtdll, psapi.get()});
  try {
    std::string path;
    source.read_path(id, path);
    return !path.empty() && win32::same_program_path(path.c_str(), own);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

std::string InstanceBlockName() {
  const win32::unique_process_heap_block user = win32::query_process_token(TokenUser);
  LPSTR sid = nullptr;
  if (!win32::token_user_sid(user) || !::ConvertSidToStringSidA(win32::token_user_sid(user), &sid)) return {};
  const win32::unique_hlocal keep(sid);
  return kBlockPrefix + std::string(sid);
}

UINT ShowWindowMessage() noexcept {
  static const UINT message = ::RegisterWindowMessageW(kShowWindowMessageName);
  return message;
}

InstanceBlock::InstanceBlock(const std::string& name) noexcept {
  if (name.empty()) return;
  const win32::token_identity who;
  // Only this user's Vardex reads the block; no other program needs it.
  const win32::unique_hlocal security = win32::owned_object_security(who, win32::logon_session_read::kNo);
  if (!security) return;
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security.get(), FALSE};
  ::SetLastError(ERROR_SUCCESS);
  win32::unique_handle block(
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, kBlockSize, name.c_str()));
  bool exists = block && ::GetLastError() == ERROR_ALREADY_EXISTS;
  if (!block) {
    // Ours at a higher level (an elevated Vardex) refuses us writing, not
    // reading; anyone else's that keeps us out is refused below or here.
    if (::GetLastError() != ERROR_ACCESS_DENIED) return;
    block.reset(::OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str()));
    if (!block) return;
    exists = true;
  }
  Claim claim = Claim::kFirst;
  if (exists) {
    if (win32::may_use_existing(block.get(), who)) {
      claim = Claim::kRunning;
    } else if (OwnedByThisUser(block.get())) {
      claim = Claim::kBelow;
    } else {
      return;
    }
  }
  view_.reset(::MapViewOfFile(block.get(), claim == Claim::kFirst ? FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, kBlockSize));
  if (!view_) return;
  block_ = std::move(block);
  claim_ = claim;
}

bool InstanceBlock::Publish(HWND window) noexcept {
  if (claim_ != Claim::kFirst) return false;
  // One aligned 4-byte store, read with one load: handles are 32-bit values
  // for 32- and 64-bit programs alike.
  *static_cast<volatile LONG*>(view_.get()) = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
  return true;
}

HWND InstanceBlock::RunningWindow(DWORD wait_ms) const noexcept {
  if (claim_ != Claim::kRunning && claim_ != Claim::kBelow) return nullptr;
  const DWORD start = ::GetTickCount();
  for (;;) {
    const LONG value = *static_cast<const volatile LONG*>(view_.get());
    const HWND window = reinterpret_cast<HWND>(static_cast<LONG_PTR>(value));
    if (value != 0 && ::IsWindow(window)) {
      if (claim_ == Claim::kRunning) return window;
      DWORD owner = 0;
      ::GetWindowThreadProcessId(window, &owner);
      return RunsThisProgram(owner) ? window : nullptr;
    }
    if (::GetTickCount() - start >= wait_ms) return nullptr;
    // This thread has no window yet; whatever reaches it is handled while
    // it waits.
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
  }
}

bool InstanceBlock::Show(HWND window) noexcept {
  if (!window) return false;
  DWORD owner = 0;
  ::GetWindowThreadProcessId(window, &owner);
  // The first instance may then take the foreground, as it would after the
  // user's double click.
  ::AllowSetForegroundWindow(owner);
  return ::PostMessageW(window, ShowWindowMessage(), 0, 0) != FALSE;
}

}  // namespace vardex
