// The hook component's events: the activity marks that the countdown takes,
// and the diagnostic labels.
#pragma once

#include <cstdint>

#include "components/controls.h"

namespace vardex {

class ActivityMarks {
 public:
  explicit ActivityMarks(FrmMainControls& c) : c_(c) {}

  void Key(std::int32_t lKeyCode, std::int32_t bPressed);
  void Mouse(std::int32_t lEventCode, std::int32_t lX, std::int32_t lY);
  // True when a mark is set; clears both marks. A code of 0 clears its mark,
  // so it cancels an earlier event of its kind.
  bool Take();

  std::int32_t lLastKeyCode() const { return lLastKeyCode_; }
  std::int32_t lLastMouseEvent() const { return lLastMouseEvent_; }

 private:
  FrmMainControls& c_;
  std::int32_t lLastKeyCode_ = 0;
  std::int32_t lLastMouseEvent_ = 0;
};

}  // namespace vardex
