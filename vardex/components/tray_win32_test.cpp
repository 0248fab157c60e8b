// The tray layer against Wine's notification area. With no tray manager on
// the X display, Wine's explorer keeps the icons in its "Wine System Tray"
// window, one child window per icon.
#include "components/tray_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "components/icon_picture.h"

namespace vardex {
namespace {

// Runs this thread's messages until `done` holds or a generous bound passes.
bool PumpUntil(const std::function<bool()>& done, DWORD bound_ms = 10000) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (done()) return true;
    if (::GetTickCount() - start > bound_ms) return false;
    ::Sleep(20);
  }
}

BOOL CALLBACK CollectVisible(HWND child, LPARAM all) {
  if (::IsWindowVisible(child)) reinterpret_cast<std::vector<HWND>*>(all)->push_back(child);
  return TRUE;
}

std::vector<HWND> TrayIconWindows() {
  std::vector<HWND> found;
  if (const HWND tray = ::FindWindowW(nullptr, L"Wine System Tray"))
    ::EnumChildWindows(tray, CollectVisible, reinterpret_cast<LPARAM>(&found));
  return found;
}

// A fingerprint of what the screen shows in a window's rectangle.
unsigned ScreenHash(HWND window) {
  RECT r{};
  ::GetWindowRect(window, &r);
  const HDC screen = ::GetDC(nullptr);
  unsigned hash = 0;
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) hash = hash * 31u + ::GetPixel(screen, x, y);
  ::ReleaseDC(nullptr, screen);
  return hash;
}

IconPicture StockIcon(LPCWSTR id) { return IconPicture(win32::unique_hicon(::CopyIcon(::LoadIconW(nullptr, id)))); }

std::int32_t Handle32(HWND hwnd) { return static_cast<std::int32_t>(reinterpret_cast<INT_PTR>(hwnd)); }

class NotAnIcon final : public Picture {};

class TrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    before_ = TrayIconWindows();
    ASSERT_TRUE(tray_.Create(::GetModuleHandleW(nullptr), [this] { ++restore_events_; },
                             [this] { ++icon_events_; }, [this] { ++reopen_events_; }));
  }

  // The icon windows that this tray added.
  std::vector<HWND> OurIcons() const {
    std::vector<HWND> ours;
    for (HWND w : TrayIconWindows())
      if (std::find(before_.begin(), before_.end(), w) == before_.end()) ours.push_back(w);
    return ours;
  }

  std::vector<HWND> before_;
  TrayWin32 tray_;
  IconPicture warning_ = StockIcon(IDI_WARNING);
  IconPicture error_ = StockIcon(IDI_ERROR);
  int restore_events_ = 0;
  int icon_events_ = 0;
  int reopen_events_ = 0;
};

TEST_F(TrayTest, NoIconBeforeTheFirstAdd) {
  ASSERT_TRUE(tray_.TrayIcon(warning_));
  PumpUntil([] { return false; }, 300);
  EXPECT_TRUE(OurIcons().empty());
  EXPECT_FALSE(tray_.shown());
}

TEST_F(TrayTest, TwoAddsShowOneIcon) {
  ASSERT_TRUE(tray_.TrayIcon(warning_));
  ASSERT_TRUE(tray_.AddTrayIcon());
  ASSERT_TRUE(tray_.AddTrayIcon());
  ASSERT_TRUE(PumpUntil([this] { return !OurIcons().empty(); }));
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(OurIcons().size(), 1u);
}

TEST_F(TrayTest, IconIsRemovedWithTheTray) {
  {
    TrayWin32 other;
    ASSERT_TRUE(other.Create(::GetModuleHandleW(nullptr), [] {}, [] {}));
    ASSERT_TRUE(other.TrayIcon(warning_));
    ASSERT_TRUE(other.AddTrayIcon());
    ASSERT_TRUE(PumpUntil([this] { return OurIcons().size() == 1; }));
  }
  EXPECT_TRUE(PumpUntil([this] { return OurIcons().empty(); }));
}

TEST_F(TrayTest, ImagePutWhileShownChangesTheIconAtOnce) {
  ASSERT_TRUE(tray_.TrayIcon(warning_));
  ASSERT_TRUE(tray_.AddTrayIcon());
  ASSERT_TRUE(PumpUntil([this] { return OurIcons().size() == 1; }));
  const HWND icon = OurIcons().front();
  unsigned shown = 0;
  // The shell paints asynchronously; wait for a stable first image.
  PumpUntil([&] { return (shown = ScreenHash(icon)) == ScreenHash(icon) && shown != 0; });

  ASSERT_TRUE(tray_.TrayIcon(error_));
  EXPECT_TRUE(PumpUntil([&] { return ScreenHash(icon) != shown; }));
  EXPECT_EQ(OurIcons().size(), 1u);
}

