// The real window under Win32 (Wine in the cross build): its controls,
// layout, tab order, hints, images and resources, and the routing of its
// events to a FrmMain whose outside components are fakes.
#include "window/main_window.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "settings/screen_lock.h"
#include "window/form_fixture_test.h"
#include "win32/object_security.h"
#include "window/main_window_ids.h"
#include "window/single_instance_win32.h"

namespace vardex {
namespace {

using testing::CallLog;

void Pump() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

std::wstring WideSid(PSID sid) {
  LPWSTR text = nullptr;
  if (!sid || !::ConvertSidToStringSidW(sid, &text)) return L"?";
  const win32::unique_hlocal keep(text);
  return text;
}

std::wstring ClassName(HWND w) {
  wchar_t name[64] = {};
  ::GetClassNameW(w, name, 64);
  return name;
}

const ControlLayout& Design(std::string_view name) {
  for (const ControlLayout& c : kFrmMainLayout)
    if (c.name == name) return c;
  ADD_FAILURE() << "no control " << name;
  return kFrmMainLayout[0];
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(window.Create(::GetModuleHandleW(nullptr))); }
  void TearDown() override { Pump(); }

  HWND Item(std::string_view name) const { return ::GetDlgItem(window.hwnd(), ControlId(Design(name).tab_index)); }
  // A child's rectangle in the window's client coordinates.
  RECT Rect(std::string_view name) const {
    RECT r{};
    ::GetWindowRect(Item(name), &r);
    ::MapWindowPoints(nullptr, window.hwnd(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  RECT Client() const {
    RECT r{};
    ::GetClientRect(window.hwnd(), &r);
    return r;
  }

  MainWindow window;
};

TEST_F(MainWindowTest, IsAFixedFrameWindowWithItsCaption) {
  EXPECT_EQ(WindowTextW(window.hwnd()), L"Vardex by Pellow");
  const LONG style = ::GetWindowLongW(window.hwnd(), GWL_STYLE);
  EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
  EXPECT_EQ(style & WS_THICKFRAME, 0);
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
  EXPECT_FALSE(::IsWindowVisible(window.hwnd()));
  EXPECT_NE(::GetClassLongPtrW(window.hwnd(), GCLP_HICON), 0u);
}

TEST_F(MainWindowTest, ClientAreaIs4404By996TwipsAtTheWindowsDpi) {
  // Set by tests/window/at_dpi.sh, which runs these tests at other DPIs.
  if (const char* expected = std::getenv("VARDEX_EXPECTED_DPI")) {
    EXPECT_EQ(window.dpi(), std::atoi(expected));
  }
  const RECT c = Client();
  EXPECT_EQ(c.right, ::MulDiv(4404, window.dpi(), 1440));
  EXPECT_EQ(c.bottom, ::MulDiv(996, window.dpi(), 1440));
  if (window.dpi() == 96) {
    EXPECT_EQ(c.right, 294);
    EXPECT_EQ(c.bottom, 66);
    const RECT browse = Rect("cmdBrowse");
    EXPECT_EQ(browse.left, 229);
    EXPECT_EQ(browse.top, 24);
    EXPECT_EQ(browse.right - browse.left, 65);
    EXPECT_EQ(browse.bottom - browse.top, 20);
  }
}

TEST_F(MainWindowTest, EveryControlExistsWithItsKindPlaceAndContent) {
  // The design, written out here rather than read from the table the window
  // is built from. Place in twips; pictures show no text.
  struct Expected {
    const char* name;
    const wchar_t* window_class;
    int left, top, width, height;
    const char* content;
  };
  const Expected design[] = {
      {"txtApplicationName", L"Edit", 1320, 360, 2076, 276, "C:\\Program Files\\Navision Financials\\FIN.EXE"},
      {"Command1", L"Button", 5232, 5664, 1452, 540, "Show Task"},
      {"intAppCheckTime", L"Edit", 2328, 3456, 444, 252, "5"},
      {"Label1", L"Static", 144, 3456, 2172, 324, "Check if app. is loaded every"},
      {"Label2", L"Static", 2784, 3456, 756, 324, "Seconds"},
      {"Label3", L"Static", 24, 384, 1284, 324, "Application path "},
      {"intAppShutDownTime", L"Edit", 1320, 0, 348, 252, "30"},
      {"Label4", L"Static", 24, 24, 1284, 324, "Shut down after"},
      {"Label5", L"Static", 1680, 0, 612, 324, "Minutes"},
      {"picTimerOn", L"Static", 504, 5280, 444, 444, ""},
      {"picTimerOff", L"Static", 48, 5280, 444, 444, ""},
      {"lblhKeyPressed", L"Static", 624, 3840, 3060, 204, ""},
      {"lblKeyReleased", L"Static", 624, 4080, 3060, 204, ""},
      {"lblMouseEvent", L"Static", 600, 4320, 3084, 204, ""},
      {"lblCourrentMouse", L"Static", 2232, 4560, 1452, 204, ""},
      {"lblSystemPath", L"Static", 648, 4800, 3060, 204, ""},
      {"intAppUseTime", L"Edit", 2328, 3000, 444, 252, "10"},
      {"Label6", L"Static", 2784, 3000, 756, 324, "Seconds"},
      {"Label7", L"Static", 144, 3000, 2172, 324, "Check if app. used every"},
      {"LblElapsedTime", L"Static", 3720, 5064, 540, 276, "0"},
      {"Label10", L"Static", 2232, 5064, 1476, 276, "Elapsed time"},
      {"Label8", L"Static", 2232, 5400, 1476, 276, "Completion ratio"},
      {"lblCompletionRatio", L"Static", 3720, 5400, 540, 276, "0"},
      {"Picture1", L"Static", 24, 5784, 444, 444, ""},
      {"Picture2", L"Static", 480, 5784, 444, 444, ""},
      {"Picture3", L"Static", 936, 5784, 444, 444, ""},
      {"Picture4", L"Static", 1392, 5784, 444, 444, ""},
      {"Picture5", L"Static", 1848, 5784, 444, 444, ""},
      {"Picture6", L"Static", 2304, 5784, 444, 444, ""},
      {"Picture7", L"Static", 2760, 5784, 444, 444, ""},
      {"Command2", L"Button", 3432, 696, 972, 300, "&Done"},
      {"Label9", L"Static", 24, 696, 1284, 324, "Password"},
      {"txtPassword", L"Edit", 1320, 696, 2076, 276, ""},
      {"cmdBrowse", L"Button", 3432, 360, 972, 300, "&Browse..."},
      {"lblPolicy", L"Static", 2304, 24, 2100, 324, ""},
  };
  ASSERT_EQ(std::size(design), kFrmMainLayout.size());
  const int dpi = window.dpi();
  for (const Expected& c : design) {
    SCOPED_TRACE(c.name);
    const HWND w = Item(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(ClassName(w), c.window_class);
    if (Design(c.name).kind != ControlKind::kPictureBox) {
      EXPECT_EQ(wide_to_ansi(WindowTextW(w)), c.content);
    }
    const RECT r = Rect(c.name);
    EXPECT_EQ(r.left, ::MulDiv(c.left, dpi, 1440));
    EXPECT_EQ(r.top, ::MulDiv(c.top, dpi, 1440));
    EXPECT_EQ(r.right - r.left, ::MulDiv(c.width, dpi, 1440));
    EXPECT_EQ(r.bottom - r.top, ::MulDiv(c.height, dpi, 1440));
    EXPECT_TRUE(::IsWindowEnabled(w));
  }
}

TEST_F(MainWindowTest, TheRowsAreInViewAndTheRestBelowTheClientArea) {
  const RECT client = Client();
  const char* visible[] = {"Label4", "intAppShutDownTime", "Label5", "Label3", "txtApplicationName",
                           "cmdBrowse", "Label9", "txtPassword", "Command2", "lblPolicy"};
  for (const ControlLayout& c : kFrmMainLayout) {
    SCOPED_TRACE(std::string(c.name));
    const bool in_view = std::any_of(std::begin(visible), std::end(visible),
                                     [&](const char* n) { return c.name == n; });
    const RECT r = Rect(c.name);
    if (in_view) {
      EXPECT_LT(r.top, client.bottom);
      EXPECT_LE(r.right, client.right);
    } else {
      EXPECT_GE(r.top, client.bottom);
    }
  }
  // The policy's label lies on no other control in view, and its text fits
  // it in the window's font.
  const RECT label = Rect("lblPolicy");
  for (const char* name : visible) {
    RECT overlap{};
    const RECT r = Rect(name);
    if (std::string_view(name) != "lblPolicy") {
      EXPECT_FALSE(::IntersectRect(&overlap, &label, &r)) << name;
    }
  }
  const HDC dc = ::GetDC(Item("lblPolicy"));
  const HGDIOBJ font = ::SelectObject(dc, reinterpret_cast<HGDIOBJ>(::SendMessageW(Item("lblPolicy"), WM_GETFONT, 0, 0)));
  SIZE text{};
  ::GetTextExtentPoint32A(dc, kSetByAdministrator, static_cast<int>(std::strlen(kSetByAdministrator)), &text);
  ::SelectObject(dc, font);
  ::ReleaseDC(Item("lblPolicy"), dc);
  EXPECT_LE(text.cx, label.right - label.left);
  EXPECT_LE(text.cy, label.bottom - label.top);
}

// The policy watch's message and Group Policy's broadcast reach the host's
// callback; other setting changes do not.
TEST_F(MainWindowTest, PolicyChangesReachTheirCallbackAndOtherSettingsDoNot) {
  int calls = 0;
  window.on_policy_change = [&] { ++calls; };
  ::SendMessageW(window.hwnd(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"Policy"));
  EXPECT_EQ(calls, 1);
  ::SendMessageW(window.hwnd(), WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>(L"intl"));
  ::SendMessageW(window.hwnd(), WM_SETTINGCHANGE, SPI_SETWORKAREA, 0);
  EXPECT_EQ(calls, 1);
  ::SendMessageW(window.hwnd(), kMsgPolicyChanged, 0, 0);
  EXPECT_EQ(calls, 2);
}

TEST_F(MainWindowTest, PasswordBoxEchoesAsterisks) {
  const HWND pw = Item("txtPassword");
  EXPECT_NE(::GetWindowLongW(pw, GWL_STYLE) & ES_PASSWORD, 0);
  EXPECT_EQ(::SendMessageW(pw, EM_GETPASSWORDCHAR, 0, 0), L'*');
  EXPECT_EQ(::GetWindowLongW(Item("txtApplicationName"), GWL_STYLE) & ES_PASSWORD, 0);
}

TEST_F(MainWindowTest, TabCyclesThroughTheVisibleControlsInTabIndexOrder) {
  const HWND w = window.hwnd();
  const std::vector<std::string> expected = {"txtApplicationName", "intAppShutDownTime", "Command2",
                                             "txtPassword", "cmdBrowse", "txtApplicationName"};
  std::vector<std::string> seen;
  HWND at = ::GetNextDlgTabItem(w, nullptr, FALSE);
  for (int i = 0; i < 6 && at; ++i) {
    const int id = ::GetDlgCtrlID(at);
    std::string name = "?";
    for (const ControlLayout& c : kFrmMainLayout)
      if (ControlId(c.tab_index) == id) name = std::string(c.name);
    seen.push_back(name);
    at = ::GetNextDlgTabItem(w, at, FALSE);
  }
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(::GetNextDlgTabItem(w, Item("txtApplicationName"), TRUE), Item("cmdBrowse"));
}

struct TooltipSearch {
  HWND owner;
  HWND found;
};

BOOL CALLBACK FindTooltip(HWND w, LPARAM p) noexcept {
  auto* search = reinterpret_cast<TooltipSearch*>(p);
  if (::GetWindow(w, GW_OWNER) != search->owner || ClassName(w) != TOOLTIPS_CLASSW) return TRUE;
  search->found = w;
  return FALSE;
}

TEST_F(MainWindowTest, HintsAreTheTooltipsOfTheirControls) {
  TooltipSearch search{window.hwnd(), nullptr};
  ::EnumThreadWindows(::GetCurrentThreadId(), &FindTooltip, reinterpret_cast<LPARAM>(&search));
  const HWND tooltip = search.found;
  ASSERT_NE(tooltip, nullptr);
  ASSERT_EQ(::SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0), 4);
  for (const char* name : {"intAppShutDownTime", "cmdBrowse", "txtPassword", "Command2"}) {
    SCOPED_TRACE(name);
    wchar_t text[128] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.hwnd = window.hwnd();
    tool.uId = reinterpret_cast<UINT_PTR>(Item(name));
    tool.lpszText = text;
    ::SendMessageW(tooltip, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
    EXPECT_EQ(wide_to_ansi(text), Design(name).hint);
  }
}

// The pixel at (x, y) of an icon (y = 0 at the top), or -1 where the mask
// makes it transparent. Colours as 0xRRGGBB.
long IconPixel(HICON icon, int x, int y) {
  ICONINFO info{};
  if (!::GetIconInfo(icon, &info)) return -2;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = 32;
  bi.bmiHeader.biHeight = -32;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<DWORD> colour(32 * 32), mask(32 * 32);
  const HDC dc = ::GetDC(nullptr);
  ::GetDIBits(dc, info.hbmColor, 0, 32, colour.data(), &bi, DIB_RGB_COLORS);
  BITMAPINFO mbi = bi;
  ::GetDIBits(dc, info.hbmMask, 0, 32, mask.data(), &mbi, DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, dc);
  ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  if ((mask[y * 32 + x] & 0xFFFFFF) != 0) return -1;
  return static_cast<long>(colour[y * 32 + x] & 0xFFFFFF);
}

HICON IconOf(const Picture& p) { return dynamic_cast<const IconPicture&>(p).icon(); }

TEST_F(MainWindowTest, PicturesHoldTheirIconsWithTransparentCorners) {
  FrmMainControls& c = window.Controls();
  constexpr long kSilver = 0xC0C0C0, kRed = 0xFF0000, kBlack = 0;
  EXPECT_EQ(IconPixel(IconOf(c.picTimerOff()), 0, 0), -1);
  EXPECT_EQ(IconPixel(IconOf(c.picTimerOff()), 16, 0), kBlack);  // outline
  EXPECT_EQ(IconPixel(IconOf(c.picTimerOff()), 16, 17), kSilver);
  EXPECT_EQ(IconPixel(IconOf(c.picTimerOn()), 15, 6), kRed);  // the hand at 12 o'clock
  EXPECT_EQ(IconPixel(IconOf(c.picTimerOn()), 24, 16), kSilver);
  for (int k = 1; k <= 7; ++k) {
    SCOPED_TRACE(k);
    const HICON icon = IconOf(*DialPictures(c)[static_cast<std::size_t>(k - 1)]);
    EXPECT_EQ(IconPixel(icon, 31, 31), -1);
    EXPECT_EQ(IconPixel(icon, 20, 4), kRed);  // just past 12 o'clock
    EXPECT_EQ(IconPixel(icon, 24, 15), k >= 2 ? kRed : kSilver);   // just before 3 o'clock
    EXPECT_EQ(IconPixel(icon, 16, 26), k >= 4 ? kRed : kSilver);   // just before 6 o'clock
    EXPECT_EQ(IconPixel(icon, 7, 16), k >= 6 ? kRed : kSilver);    // just before 9 o'clock
    EXPECT_EQ(IconPixel(icon, 12, 4), kSilver);                    // just before 12
  }
  const HICON smiley = static_cast<HICON>(
      ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_VARDEX), IMAGE_ICON, 32, 32, 0));
  ASSERT_NE(smiley, nullptr);
  EXPECT_EQ(IconPixel(smiley, 16, 16), 0xFFFF00);
  EXPECT_EQ(IconPixel(smiley, 0, 31), -1);
  ::DestroyIcon(smiley);
}

TEST(VardexResources, VersionBlockCarriesTheProductNameAndDescription) {
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(::GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, block.data()));
  auto value = [&](const wchar_t* key) {
    wchar_t* text = nullptr;
    UINT len = 0;
    const std::wstring sub = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    if (!::VerQueryValueW(block.data(), sub.c_str(), reinterpret_cast<void**>(&text), &len) || !text) return std::string();
    return wide_to_ansi(text);
  };
  EXPECT_EQ(value(L"ProductName"), "Vardex");
  EXPECT_EQ(value(L"FileDescription"), "Closes selected  application after preset ammount of time");
}

TEST(VardexResources, ManifestAsksForDpiAwarenessAndVisualStylesButNoElevationLevel) {
  const HMODULE self = ::GetModuleHandleW(nullptr);
  const HRSRC res = ::FindResourceW(self, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(res, nullptr);
  const char* data = static_cast<const char*>(::LockResource(::LoadResource(self, res)));
  const std::string manifest(data, ::SizeofResource(self, res));
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("<dpiAware>true</dpiAware>"), std::string::npos);
  EXPECT_EQ(manifest.find("requestedExecutionLevel"), std::string::npos);
  EXPECT_EQ(manifest.find("trustInfo"), std::string::npos);
}

// A FrmMain behind the real window, its outside components faked.
class AttachedWindowTest : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    form = std::make_unique<FrmMain>(
        window.Controls(), FrmMainComponents{processes, tray, dialog, hooks, storage, system, input});
    window.Attach(*form);
  }
  int Count(const std::string& call) const { return static_cast<int>(std::count(log.begin(), log.end(), call)); }
  // Sends a key through the message loop's filter, as the user's key would.
  bool Key(UINT message, WPARAM key, HWND target) {
    MSG msg{};
    msg.hwnd = target;
    msg.message = message;
    msg.wParam = key;
    msg.lParam = message == WM_SYSCHAR ? (1 | (1 << 29)) : 1;
    const bool handled = window.PreTranslate(msg);
    Pump();
    return handled;
  }

