#include "monitor/interval_field.h"

#include "numbers/number_text.h"

namespace vardex {

IntervalField::IntervalField(TextBox& box, FieldBounds bounds, double design_value, const SystemServices& system)
    : box_(box),
      bounds_(bounds),
      // The design-time texts are numbers; they seed the last number the
      // field is known to hold.
      last_valid_(ParseNumber(box.Text()).value_or(design_value)),
      system_(system) {}

double IntervalField::Read() {
  if (const auto v = ParseNumber(box_.Text(), system_.DecimalSeparator())) last_valid_ = *v;
  return last_valid_;
}

void IntervalField::Bound() {
  const char sep = system_.DecimalSeparator();
  // Writing a bound raises the change again; the nested run finds it in
  // bounds, and this run goes on with the bounded text.
  auto v = ParseNumber(box_.Text(), sep);
  if (!v) return;
  last_valid_ = *v;
  if (*v < bounds_.lower) box_.SetText(FormatGeneral(bounds_.lower));
  v = ParseNumber(box_.Text(), sep);
  if (v && *v > bounds_.upper) box_.SetText(FormatGeneral(bounds_.upper));
  Read();
}

void IntervalField::ShowLastNumber() {
  const char sep = system_.DecimalSeparator();
  if (!ParseNumber(box_.Text(), sep)) box_.SetText(FormatGeneral(last_valid_, sep));
}

void IntervalField::StartTimer(Timer& timer, std::int32_t design_interval) {
  const auto ms = RoundToInt32(Read() * 1000);
  if (!ms || !timer.SetInterval(*ms)) timer.SetInterval(design_interval);
}

bool IntervalField::CopyPeriodTo(Timer& timer) const {
  const auto seconds = ParseNumber(box_.Text(), system_.DecimalSeparator());
  if (!seconds) return false;
  const auto ms = RoundToInt32(*seconds * 1000);
  return ms && timer.SetInterval(*ms);
}

IntervalFields::IntervalFields(FrmMainControls& c, const SystemServices& system)
    : intAppUseTime(c.intAppUseTime(), kIdleTickBounds, 10, system),
      intAppShutDownTime(c.intAppShutDownTime(), kLimitMinutesBounds, 30, system),
      intAppCheckTime(c.intAppCheckTime(), kPresenceCheckBounds, 5, system) {}

}  // namespace vardex
