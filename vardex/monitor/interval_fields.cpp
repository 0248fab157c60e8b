// The three interval fields: each keeps its number within bounds by writing
// the bound back; intAppUseTime also gives the idle timer its period at once.
//
// While a field's text is not a number (empty while the user retypes it, or
// letters), it is left exactly as typed: nothing is clamped, the idle timer
// keeps its period, and every reader takes the last number the field held.
#include "monitor/number_text.h"
#include "window/frm_main.h"

namespace vardex {

double FrmMain::ReadField(NumberField& field) {
  if (const auto v = ParseNumber(field.box.Text(), k_.system.DecimalSeparator())) field.last_valid = *v;
  return field.last_valid;
}

void FrmMain::BoundField(NumberField& field, double lower, double upper) {
  const char sep = k_.system.DecimalSeparator();
  // Writing a bound raises the change again; the nested run finds it in
  // bounds, and this run goes on with the bounded text.
  auto v = ParseNumber(field.box.Text(), sep);
  if (!v) return;
  field.last_valid = *v;
  if (*v < lower) field.box.SetText(FormatGeneral(lower));
  v = ParseNumber(field.box.Text(), sep);
  if (v && *v > upper) field.box.SetText(FormatGeneral(upper));
  ReadField(field);
}

void FrmMain::intAppCheckTime_Change() { BoundField(check_time_, 5, 60); }

void FrmMain::intAppShutDownTime_Change() { BoundField(shut_down_time_, 1, 90); }

void FrmMain::intAppUseTime_Change() {
  BoundField(use_time_, 20, 90);
  const auto seconds = ParseNumber(c_.intAppUseTime.Text(), k_.system.DecimalSeparator());
  if (!seconds) return;
  if (const auto ms = RoundToInt32(*seconds * 1000)) c_.tmrAppShotDown.SetInterval(*ms);
}

}  // namespace vardex