  CallLog log;
  testing::FakeProcessList processes{log};
  testing::FakeTray tray{log};
  testing::FakeFileDialog dialog;
  testing::FakeHookFactory hooks{log};
  testing::FakeSettingsStorage storage{log};
  testing::FakeSystem system;
  testing::FakeInputWatch input;
  std::unique_ptr<FrmMain> form;
};

TEST_F(AttachedWindowTest, IntervalFieldsAreBoundedThroughTheRealEditControls) {
  FrmMainControls& c = window.Controls();
  c.intAppUseTime().SetText("5");
  EXPECT_EQ(c.intAppUseTime().Text(), "20");
  EXPECT_EQ(c.tmrAppShotDown().Interval(), 20000);
  c.intAppUseTime().SetText("45");
  EXPECT_EQ(c.tmrAppShotDown().Interval(), 45000);
  c.intAppShutDownTime().SetText("120");
  EXPECT_EQ(WindowTextW(Item("intAppShutDownTime")), L"90");
}

TEST_F(AttachedWindowTest, TypingInAFieldRunsItsHandler) {
  const HWND field = Item("intAppShutDownTime");
  ::SendMessageW(field, EM_SETSEL, 0, -1);
  ::SendMessageW(field, WM_CHAR, L'0', 1);
  EXPECT_EQ(WindowTextW(field), L"1");
  // The path box's handler starts the count afresh, which clears the marks.
  form->oMKHook_KeyEvent(65, 1);
  ::SendMessageW(Item("txtApplicationName"), WM_CHAR, L'x', 1);
  EXPECT_EQ(form->state().lLastKeyCode, 0);
}

