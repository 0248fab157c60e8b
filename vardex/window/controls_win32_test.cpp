// The Win32 controls on real child windows: the text box's change event
// (once per real change, synchronous, never for an unchanged text) and the
// window timer's interval and enabled state.
#include "window/controls_win32.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "win32/unique_any.h"

namespace vardex {
namespace {

constexpr int kEditId = 100;

// A bare parent that forwards EN_CHANGE the way the main window does, and
// counts every EN_CHANGE that Win32 sends.
class EditHost : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &EditHost::Proc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"VardexEditHost";
    ::RegisterClassExW(&wc);
    parent_.reset(::CreateWindowExW(0, L"VardexEditHost", L"", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                    nullptr, wc.hInstance, this));
    ASSERT_TRUE(parent_);
    const HWND edit = ::CreateWindowExW(0, L"EDIT", L"30", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 0, 0, 100,
                                        20, parent_.get(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), wc.hInstance,
                                        nullptr);
    ASSERT_NE(edit, nullptr);
    box.Bind(edit);
    box.SetOnChange([this] {
      texts_seen.push_back(box.Text());
      if (on_change) on_change();
    });
  }

  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) noexcept {
    if (m == WM_NCCREATE)
      ::SetWindowLongPtrW(w, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams));
    auto* self = reinterpret_cast<EditHost*>(::GetWindowLongPtrW(w, GWLP_USERDATA));
    if (self && m == WM_COMMAND && LOWORD(wp) == kEditId && HIWORD(wp) == EN_CHANGE) {
      ++self->raw_notifications;
      self->box.OnEnChange();
      return 0;
    }
    return ::DefWindowProcW(w, m, wp, lp);
  }

  void Type(wchar_t ch) { ::SendMessageW(box.hwnd(), WM_CHAR, ch, 1); }

  win32::unique_hwnd parent_;
  EditTextBox box;
  std::vector<std::string> texts_seen;  // the text at each change event
  std::function<void()> on_change;
  int raw_notifications = 0;
};

TEST_F(EditHost, SettingANewTextRaisesTheChangeOnceBeforeReturning) {
  box.SetText("45");
  ASSERT_EQ(texts_seen.size(), 1u);
  EXPECT_EQ(texts_seen[0], "45");
  EXPECT_EQ(box.Text(), "45");
}

TEST_F(EditHost, SettingTheUnchangedTextRaisesNothing) {
  box.SetText("30");
  EXPECT_TRUE(texts_seen.empty());
  box.SetText("7");
  box.SetText("7");
  EXPECT_EQ(texts_seen, std::vector<std::string>{"7"});
}

TEST_F(EditHost, Win32NotificationsForAnUnchangedTextAreFiltered) {
  ::SetWindowTextW(box.hwnd(), L"30");
  ::SendMessageW(box.hwnd(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"30"));
  EXPECT_TRUE(texts_seen.empty()) << raw_notifications << " raw EN_CHANGE";
}

TEST_F(EditHost, EveryKeystrokeAndPasteIsOneChange) {
  ::SendMessageW(box.hwnd(), EM_SETSEL, 0, -1);
  Type(L'1');
  Type(L'2');
  Type(L'\b');
  ::SendMessageW(box.hwnd(), EM_REPLACESEL, TRUE, reinterpret_cast<LPARAM>(L"0.5"));
  EXPECT_EQ(texts_seen, (std::vector<std::string>{"1", "12", "1", "10.5"}));
}

TEST_F(EditHost, AHandlerThatSetsTheTextRunsOnceMoreNestedOnTheNewText) {
  on_change = [this] {
    if (box.Text() == "120") box.SetText("90");
  };
  box.SetText("120");
  EXPECT_EQ(texts_seen, (std::vector<std::string>{"120", "90"}));
  EXPECT_EQ(box.Text(), "90");
}

TEST_F(EditHost, EmptyingIsAChangeAndEmptyingAnEmptyBoxIsNot) {
  box.SetText("");
  box.SetText("");
  EXPECT_EQ(texts_seen, std::vector<std::string>{""});
}

TEST_F(EditHost, DisablingTheFocusedBoxMovesTheFocusAway) {
  ::ShowWindow(parent_.get(), SW_SHOW);
  ::SetFocus(box.hwnd());
  box.SetEnabled(false);
  EXPECT_FALSE(box.Enabled());
  EXPECT_NE(::GetFocus(), box.hwnd());
  box.SetEnabled(true);
  EXPECT_TRUE(box.Enabled());
}

TEST(AnsiText, RoundTripsThroughTheWideControlText) {
  const std::string path = "C:\\Program Files\\Navision Financials\\FIN.EXE";
  EXPECT_EQ(wide_to_ansi(ansi_to_wide(path)), path);
  EXPECT_EQ(ansi_to_wide(""), L"");
}

class TimerHost : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_.reset(::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   ::GetModuleHandleW(nullptr), nullptr));
    ASSERT_TRUE(owner_);
    timer.Bind(owner_.get());
  }
  // Waits (bounded) for the timer's WM_TIMER; true when it came.
  bool Ticked() {
    const DWORD deadline = ::GetTickCount() + 5000;
    MSG msg;
    while (static_cast<LONG>(deadline - ::GetTickCount()) > 0) {
      if (::PeekMessageW(&msg, owner_.get(), WM_TIMER, WM_TIMER, PM_REMOVE) && msg.wParam == 7) return true;
      ::Sleep(5);
    }
    return false;
  }
  win32::unique_hwnd owner_;
  WindowTimer timer{7, 10000};
};

TEST_F(TimerHost, TakesIntervalsUpTo90000AndRefusesNonPositiveOnes) {
  EXPECT_TRUE(timer.SetInterval(90000));
  EXPECT_EQ(timer.Interval(), 90000);
  EXPECT_FALSE(timer.SetInterval(0));
  EXPECT_FALSE(timer.SetInterval(-5));
  EXPECT_EQ(timer.Interval(), 90000);
  EXPECT_FALSE(timer.Enabled());
}

TEST_F(TimerHost, TicksWhileEnabledAndNotAfterDisabling) {
  ASSERT_TRUE(timer.SetInterval(20));
  timer.SetEnabled(true);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_TRUE(Ticked());
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Enabled());
  MSG msg;
  while (::PeekMessageW(&msg, owner_.get(), WM_TIMER, WM_TIMER, PM_REMOVE)) {
  }
  ::Sleep(60);
  EXPECT_FALSE(::PeekMessageW(&msg, owner_.get(), WM_TIMER, WM_TIMER, PM_REMOVE));
}

TEST_F(TimerHost, ANewIntervalWhileEnabledTakesEffect) {
  timer.SetEnabled(true);  // 10 s: would not tick within the wait
  ASSERT_TRUE(timer.SetInterval(20));
  EXPECT_TRUE(timer.Enabled());
  EXPECT_TRUE(Ticked());
}

}  // namespace
}  // namespace vardex
