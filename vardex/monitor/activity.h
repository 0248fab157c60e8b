// The hook component's events: each is told to the ledger of use
// (monitor/use.h) and shown on the diagnostic labels.
#pragma once

#include <cstdint>

#include "components/controls.h"
#include "monitor/use.h"

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
  ActivityMarks(const MarksControls& c, Use& use) : c_(c), use_(use) {}

  // An event that is no event (a code of 0) shows on no label.
  void Key(std::int32_t key_code, std::int32_t pressed);
  void Mouse(std::int32_t event_code, std::int32_t x, std::int32_t y);

  // The marks not yet taken by the countdown.
  std::int32_t last_key_code() const { return use_.last_key_code(); }
  std::int32_t last_mouse_event() const { return use_.last_mouse_event(); }

 private:
  MarksControls c_;
  Use& use_;
};

}  // namespace vardex
