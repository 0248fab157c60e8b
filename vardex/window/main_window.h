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

#include "components/icon_picture.h"
#include "win32/unique_any.h"
#include "win32/window_base.h"
#include "window/frm_main.h"
#include "window/main_window_layout.h"
#include "window/win32_controls.h"

namespace vardex {

class MainWindow final : public win32::window_base<MainWindow>, public FrmMainControls {
 public:
  MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow();

  // Creates the window, hidden and centred, with every control at its
  // design-time content. False when a window or an image cannot be made.
  bool Create(HINSTANCE instance);
  // The DPI the layout was made for.
  int dpi() const { return dpi_; }

  // Valid after Create; the references live as long as this object.
  FrmMainControls& Controls() { return *this; }
  TextBox& intAppShutDownTime() override { return intAppShutDownTime_; }
  TextBox& txtApplicationName() override { return txtApplicationName_; }
  TextBox& txtPassword() override { return txtPassword_; }
  TextBox& intAppUseTime() override { return intAppUseTime_; }
  TextBox& intAppCheckTime() override { return intAppCheckTime_; }
  CommandButton& cmdBrowse() override { return cmdBrowse_; }
  Label& LblElapsedTime() override { return LblElapsedTime_; }
  Label& lblCompletionRatio() override { return lblCompletionRatio_; }
  Label& lblhKeyPressed() override { return lblhKeyPressed_; }
  Label& lblKeyReleased() override { return lblKeyReleased_; }
  Label& lblMouseEvent() override { return lblMouseEvent_; }
  Label& lblCourrentMouse() override { return lblCourrentMouse_; }
  Label& lblSystemPath() override { return lblSystemPath_; }
  Timer& tmrAppCheck() override { return tmrAppCheck_; }
  Timer& tmrAppShotDown() override { return tmrAppShotDown_; }
  Timer& tmrInputCheck() override { return tmrInputCheck_; }
  const Picture& picTimerOff() override { return *picTimerOff_; }
  const Picture& picTimerOn() override { return *picTimerOn_; }
  const Picture& Picture1() override { return *dial_[0]; }
  const Picture& Picture2() override { return *dial_[1]; }
  const Picture& Picture3() override { return *dial_[2]; }
  const Picture& Picture4() override { return *dial_[3]; }
  const Picture& Picture5() override { return *dial_[4]; }
  const Picture& Picture6() override { return *dial_[5]; }
  const Picture& Picture7() override { return *dial_[6]; }
  // Routes the change, click, tick and first-activation events, and a later
  // start's request for the window (ShowWindowMessage), to `form` and gives
  // it the window handle.
  void Attach(FrmMain& form);

  void Show();
  // Tab, Shift+Tab and the access keys; true when the message was handled.
  bool PreTranslate(MSG& msg);

  // Called after every tick of the three timers (the host refreshes the
  // tray's tooltip from the readouts and the grace period).
  std::function<void()> after_tick;

 private:
  friend class win32::window_base<MainWindow>;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int id, int code);
  void OnTimer(UINT_PTR id);
  void OnActivate(bool active);

  bool CreateControls(HINSTANCE instance);
  bool AddTooltip(HWND control, std::string_view hint);
  static constexpr bool Fits(const EditTextBox*, ControlKind k) {
    return k == ControlKind::kTextBox || k == ControlKind::kPasswordBox;
  }
  static constexpr bool Fits(const StaticLabel*, ControlKind k) { return k == ControlKind::kLabel; }
  static constexpr bool Fits(const PushButton*, ControlKind k) { return k == ControlKind::kCommandButton; }
  // Binds `control` to the child window of layout row `row`: a row that does
  // not exist, or whose kind is not the control's, fails the build.
  template <std::size_t row, class Control>
  void BindRow(Control& control) {
    static_assert(row < kFrmMainLayout.size(), "no such control in the layout");
    static_assert(Fits(static_cast<const Control*>(nullptr), kFrmMainLayout[row].kind),
                  "the control does not fit its layout row");
    control.Bind(children_[row]);
  }
  int Px(int twips) const { return ::MulDiv(twips, dpi_, 1440); }

  win32::unique_hwnd tooltip_;
  win32::unique_hfont font_;
  int dpi_ = 96;
  std::array<HWND, kFrmMainLayout.size()> children_{};
  HWND focus_ = nullptr;  // the control that had the focus at deactivation
  bool activated_ = false;
  FrmMain* form_ = nullptr;

  EditTextBox intAppShutDownTime_, txtApplicationName_, txtPassword_, intAppUseTime_, intAppCheckTime_;
  PushButton cmdBrowse_;
  StaticLabel LblElapsedTime_, lblCompletionRatio_, lblhKeyPressed_, lblKeyReleased_, lblMouseEvent_,
      lblCourrentMouse_, lblSystemPath_;
  WindowTimer tmrAppCheck_, tmrAppShotDown_, tmrInputCheck_;
  std::unique_ptr<IconPicture> picTimerOff_, picTimerOn_;
  std::array<std::unique_ptr<IconPicture>, 7> dial_;  // Picture1 .. Picture7
};

}  // namespace vardex