TEST_F(AttachedWindowTest, ButtonsReachTheirHandlers) {
  dialog.answer = "C:\\Apps\\WATCHED.EXE";
  ::SendMessageW(Item("cmdBrowse"), BM_CLICK, 0, 0);
  EXPECT_EQ(dialog.title, "Select file to monitor");
  EXPECT_EQ(wide_to_ansi(WindowTextW(Item("txtApplicationName"))), "C:\\Apps\\WATCHED.EXE");
  ::SendMessageW(Item("Command2"), BM_CLICK, 0, 0);
  EXPECT_EQ(storage.writes, 1);
}

TEST_F(AttachedWindowTest, AccessKeysPressTheirButtons) {
  window.Show();
  Pump();
  ::SetFocus(Item("txtPassword"));
  dialog.answer = "C:\\Apps\\OTHER.EXE";
  EXPECT_TRUE(Key(WM_SYSCHAR, L'b', Item("txtPassword")));
  EXPECT_EQ(wide_to_ansi(WindowTextW(Item("txtApplicationName"))), "C:\\Apps\\OTHER.EXE");
  EXPECT_TRUE(Key(WM_SYSCHAR, L'd', Item("txtPassword")));
  EXPECT_EQ(storage.writes, 1);
}

TEST_F(AttachedWindowTest, TabMovesTheFocusThroughThePreTranslateFilter) {
  window.Show();
  Pump();
  ::SetFocus(Item("intAppShutDownTime"));
  EXPECT_TRUE(Key(WM_KEYDOWN, VK_TAB, Item("intAppShutDownTime")));
  EXPECT_EQ(::GetFocus(), Item("Command2"));
}

