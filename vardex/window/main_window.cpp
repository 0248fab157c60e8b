#include "window/main_window.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <iterator>
#include <utility>

#include "win32/message_filter.h"
#include "win32/result.h"
#include "window/main_window_ids.h"
#include "window/single_instance_win32.h"
#include "monitor/input_check.h"

namespace vardex {

namespace {

constexpr wchar_t kClassName[] = L"FrmMain";
// Fixed single frame with a title bar and a close box: not resizable.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = 0;

static_assert(TabIndexOf("Command1") >= 0 && TabIndexOf("Command2") >= 0 && TabIndexOf("cmdBrowse") >= 0,
              "the buttons are in the layout");
constexpr int kIdCommand1 = ControlId(TabIndexOf("Command1"));
constexpr int kIdCommand2 = ControlId(TabIndexOf("Command2"));
constexpr int kIdCmdBrowse = ControlId(TabIndexOf("cmdBrowse"));

int ScreenDpi() {
  const win32::unique_screen_dc screen(::GetDC(nullptr));
  const int dpi = screen ? ::GetDeviceCaps(screen.get(), LOGPIXELSY) : 0;
  return dpi > 0 ? dpi : 96;
}

const wchar_t* ClassOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kTextBox:
    case ControlKind::kPasswordBox:
      return L"EDIT";
    case ControlKind::kCommandButton:
      return L"BUTTON";
    case ControlKind::kLabel:
    case ControlKind::kPictureBox:
      break;
  }
  return L"STATIC";
}

DWORD StyleOf(const ControlLayout& c) {
  DWORD style = WS_CHILD | WS_VISIBLE;
  const bool focusable = c.kind == ControlKind::kTextBox || c.kind == ControlKind::kPasswordBox ||
                         c.kind == ControlKind::kCommandButton;
  if (focusable && InVisibleArea(c)) style |= WS_TABSTOP;
  switch (c.kind) {
    case ControlKind::kLabel:
      return style | SS_LEFT | SS_NOPREFIX;
    case ControlKind::kTextBox:
      return style | ES_LEFT | ES_AUTOHSCROLL;
    case ControlKind::kPasswordBox:
      return style | ES_LEFT | ES_AUTOHSCROLL | ES_PASSWORD;
    case ControlKind::kCommandButton:
      return style | BS_PUSHBUTTON;
    case ControlKind::kPictureBox:
      // Keeps the box's own size rather than the icon's.
      return style | SS_ICON | SS_CENTERIMAGE | SS_REALSIZECONTROL;
  }
  return style;
}

DWORD ExStyleOf(ControlKind kind) {
  return kind == ControlKind::kTextBox || kind == ControlKind::kPasswordBox ? WS_EX_CLIENTEDGE : 0;
}

}  // namespace

MainWindow::MainWindow()
    : tmrAppCheck_(kTimerAppCheck, kAppCheckDesignInterval),
      tmrAppShotDown_(kTimerAppShotDown, kAppShotDownDesignInterval),
      tmrInputCheck_(kTimerInputCheck, kInputCheckInterval) {}

// The window first: its messages during destruction still reach members.
MainWindow::~MainWindow() { destroy_window(); }

bool MainWindow::Create(HINSTANCE instance) {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&icc);

  window_class wc;
  wc.name = kClassName;
  // Shared icons belong to the system; nothing to destroy.
  wc.icon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_VARDEX), IMAGE_ICON,
                                            ::GetSystemMetrics(SM_CXICON), ::GetSystemMetrics(SM_CYICON),
                                            LR_SHARED));
  wc.small_icon = static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_VARDEX), IMAGE_ICON,
                                                  ::GetSystemMetrics(SM_CXSMICON),
                                                  ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  wc.cursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  wc.background = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  // Each step that fails is reported where it fails (win32/result.h).
  const auto create = [&]() -> HRESULT {
    RETURN_IF_FAILED_MSG(register_window_class(instance, wc), "main window: registering its class");

    dpi_ = ScreenDpi();
    RECT frame{0, 0, Px(kClientWidthTwips), Px(kClientHeightTwips)};
    ::AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    // The window is ours from WM_NCCREATE.
    RETURN_LAST_ERROR_IF_NULL_MSG(::CreateWindowExW(kExStyle, kClassName, ansi_to_wide(kFrmMainCaption).c_str(),
                                                    kStyle, 0, 0, frame.right - frame.left,
                                                    frame.bottom - frame.top, nullptr, nullptr, instance, this),
                                  "main window: creating it");
    return CreateControls(instance);
  };
  return SUCCEEDED(create());
}

