// The hook component's events: activity marks for the countdown and the
// diagnostic labels.
#include "monitor/number_text.h"
#include "window/frm_main.h"

namespace vardex {
namespace {
// Mouse moves over the frame and the client area are shown but are no activity.
constexpr std::int32_t kWmNcMouseMove = 160;
constexpr std::int32_t kWmMouseMove = 512;
}  // namespace

void FrmMain::oMKHook_KeyEvent(std::int32_t lKeyCode, std::int32_t bPressed) {
  vars_.lLastKeyCode = lKeyCode;
  const std::string text = "Key Code: " + FormatInteger(lKeyCode);
  if (bPressed != 0)
    c_.lblhKeyPressed.SetCaption(text + " Pressed");
  else
    c_.lblKeyReleased.SetCaption(text + " Released");
}

void FrmMain::oMKHook_MouseEvent(std::int32_t lEventCode, std::int32_t lX, std::int32_t lY) {
  if (lEventCode != kWmNcMouseMove && lEventCode != kWmMouseMove) {
    vars_.lLastMouseEvent = lEventCode;
    c_.lblCourrentMouse.SetCaption(FormatInteger(lEventCode));
  }
  c_.lblMouseEvent.SetCaption("Mouse Event " + FormatInteger(lEventCode) + " at " + FormatInteger(lX) + " " +
                              FormatInteger(lY));
}

}  // namespace vardex