TEST_F(AttachedWindowTest, FormActivateRunsAtTheFirstActivationOnly) {
  window.Show();
  Pump();
  EXPECT_EQ(Count("AddTrayIcon"), 1);
  ::ShowWindow(window.hwnd(), SW_HIDE);
  Pump();
  ::ShowWindow(window.hwnd(), SW_SHOWNORMAL);
  ::SetForegroundWindow(window.hwnd());
  Pump();
  EXPECT_EQ(Count("AddTrayIcon"), 1);
}

TEST_F(AttachedWindowTest, TimerTicksReachTheirHandlersAndThenAfterTick) {
  int ticks = 0;
  window.after_tick = [&] { ++ticks; };
  FrmMainControls& c = window.Controls();
  ASSERT_TRUE(c.tmrAppCheck().SetInterval(10));
  c.tmrAppCheck().SetEnabled(true);
  const DWORD deadline = ::GetTickCount() + 5000;
  while (ticks == 0 && static_cast<LONG>(deadline - ::GetTickCount()) > 0) {
    Pump();
    ::Sleep(5);
  }
  c.tmrAppCheck().SetEnabled(false);
  EXPECT_GT(ticks, 0);
  EXPECT_GT(Count("ListProcesses"), 0);  // the presence check ran

  // The input check's ticks too: they end or call off a grace period.
  Pump();
  ticks = 0;
  ASSERT_TRUE(c.tmrInputCheck().SetInterval(10));
  c.tmrInputCheck().SetEnabled(true);
  const DWORD input_deadline = ::GetTickCount() + 5000;
  while (input.samples < 3 && static_cast<LONG>(input_deadline - ::GetTickCount()) > 0) {
    Pump();
    ::Sleep(5);
  }
  c.tmrInputCheck().SetEnabled(false);
  EXPECT_GE(input.samples, 3);
  EXPECT_GE(ticks, 3);
}