HRESULT MainWindow::CreateControls(HINSTANCE instance) {
  LOGFONTW lf{};
  lf.lfHeight = -::MulDiv(8, dpi_, 72);
  lf.lfCharSet = DEFAULT_CHARSET;
  constexpr wchar_t kFace[] = L"MS Shell Dlg";
  std::copy(std::begin(kFace), std::end(kFace), lf.lfFaceName);
  font_.reset(::CreateFontIndirectW(&lf));
  const HGDIOBJ font = font_ ? static_cast<HGDIOBJ>(font_.get()) : ::GetStockObject(DEFAULT_GUI_FONT);

  tooltip_.reset(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                   WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, hwnd(), nullptr, instance, nullptr));
  RETURN_LAST_ERROR_IF_MSG(!tooltip_, "main window: the tooltip");

  for (std::size_t i = 0; i < kFrmMainLayout.size(); ++i) {
    const ControlLayout& c = kFrmMainLayout[i];
    const HWND child = ::CreateWindowExW(
        ExStyleOf(c.kind), ClassOf(c.kind), ansi_to_wide(std::string(c.content)).c_str(), StyleOf(c),
        Px(c.left), Px(c.top), Px(c.width), Px(c.height), hwnd(),
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(ControlId(c.tab_index))), instance, nullptr);
    RETURN_LAST_ERROR_IF_NULL_MSG(child, "main window: creating a control");
    children_[i] = child;
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (c.kind == ControlKind::kPasswordBox) ::SendMessageW(child, EM_SETPASSWORDCHAR, L'*', 0);
    RETURN_LAST_ERROR_IF_MSG(!c.hint.empty() && !AddTooltip(child, c.hint), "main window: a control's tooltip");

    if (c.kind == ControlKind::kPictureBox) {
      win32::unique_hicon icon(static_cast<HICON>(
          ::LoadImageW(instance, MAKEINTRESOURCEW(c.icon), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR)));
      RETURN_LAST_ERROR_IF_MSG(!icon, "main window: a picture's icon");
      ::SendMessageW(child, STM_SETICON, reinterpret_cast<WPARAM>(icon.get()), 0);
      pictures_[i] = std::make_unique<IconPicture>(std::move(icon));
    }
  }

  // Each control binds to its own row of the layout, whose kind must fit.
#define VARDEX_BIND_ROW(kind, name) BindRow<LayoutRow(#name)>(name##_);
  VARDEX_FRM_MAIN_CONTROLS(VARDEX_BIND_ROW)
#undef VARDEX_BIND_ROW
  return S_OK;
}

bool MainWindow::AddTooltip(HWND control, std::string_view hint) {
  std::wstring text = ansi_to_wide(std::string(hint));
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = hwnd();
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  tool.lpszText = text.data();  // copied by the tooltip
  return ::SendMessageW(tooltip_.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) != FALSE;
}

void MainWindow::Attach(FrmMain& form) {
  form_ = &form;
  // Handles are 32-bit values on every Windows; the tray takes them so.
  form.SetWindowHandle(static_cast<std::int32_t>(reinterpret_cast<INT_PTR>(hwnd())));
#define VARDEX_ROUTE_CHANGE(name) name##_.SetOnChange([&form] { form.name##_Change(); });
  VARDEX_FRM_MAIN_CHANGE_EVENTS(VARDEX_ROUTE_CHANGE)
#undef VARDEX_ROUTE_CHANGE
  // A later start of Vardex asks for the window, also from a lower level
  // than an elevated Vardex's.
  win32::allow_message_from_lower_integrity(hwnd(), ShowWindowMessage());
}

