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
#include "window/controls_win32.h"

namespace vardex {

// A picture box's image, owned by the window.
struct PictureBox {
  const IconPicture* image = nullptr;
};
// The Win32 control behind each kind of the form's controls.
template <class Kind>
struct Win32Control;
template <> struct Win32Control<TextBox> { using type = EditTextBox; };
template <> struct Win32Control<Label> { using type = StaticLabel; };
template <> struct Win32Control<CommandButton> { using type = PushButton; };
template <> struct Win32Control<Timer> { using type = WindowTimer; };
template <> struct Win32Control<Picture> { using type = PictureBox; };

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
#define VARDEX_WINDOW_ACCESSOR(kind, name) \
  ControlRef<kind>::type name() override { return Ref(name##_); }
  VARDEX_FRM_MAIN_CONTROLS(VARDEX_WINDOW_ACCESSOR)
#undef VARDEX_WINDOW_ACCESSOR
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
  // Called when the policies may have changed: kMsgPolicyChanged from the
  // watch over the policy key, or WM_SETTINGCHANGE for "Policy", which Group
  // Policy broadcasts after it applies.
  std::function<void()> on_policy_change;

 private:
  friend class win32::window_base<MainWindow>;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void OnCommand(int id, int code);
  void OnTimer(UINT_PTR id);
  void OnActivate(bool active);

  HRESULT CreateControls(HINSTANCE instance);
  bool AddTooltip(HWND control, std::string_view hint);
  static constexpr bool Fits(const EditTextBox*, ControlKind k) {
    return k == ControlKind::kTextBox || k == ControlKind::kPasswordBox;
  }
  static constexpr bool Fits(const StaticLabel*, ControlKind k) { return k == ControlKind::kLabel; }
  static constexpr bool Fits(const PushButton*, ControlKind k) { return k == ControlKind::kCommandButton; }
  static constexpr bool Fits(const PictureBox*, ControlKind k) { return k == ControlKind::kPictureBox; }
  // Binds `control` to the child window of layout row `row`: a row that does
  // not exist, or whose kind is not the control's, fails the build.
  template <std::size_t row, class Control>
  void BindRow(Control& control) {
    static_assert(row < kFrmMainLayout.size(), "no such control in the layout");
    static_assert(Fits(static_cast<const Control*>(nullptr), kFrmMainLayout[row].kind),
                  "the control does not fit its layout row");
    Bind(control, row);
  }
  // Timers belong to the window, not to a row.
  template <std::size_t row>
  void BindRow(WindowTimer& timer) {
    timer.Bind(hwnd());
  }
  template <class Control>
  void Bind(Control& control, std::size_t row) {
    control.Bind(children_[row]);
  }
  void Bind(PictureBox& picture, std::size_t row) { picture.image = pictures_[row].get(); }
  template <class Control>
  static Control& Ref(Control& control) {
    return control;
  }
  static const Picture& Ref(PictureBox picture) { return *picture.image; }
  int Px(int twips) const { return ::MulDiv(twips, dpi_, 1440); }

  win32::unique_hwnd tooltip_;
  win32::unique_hfont font_;
  int dpi_ = 96;
  std::array<HWND, kFrmMainLayout.size()> children_{};
  HWND focus_ = nullptr;  // the control that had the focus at deactivation
  bool activated_ = false;
  FrmMain* form_ = nullptr;

  std::array<std::unique_ptr<IconPicture>, kFrmMainLayout.size()> pictures_;  // by layout row
#define VARDEX_WINDOW_MEMBER(kind, name) Win32Control<kind>::type name##_;
  VARDEX_FRM_MAIN_CONTROLS(VARDEX_WINDOW_MEMBER)
#undef VARDEX_WINDOW_MEMBER
};

}  // namespace vardex
