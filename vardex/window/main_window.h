// MainWindow: the top-level window FrmMain with all its controls, laid out
// from kFrmMainLayout at the system DPI. It owns the Win32 controls, the two
// timers and the ten images, and routes the controls' events to the FrmMain
// handlers once a form is attached.
#pragma once

#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string_view>

#include "win32/unique_any.h"
#include "window/frm_main.h"
#include "window/icon_picture.h"
#include "window/main_window_layout.h"
#include "window/win32_controls.h"

namespace vardex {

namespace detail {
inline void delete_font(HFONT f) noexcept { ::DeleteObject(f); }
}  // namespace detail
using unique_hfont = win32::unique_any<HFONT, decltype(&detail::delete_font), &detail::delete_font>;

class MainWindow {
 public:
  MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow();

  // Creates the window, hidden and centred, with every control at its
  // design-time content. False when a window or an image cannot be made.
  bool Create(HINSTANCE instance);
  HWND hwnd() const { return window_.get(); }
  // The DPI the layout was made for.
  int dpi() const { return dpi_; }

  // Valid after Create; the references live as long as this object.
  FrmMainControls Controls();
  // Routes the change, click, tick and first-activation events to `form`
  // and gives it the window handle.
  void Attach(FrmMain& form);

  void Show();
  // Tab, Shift+Tab and the access keys; true when the message was handled.
  bool PreTranslate(MSG& msg);

  // Called after every tick of either timer (the host refreshes the tray's
  // tooltip from the readouts).
  std::function<void()> after_tick;

 private:
  static LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int id, int code);
  void OnTimer(UINT_PTR id);
  void OnActivate(bool active);

  bool CreateControls(HINSTANCE instance);
  bool AddTooltip(HWND control, std::string_view hint);
  HWND Child(std::string_view name) const;
  int Px(int twips) const { return ::MulDiv(twips, dpi_, 1440); }

  win32::unique_hwnd window_;
  win32::unique_hwnd tooltip_;
  unique_hfont font_;
  int dpi_ = 96;
  std::array<HWND, kFrmMainLayout.size()> children_{};
  HWND focus_ = nullptr;  // the control that had the focus at deactivation
  bool activated_ = false;
  FrmMain* form_ = nullptr;

  EditTextBox intAppShutDownTime_, txtApplicationName_, txtPassword_, intAppUseTime_, intAppCheckTime_;
  PushButton cmdBrowse_;
  StaticLabel LblElapsedTime_, lblCompletionRatio_, lblhKeyPressed_, lblKeyReleased_, lblMouseEvent_,
      lblCourrentMouse_, lblSystemPath_;
  WindowTimer tmrAppCheck_, tmrAppShotDown_;
  std::unique_ptr<IconPicture> picTimerOff_, picTimerOn_;
  std::array<std::unique_ptr<IconPicture>, 7> pictures_;
};

}  // namespace vardex
