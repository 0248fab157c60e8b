// The window base's hold on its window: a WM_NCDESTROY that another thread
// sends (anyone may send it) leaves the object with its window; the window's
// own destruction, by destroy_window or by DestroyWindow on its thread,
// lets it go.
#include "win32/window_base.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace win32 {
namespace {

class CountingWindow final : public window_base<CountingWindow> {
 public:
  ~CountingWindow() { destroy_window(); }
  bool Create() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    window_class wanted;
    wanted.name = L"WindowBaseTest";
    return SUCCEEDED(register_window_class(instance, wanted)) &&
           ::CreateWindowExW(0, wanted.name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this) != nullptr;
  }
  void Destroy() { destroy_window(); }
  int seen = 0;

 private:
  friend class window_base<CountingWindow>;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) noexcept {
    if (message == WM_APP) return ++seen;
    return default_proc(hwnd(), message, wparam, lparam);
  }
};

TEST(WindowBase, AStrangersDestroyMessageLeavesTheWindowItsObject) {
  CountingWindow window;
  ASSERT_TRUE(window.Create());
  const HWND created = window.hwnd();
  std::atomic<bool> answered{false};
  std::thread stranger([created, &answered] {
    DWORD_PTR answer = 0;
    ::SendMessageTimeoutW(created, WM_NCDESTROY, 0, 0, SMTO_BLOCK, 5000, &answer);
    answered = true;
  });
  // Answered here, on the window's thread, as it waits.
  for (int i = 0; i < 600 && !answered; ++i) {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT | QS_SENDMESSAGE);
  }
  stranger.join();
  ASSERT_TRUE(answered);
  EXPECT_EQ(window.hwnd(), created);
  EXPECT_EQ(::SendMessageW(created, WM_APP, 0, 0), 1) << "the messages no longer reach the object";

  window.Destroy();
  EXPECT_EQ(window.hwnd(), nullptr);
  EXPECT_FALSE(::IsWindow(created));

  // Destroyed on its own thread but not through the object: let go all the same.
  CountingWindow other;
  ASSERT_TRUE(other.Create());
  const HWND second = other.hwnd();
  ::DestroyWindow(second);
  EXPECT_EQ(other.hwnd(), nullptr);
}

}  // namespace
}  // namespace win32
