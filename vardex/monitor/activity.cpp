#include "monitor/activity.h"

#include "numbers/number_text.h"

namespace vardex {

void ActivityMarks::Key(std::int32_t key_code, std::int32_t pressed) {
  if (!use_.Key(key_code)) return;
  const std::string text = "Key Code: " + FormatInteger(key_code);
  if (pressed != 0)
    c_.lblhKeyPressed.SetCaption(text + " Pressed");
  else
    c_.lblKeyReleased.SetCaption(text + " Released");
}

void ActivityMarks::Mouse(std::int32_t event_code, std::int32_t x, std::int32_t y) {
  if (event_code == 0) return;  // as a key code of 0
  // A move shows here only.
  if (use_.Mouse(event_code)) c_.lblCourrentMouse.SetCaption(FormatInteger(event_code));
  c_.lblMouseEvent.SetCaption("Mouse Event " + FormatInteger(event_code) + " at " + FormatInteger(x) + " " +
                              FormatInteger(y));
}

}  // namespace vardex
