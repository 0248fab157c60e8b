#include "monitor/interval_field.h"

#include "numbers/number_text.h"

namespace vardex {

IntervalField::IntervalField(TextBox& box, double lower, double upper, double design_value,
                             const SystemServices& system)
    : box_(box),
      lower_(lower),
      upper_(upper),
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
  if (*v < lower_) box_.SetText(FormatGeneral(lower_));
  v = ParseNumber(box_.Text(), sep);
  if (v && *v > upper_) box_.SetText(FormatGeneral(upper_));
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

void IntervalField::CopyPeriodTo(Timer& timer) const {
  const auto seconds = ParseNumber(box_.Text(), system_.DecimalSeparator());
  if (!seconds) return;
  if (const auto ms = RoundToInt32(*seconds * 1000)) timer.SetInterval(*ms);
}

IntervalFields::IntervalFields(FrmMainControls& c, const SystemServices& system)
    : intAppUseTime(c.intAppUseTime(), 20, 90, 10, system),
      intAppShutDownTime(c.intAppShutDownTime(), 1, 90, 30, system),
      intAppCheckTime(c.intAppCheckTime(), 5, 60, 5, system) {}

}  // namespace vardex
