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

namespace vardex {

// The timers' design-time intervals, which a refused period falls back on.
inline constexpr std::int32_t kAppCheckDesignInterval = 1000;
inline constexpr std::int32_t kAppShotDownDesignInterval = 10000;

class IntervalField {
 public:
  // `design_value` stands in when the box's text is not a number at start.
  IntervalField(TextBox& box, double lower, double upper, double design_value, const SystemServices& system);

  // The text read as a number, or the field's last number.
  double Read();
  // The change handler: a number outside the bounds is replaced by the bound.
  void Bound();
  // Whether `value` lies within the bounds, so that the field keeps it.
  bool Holds(double value) const { return value >= lower_ && value <= upper_; }
  // A text that is not a number is replaced by the last number, for a reader
  // that keeps the text itself, such as the settings file.
  void ShowLastNumber();
  // Sets `timer`'s period from the field in seconds; a period the timer
  // refuses leaves it at `design_interval`.
  void StartTimer(Timer& timer, std::int32_t design_interval);
  // Gives `timer` the period the text names at once; nothing while the text
  // is not a number.
  void CopyPeriodTo(Timer& timer) const;

 private:
  TextBox& box_;
  double lower_, upper_;
  double last_valid_;
  const SystemServices& system_;
};

// The form's three fields, by name.
struct IntervalFields {
  IntervalFields(FrmMainControls& c, const SystemServices& system);
  IntervalField intAppUseTime;       // seconds between idle ticks, 20 to 90
  IntervalField intAppShutDownTime;  // the idle limit in minutes, 1 to 90
  IntervalField intAppCheckTime;     // seconds between presence checks, 5 to 60
};

}  // namespace vardex
