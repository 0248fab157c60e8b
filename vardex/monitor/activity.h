// The hook component's events: the activity marks that the countdown takes,
// and the diagnostic labels; and the mark of input the hooks could not see.
#pragma once

#include <cstdint>

#include "components/controls.h"

namespace vardex {

// The labels the marks show on.
struct MarksControls {
  // The form's own, as the watch hands them on.
  MarksControls(FrmMainControls& c)
      : lblhKeyPressed(c.lblhKeyPressed()),
        lblKeyReleased(c.lblKeyReleased()),
        lblMouseEvent(c.lblMouseEvent()),
        lblCourrentMouse(c.lblCourrentMouse()) {}
  Label& lblhKeyPressed;
  Label& lblKeyReleased;
  Label& lblMouseEvent;
  Label& lblCourrentMouse;
};

class ActivityMarks {
 public:
  explicit ActivityMarks(const MarksControls& c) : c_(c) {}

  void Key(std::int32_t key_code, std::int32_t pressed);
  void Mouse(std::int32_t event_code, std::int32_t x, std::int32_t y);
  // Input into the program that reached no hook: counts as a relayed event
  // does, and shows on no label.
  void Input() { input_seen_ = true; }
  // True when a mark is set; clears both marks. An event with a code of 0 is
  // no event: it neither sets nor clears a mark, nor shows.
  bool Take();
  // Both marks to 0, as at start-up.
  void Clear();

  std::int32_t last_key_code() const { return last_key_code_; }
  std::int32_t last_mouse_event() const { return last_mouse_event_; }

 private:
  MarksControls c_;
  std::int32_t last_key_code_ = 0;
  std::int32_t last_mouse_event_ = 0;
  bool input_seen_ = false;
};

}  // namespace vardex
