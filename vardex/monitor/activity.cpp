#include "monitor/activity.h"

#include "numbers/number_text.h"

namespace vardex {
namespace {
// Mouse moves over the frame and the client area are shown but are no activity.
constexpr std::int32_t kWmNcMouseMove = 160;
constexpr std::int32_t kWmMouseMove = 512;
}  // namespace

void ActivityMarks::Key(std::int32_t key_code, std::int32_t pressed) {
  // The hooks never relay a code of 0; anyone may post one, and it must not
  // erase the mark of a real key.
  if (key_code == 0) return;
  last_key_code_ = key_code;
  const std::string text = "Key Code: " + FormatInteger(key_code);
  if (pressed != 0)
    c_.lblhKeyPressed.SetCaption(text + " Pressed");
  else
    c_.lblKeyReleased.SetCaption(text + " Released");
}

void ActivityMarks::Mouse(std::int32_t event_code, std::int32_t x, std::int32_t y) {
  if (event_code == 0) return;  // as a key code of 0
  if (event_code != kWmNcMouseMove && event_code != kWmMouseMove) {
    last_mouse_event_ = event_code;
    c_.lblCourrentMouse.SetCaption(FormatInteger(event_code));
  }
  c_.lblMouseEvent.SetCaption("Mouse Event " + FormatInteger(event_code) + " at " + FormatInteger(x) + " " +
                              FormatInteger(y));
}

bool ActivityMarks::Take() {
  if (last_key_code_ == 0 && last_mouse_event_ == 0 && !input_seen_) return false;
  Clear();
  return true;
}

void ActivityMarks::Clear() {
  last_key_code_ = 0;
  last_mouse_event_ = 0;
  input_seen_ = false;
}

}  // namespace vardex
