#include "components/tray_win32.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

#include "components/icon_picture.h"
#include "win32/message_filter.h"
#include "win32/text.h"

namespace vardex {
namespace {

constexpr wchar_t kClassName[] = L"VardexTrayOwner";
constexpr wchar_t kDefaultTip[] = L"Vardex";
constexpr std::size_t kTipChars = sizeof(NOTIFYICONDATAW::szTip) / sizeof(wchar_t);

// Window handles cross the tray interface as their 32-bit values.
HWND ToHwnd(std::int32_t window) {
  return reinterpret_cast<HWND>(static_cast<INT_PTR>(window));
}

}  // namespace

TrayWin32::~TrayWin32() {
  if (shown_) ::Shell_NotifyIconW(NIM_DELETE, &data_);
  destroy_window();
}

bool TrayWin32::Create(HINSTANCE instance, std::function<void()> restore_event,
                       std::function<void()> icon_event, std::function<void()> reopen_event) {
  restore_event_ = std::move(restore_event);
  icon_event_ = std::move(icon_event);
  reopen_event_ = std::move(reopen_event);
  taskbar_created_ = ::RegisterWindowMessageW(L"TaskbarCreated");

  window_class wc;
  wc.name = kClassName;
  if (FAILED(register_window_class(instance, wc))) return false;
  if (!::CreateWindowExW(WS_EX_TOOLWINDOW, kClassName, L"Vardex notification icon", WS_POPUP, 0, 0, 0, 0, nullptr,
                         nullptr, instance, this))
    return false;
  // The shell runs at medium integrity: an elevated Vardex would not hear
  // that it restarted, and its icon would never come back.
  win32::allow_message_from_lower_integrity(hwnd(), taskbar_created_);

  data_.cbSize = sizeof(data_);
  data_.hWnd = hwnd();
  data_.uID = kTrayIconId;
  data_.uCallbackMessage = kWmTrayCallback;
  std::copy(std::begin(kDefaultTip), std::end(kDefaultTip), data_.szTip);
  return true;
}

bool TrayWin32::SetTrayOwner(std::int32_t window) {
  const HWND owner = ToHwnd(window);
  if (!::IsWindow(owner)) return false;
  owner_ = owner;
  return true;
}

bool TrayWin32::AddTrayIcon() {
  if (!hwnd()) return false;
  data_.uFlags = NIF_MESSAGE | NIF_TIP | (icon_ ? NIF_ICON : 0);
  data_.hIcon = icon_.get();
  // Shown already: refresh it. If the shell lost it without telling us, the
  // modify fails and the icon is added again.
  if (shown_ && ::Shell_NotifyIconW(NIM_MODIFY, &data_)) return true;
  if (::Shell_NotifyIconW(NIM_ADD, &data_)) {
    shown_ = true;
    return true;
  }
  // The shell still has it from an earlier life of ours.
  shown_ = ::Shell_NotifyIconW(NIM_MODIFY, &data_) != FALSE;
  return shown_;
}

bool TrayWin32::MinimizeToTray(std::int32_t window) {
  const HWND hwnd = ToHwnd(window);
  if (!::IsWindow(hwnd)) return false;
  ::ShowWindow(hwnd, SW_HIDE);
  return true;
}

bool TrayWin32::RestoreFromTray(std::int32_t window) {
  const HWND hwnd = ToHwnd(window);
  if (!::IsWindow(hwnd)) return false;
  ::ShowWindow(hwnd, ::IsIconic(hwnd) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(hwnd);
  return true;
}

bool TrayWin32::TrayIcon(const Picture& picture) {
  const auto* icon = dynamic_cast<const IconPicture*>(&picture);
  if (!icon || !icon->icon()) return false;
  win32::unique_hicon copy(::CopyIcon(icon->icon()));
  if (!copy) return false;
  icon_ = std::move(copy);
  data_.hIcon = icon_.get();
  return !shown_ || Modify(NIF_ICON);
}

namespace {

// `text` in the ANSI code page into `out` (n characters with the
// terminator), cut to fit. False when it cannot be converted.
bool CopyWide(const std::string& text, wchar_t* out, std::size_t n) {
  std::fill(out, out + n, L'\0');
  if (text.empty()) return true;
  // The conversion refuses a too small buffer; convert whole, then cut.
  std::wstring wide = win32::ansi_to_wide(text);
  if (wide.empty()) return false;
  wide.resize(std::min(wide.size(), n - 1));
  std::copy(wide.begin(), wide.end(), out);
  return true;
}

}  // namespace

bool TrayWin32::SetTooltip(const std::string& text) {
  wchar_t tip[kTipChars];
  if (!CopyWide(text, tip, kTipChars)) return false;
  if (std::equal(std::begin(tip), std::end(tip), std::begin(data_.szTip))) return true;
  std::copy(std::begin(tip), std::end(tip), data_.szTip);
  return !shown_ || Modify(NIF_TIP);
}

bool TrayWin32::ShowWarning(const std::string& title, const std::string& text) {
  note_shown_ = false;
  return ShowBalloon(title, text, NIIF_WARNING | NIIF_NOSOUND);
}

bool TrayWin32::ShowNote(const std::string& title, const std::string& text) {
  note_shown_ = ShowBalloon(title, text, NIIF_INFO | NIIF_NOSOUND);
  return note_shown_;
}

// A notification never takes the focus: the shell shows it.
bool TrayWin32::ShowBalloon(const std::string& title, const std::string& text, DWORD flags) {
  if (!CopyWide(title, data_.szInfoTitle, std::size(data_.szInfoTitle)) ||
      !CopyWide(text, data_.szInfo, std::size(data_.szInfo)))
    return false;
  data_.dwInfoFlags = flags;
  const bool shown = shown_ && Modify(NIF_INFO);
  data_.szInfo[0] = L'\0';  // not shown again when the icon is added again
  return shown;
}

// An empty text takes the balloon away.
bool TrayWin32::HideWarning() {
  note_shown_ = false;
  data_.szInfo[0] = L'\0';
  return !shown_ || Modify(NIF_INFO);
}

void TrayWin32::SetReopenItem(const std::string& text) {
  reopen_item_ = text.empty() ? std::wstring() : win32::ansi_to_wide(text);
  if (reopen_item_.empty()) note_shown_ = false;
}

bool TrayWin32::Modify(UINT flags) {
  data_.uFlags = flags;
  return ::Shell_NotifyIconW(NIM_MODIFY, &data_) != FALSE;
}

void TrayWin32::ShowMenu() {
  const win32::unique_hmenu menu(::CreatePopupMenu());
  if (!menu) return;
  ::AppendMenuW(menu.get(), MF_STRING, kTrayCmdRestore, L"Restore");
  if (!reopen_item_.empty()) ::AppendMenuW(menu.get(), MF_STRING, kTrayCmdReopen, reopen_item_.c_str());
  ::SetMenuDefaultItem(menu.get(), kTrayCmdRestore, FALSE);
  POINT at{};
  ::GetCursorPos(&at);
  // Without the foreground the menu would not close when the user clicks away.
  ::SetForegroundWindow(hwnd());
  const UINT chosen = static_cast<UINT>(::TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON,
                                                         at.x, at.y, 0, hwnd(), nullptr));
  ::PostMessageW(hwnd(), WM_NULL, 0, 0);
  if (chosen == kTrayCmdRestore && restore_event_) restore_event_();
  if (chosen == kTrayCmdReopen && reopen_event_) reopen_event_();
}

LRESULT TrayWin32::HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == kWmTrayCallback && wparam == kTrayIconId) {
    switch (static_cast<UINT>(lparam)) {
      case WM_LBUTTONDBLCLK:
        if (restore_event_) restore_event_();
        break;
      case WM_RBUTTONUP:
        ShowMenu();
        break;
      // Only a click on the note that offers the reopen; Wine's tray never
      // sends it.
      case NIN_BALLOONUSERCLICK:
        if (note_shown_ && !reopen_item_.empty() && reopen_event_) reopen_event_();
        note_shown_ = false;
        break;
      default:
        break;
    }
    return 0;
  }
  if (taskbar_created_ != 0 && msg == taskbar_created_) {
    // The new shell has no icon of ours; the form's icon event adds it again.
    shown_ = false;
    if (icon_event_) icon_event_();
    return 0;
  }
  return ::DefWindowProcW(hwnd(), msg, wparam, lparam);
}

}  // namespace vardex