TEST_F(TrayTest, RefusesAPictureThatHoldsNoIcon) {
  EXPECT_FALSE(tray_.TrayIcon(NotAnIcon()));
  EXPECT_FALSE(tray_.TrayIcon(IconPicture(win32::unique_hicon())));
}

TEST_F(TrayTest, MinimizeHidesAndRestoreShowsTheOwner) {
  win32::unique_hwnd owner(::CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100,
                                             200, 100, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(owner);
  ASSERT_TRUE(tray_.SetTrayOwner(Handle32(owner.get())));
  ASSERT_TRUE(tray_.MinimizeToTray(Handle32(owner.get())));
  EXPECT_FALSE(::IsWindowVisible(owner.get()));
  ASSERT_TRUE(tray_.RestoreFromTray(Handle32(owner.get())));
  EXPECT_TRUE(::IsWindowVisible(owner.get()));
  EXPECT_FALSE(tray_.SetTrayOwner(0));
  EXPECT_FALSE(tray_.MinimizeToTray(0));
}

TEST_F(TrayTest, DoubleClickOnTheIconRaisesTheRestoreEvent) {
  ASSERT_TRUE(tray_.TrayIcon(warning_));
  ASSERT_TRUE(tray_.AddTrayIcon());
  ASSERT_TRUE(PumpUntil([this] { return OurIcons().size() == 1; }));
  RECT r{};
  ::GetWindowRect(OurIcons().front(), &r);
  ASSERT_TRUE(::SetCursorPos((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  // Real input: the shell sees it as the user's double click.
  INPUT clicks[4] = {};
  for (int i = 0; i < 4; ++i) {
    clicks[i].type = INPUT_MOUSE;
    clicks[i].mi.dwFlags = i % 2 ? MOUSEEVENTF_LEFTUP : MOUSEEVENTF_LEFTDOWN;
  }
  ASSERT_EQ(::SendInput(4, clicks, sizeof(INPUT)), 4u);
  EXPECT_TRUE(PumpUntil([this] { return restore_events_ == 1; }));
  EXPECT_EQ(icon_events_, 0);
}

// As Windows reports a click on a balloon (Wine's tray never does): only the
// note that offers the reopen, while the offer stands, raises the request.
TEST_F(TrayTest, AClickOnTheOfferingNoteRaisesTheReopenRequestAndOnTheWarningNothing) {
  ASSERT_TRUE(tray_.TrayIcon(warning_));
  ASSERT_TRUE(tray_.AddTrayIcon());
  const auto click = [this] { ::SendMessageW(tray_.hwnd(), kWmTrayCallback, kTrayIconId, NIN_BALLOONUSERCLICK); };
  tray_.SetReopenItem("Reopen notepad.exe");
  ASSERT_TRUE(tray_.ShowWarning("FIN.EXE will be closed", "in 40 seconds"));
  click();
  EXPECT_EQ(reopen_events_, 0) << "the warning";
  ASSERT_TRUE(tray_.ShowNote("notepad.exe was closed", "Reopen it"));
  click();
  click();
  EXPECT_EQ(reopen_events_, 1) << "once";
  ASSERT_TRUE(tray_.ShowNote("notepad.exe was closed", "Reopen it"));
  tray_.SetReopenItem("");
  click();
  EXPECT_EQ(reopen_events_, 1) << "the offer withdrawn";
  EXPECT_EQ(restore_events_, 0);
}

TEST_F(TrayTest, TaskbarCreatedRaisesTheIconEventAndTheIconComesBack) {
  ASSERT_TRUE(tray_.TrayIcon(warning_));
  ASSERT_TRUE(tray_.AddTrayIcon());
  ASSERT_TRUE(PumpUntil([this] { return OurIcons().size() == 1; }));
  ::SendMessageW(tray_.hwnd(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
  EXPECT_EQ(icon_events_, 1);
  EXPECT_FALSE(tray_.shown());
  // The form's handler adds the icon again; the shell still had it here.
  ASSERT_TRUE(tray_.AddTrayIcon());
  PumpUntil([] { return false; }, 300);
  EXPECT_EQ(OurIcons().size(), 1u);
  EXPECT_EQ(restore_events_, 0);
}

}  // namespace
}  // namespace vardex