// One Vardex per user and session: a later start has the first one's window
// brought back as a double click on the icon brings it; a block of the
// name that is not this user's at this level is refused.
TEST_F(AttachedWindowTest, ALaterStartBringsTheWindowBackAndSomeoneElsesBlockIsRefused) {
  const std::string name = InstanceBlockName();
  ASSERT_EQ(name.rfind("Local\\Vardex.Instance.S-1-", 0), 0u) << name;
  const std::string test_name = name + ".test" + std::to_string(::GetCurrentProcessId());
  InstanceBlock first(test_name);
  ASSERT_EQ(first.claim(), InstanceBlock::Claim::kFirst);
  const InstanceBlock later(test_name);
  ASSERT_EQ(later.claim(), InstanceBlock::Claim::kRunning);
  EXPECT_FALSE(later.ShowRunning(300)) << "no window named yet";
  ASSERT_TRUE(first.Publish(window.hwnd()));
  log.clear();
  ASSERT_TRUE(later.ShowRunning(300));
  Pump();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().rfind("RestoreFromTray ", 0), 0u) << log.front();
  EXPECT_EQ(log.at(1).rfind("Read ", 0), 0u) << "the restore path: settings read again";

  const std::wstring user = WideSid(win32::token_user_sid(win32::query_process_token(TokenUser)));
  const std::wstring ours = L"O:" + user + L"D:P(A;;GA;;;" + user + L")";
  int n = 0;
  const auto squat = [&](const std::wstring& sddl, std::string& squatted) {
    squatted = test_name + "." + std::to_string(++n);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    EXPECT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                      nullptr));
    const win32::unique_hlocal keep(descriptor);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    return win32::unique_handle(
        ::CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, 4, squatted.c_str()));
  };
  std::string squatted;
  for (const std::wstring& sddl : {std::wstring(L"D:P(A;;GR;;;WD)"), std::wstring(L"O:SYD:P(A;;GA;;;WD)"),
                                   L"O:S-1-5-21-1-2-3-1001D:P(A;;GA;;;" + user + L")"}) {
    const win32::unique_handle squatter = squat(sddl, squatted);
    ASSERT_TRUE(squatter) << sddl;
    EXPECT_EQ(InstanceBlock(squatted).claim(), InstanceBlock::Claim::kRefused) << sddl;
  }

  // This user's block at a lower level (under Wine every process runs at
  // high: low is below it) is an elevated start's view of the user's own
  // Vardex; it counts as that only while it names a window of this program.
  const win32::unique_handle lower = squat(ours + L"S:(ML;;NW;;;LW)", squatted);
  ASSERT_TRUE(lower);
  const win32::unique_mapview named(::MapViewOfFile(lower.get(), FILE_MAP_WRITE, 0, 0, 4));
  ASSERT_TRUE(named);
  const InstanceBlock below(squatted);
  ASSERT_EQ(below.claim(), InstanceBlock::Claim::kBelow);
  EXPECT_EQ(below.RunningWindow(0), nullptr) << "no window named";
  const auto name_window = [&](HWND w) {
    *static_cast<volatile LONG*>(named.get()) = static_cast<LONG>(reinterpret_cast<LONG_PTR>(w));
  };
  name_window(::GetDesktopWindow());
  EXPECT_EQ(below.RunningWindow(0), nullptr) << "another program's window";
  name_window(window.hwnd());
  EXPECT_EQ(below.RunningWindow(0), window.hwnd());
}

TEST_F(AttachedWindowTest, ClosingTheWindowEndsTheMessageLoop) {
  ::SendMessageW(window.hwnd(), WM_CLOSE, 0, 0);
  EXPECT_EQ(window.hwnd(), nullptr);
  MSG msg;
  bool quit = false;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) quit = quit || msg.message == WM_QUIT;
  EXPECT_TRUE(quit);
}

// Restart Manager closes a program registered for restart this way.
TEST_F(AttachedWindowTest, AnEndingSessionClosesTheWindowACancelledOneDoesNot) {
  ::SendMessageW(window.hwnd(), WM_ENDSESSION, FALSE, ENDSESSION_CLOSEAPP);
  EXPECT_NE(window.hwnd(), nullptr);
  ::SendMessageW(window.hwnd(), WM_ENDSESSION, TRUE, ENDSESSION_CLOSEAPP);
  EXPECT_EQ(window.hwnd(), nullptr);
  MSG msg;
  bool quit = false;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) quit = quit || msg.message == WM_QUIT;
  EXPECT_TRUE(quit);
}

}  // namespace
}  // namespace vardex