void MainWindow::Show() {
  RECT r{};
  ::GetWindowRect(hwnd(), &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  ::SetWindowPos(hwnd(), nullptr, (::GetSystemMetrics(SM_CXSCREEN) - w) / 2,
                 (::GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ::ShowWindow(hwnd(), SW_SHOWNORMAL);
  ::UpdateWindow(hwnd());
}

bool MainWindow::PreTranslate(MSG& msg) {
  return hwnd() && ::IsDialogMessageW(hwnd(), &msg) != FALSE;
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  const HWND window = hwnd();
  if (message == ShowWindowMessage() && message != 0) {
    // A later start of Vardex: the window comes back as a double click on
    // the icon brings it.
    if (form_) form_->csSysTray1_RestoreEvent();
    return 0;
  }
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_TIMER:
      OnTimer(wparam);
      return 0;
    case WM_ACTIVATE:
      if (HIWORD(wparam) == 0) {  // not while minimised
        OnActivate(LOWORD(wparam) != WA_INACTIVE);
        return 0;
      }
      break;
    case kMsgFirstActivation:
      if (form_) form_->Form_Activate();
      return 0;
    case kMsgPolicyChanged:
      if (on_policy_change) on_policy_change();
      return 0;
    case WM_SETTINGCHANGE:
      if (lparam && std::wcscmp(reinterpret_cast<const wchar_t*>(lparam), L"Policy") == 0 && on_policy_change)
        on_policy_change();
      break;
    case WM_ENDSESSION:
      // The session ends, or Restart Manager closes Vardex (registered for
      // restart) for an installer: close as the user would, nothing saved.
      if (wparam) ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      tooltip_.reset();
      // Closing the window ends the application.
      ::PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void MainWindow::OnCommand(int id, int code) {
  if (code == EN_CHANGE) {
#define VARDEX_CHANGE_BOX(name) &name##_,
    for (EditTextBox* box : {VARDEX_FRM_MAIN_CHANGE_EVENTS(VARDEX_CHANGE_BOX)})
      if (box->hwnd() && ::GetDlgCtrlID(box->hwnd()) == id) box->OnEnChange();
#undef VARDEX_CHANGE_BOX
    return;
  }
  if (code != BN_CLICKED || !form_) return;
  if (id == kIdCommand2)
    form_->Command2_Click();
  else if (id == kIdCmdBrowse)
    form_->cmdBrowse_Click();
  else if (id == kIdCommand1)
    form_->Command1_Click();
}

void MainWindow::OnTimer(UINT_PTR id) {
  if (!form_) return;
  // The input check's tick changes no readout, but it ends or calls off a
  // grace period, which the tooltip shows.
  if (id == tmrInputCheck_.id())
    form_->tmrInputCheck_Timer();
  else if (id == tmrAppCheck_.id())
    form_->tmrAppCheck_Timer();
  else if (id == tmrAppShotDown_.id())
    form_->tmrAppShotDown_Timer();
  else
    return;
  if (after_tick) after_tick();
}

void MainWindow::OnActivate(bool active) {
  const HWND window = hwnd();
  if (!active) {
    const HWND focus = ::GetFocus();
    if (focus && ::IsChild(window, focus)) focus_ = focus;
    return;
  }
  // Give the focus back to the control that had it, or to the first tab stop.
  if (!focus_ || !::IsWindowEnabled(focus_)) focus_ = ::GetNextDlgTabItem(window, nullptr, FALSE);
  if (focus_) ::SetFocus(focus_);
  if (!activated_) {
    activated_ = true;
    ::PostMessageW(window, kMsgFirstActivation, 0, 0);
  }
}

}  // namespace vardex
