// The three interval fields: each keeps its number within bounds by writing
// the bound back.
//
// While a field's text is not a number (empty while the user retypes it, or
// letters), it is left exactly as typed: nothing is clamped, the timers keep
// their periods, and every reader takes the last number the field held.
#pragma once

#include <cstdint>

#include "components/controls.h"
#include "components/form_services.h"
#include "numbers/bounds.h"

namespace vardex {

// The timers' design-time intervals, which a refused period falls back on.
inline constexpr std::int32_t kAppCheckDesignInterval = 1000;
inline constexpr std::int32_t kAppShotDownDesignInterval = 10000;

class IntervalField final : public NumberField {
 public:
  // `design_value` stands in when the box's text is not a number at start.
  IntervalField(TextBox& box, FieldBounds bounds, double design_value, const SystemServices& system);

  // The text read as a number, or the field's last number.
  double Read();
  // The change handler: a number outside the bounds is replaced by the bound.
  void Bound();
  // Whether `value` lies within the bounds, so that the field keeps it.
  bool Holds(double value) const { return bounds_.Holds(value); }
  void ShowLastNumber() override;
  // Sets `timer`'s period from the field in seconds; a period the timer
  // refuses leaves it at `design_interval`.
  void StartTimer(Timer& timer, std::int32_t design_interval);
  // Gives `timer` the period the text names at once; nothing while the text
  // is not a number. Whether the timer took it (and so starts it now).
  bool CopyPeriodTo(Timer& timer) const;

 private:
  TextBox& box_;
  FieldBounds bounds_;
  double last_valid_;
  const SystemServices& system_;
};

// The form's three fields, by name.
struct IntervalFields {
  IntervalFields(FrmMainControls& c, const SystemServices& system);
  IntervalField intAppUseTime;       // seconds between idle ticks
  IntervalField intAppShutDownTime;  // the idle limit in minutes
  IntervalField intAppCheckTime;     // seconds between presence checks
};

}  // namespace vardex
