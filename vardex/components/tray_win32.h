// Tray over Shell_NotifyIconW. The icon belongs to a hidden top-level window
// of its own: "TaskbarCreated" is broadcast to top-level windows only, and
// the kept NOTIFYICONDATAW lets the icon be added again after the shell
// restarts. A double click on the icon, or its menu item "Restore", raises
// the restore event (the form's csSysTray1_RestoreEvent); "TaskbarCreated"
// raises the icon event (csSysTray1_IconEvent), which adds the icon again;
// the menu's reopen item, or a click on the note that offers it, raises the
// reopen request.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <functional>
#include <string>

#include "components/tray.h"
#include "win32/unique_any.h"
#include "win32/window_base.h"

namespace vardex {

// Messages and commands of the tray's own window.
inline constexpr UINT kWmTrayCallback = WM_APP + 1;
inline constexpr UINT kTrayCmdRestore = 1;
inline constexpr UINT kTrayCmdReopen = 2;
inline constexpr UINT kTrayIconId = 1;

class TrayWin32 final : public Tray, public win32::window_base<TrayWin32> {
 public:
  TrayWin32() = default;
  TrayWin32(const TrayWin32&) = delete;
  TrayWin32& operator=(const TrayWin32&) = delete;
  ~TrayWin32() override;

  // Creates the owner window; the callbacks run on this thread from its
  // message loop.
  bool Create(HINSTANCE instance, std::function<void()> restore_event, std::function<void()> icon_event,
              std::function<void()> reopen_event = {});

  bool SetTrayOwner(std::int32_t window) override;
  bool AddTrayIcon() override;
  bool MinimizeToTray(std::int32_t window) override;
  bool RestoreFromTray(std::int32_t window) override;
  // Takes an IconPicture; any other picture is refused.
  bool TrayIcon(const Picture& picture) override;
  bool ShowWarning(const std::string& title, const std::string& text) override;
  bool HideWarning() override;
  bool ShowNote(const std::string& title, const std::string& text) override;
  void SetReopenItem(const std::string& text) override;

  // The icon's tooltip, in the ANSI code page; cut to what the shell shows.
  bool SetTooltip(const std::string& text);

  bool shown() const noexcept { return shown_; }

 private:
  friend class win32::window_base<TrayWin32>;
  LRESULT HandleMessage(UINT msg, WPARAM wparam, LPARAM lparam);
  void ShowMenu();
  bool Modify(UINT flags);
  bool ShowBalloon(const std::string& title, const std::string& text, DWORD flags);

  win32::unique_hicon icon_;  // our own copy: the shell may need it again
  NOTIFYICONDATAW data_{};
  bool shown_ = false;
  HWND owner_ = nullptr;
  UINT taskbar_created_ = 0;
  std::function<void()> restore_event_;
  std::function<void()> icon_event_;
  std::function<void()> reopen_event_;
  std::wstring reopen_item_;  // empty: no offer
  bool note_shown_ = false;  // the last balloon offers the reopen
};

}  // namespace vardex
