#include "monitor/activity.h"

#include "monitor/number_text.h"

namespace vardex {
namespace {
// Mouse moves over the frame and the client area are shown but are no activity.
constexpr std::int32_t kWmNcMouseMove = 160;
constexpr std::int32_t kWmMouseMove = 512;
}  // namespace

void ActivityMarks::Key(std::int32_t lKeyCode, std::int32_t bPressed) {
  lLastKeyCode_ = lKeyCode;
  const std::string text = "Key Code: " + FormatInteger(lKeyCode);
  if (bPressed != 0)
    c_.lblhKeyPressed().SetCaption(text + " Pressed");
  else
    c_.lblKeyReleased().SetCaption(text + " Released");
}

void ActivityMarks::Mouse(std::int32_t lEventCode, std::int32_t lX, std::int32_t lY) {
  if (lEventCode != kWmNcMouseMove && lEventCode != kWmMouseMove) {
    lLastMouseEvent_ = lEventCode;
    c_.lblCourrentMouse().SetCaption(FormatInteger(lEventCode));
  }
  c_.lblMouseEvent().SetCaption("Mouse Event " + FormatInteger(lEventCode) + " at " + FormatInteger(lX) + " " +
                              FormatInteger(lY));
}

bool ActivityMarks::Take() {
  if (lLastKeyCode_ == 0 && lLastMouseEvent_ == 0) return false;
  lLastKeyCode_ = 0;
  lLastMouseEvent_ = 0;
  return true;
}

}  // namespace vardex
