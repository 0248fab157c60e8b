#include "window/controls_win32.h"

#include <vector>

namespace vardex {

std::wstring WindowTextW(HWND window) {
  const int length = ::GetWindowTextLengthW(window);
  if (length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  const int got = ::GetWindowTextW(window, buffer.data(), static_cast<int>(buffer.size()));
  return std::wstring(buffer.data(), static_cast<std::size_t>(got > 0 ? got : 0));
}

namespace {

// Disabling the focused control would leave the keyboard focus nowhere and
// Tab dead; hand it to the next tab stop first.
void EnableControl(HWND control, bool enabled) {
  if (!enabled && ::GetFocus() == control) {
    const HWND parent = ::GetParent(control);
    const HWND next = ::GetNextDlgTabItem(parent, control, FALSE);
    ::SetFocus(next && next != control ? next : parent);
  }
  ::EnableWindow(control, enabled ? TRUE : FALSE);
}

}  // namespace

void EditTextBox::Bind(HWND edit) {
  edit_ = edit;
  reported_ = WindowTextW(edit);
}

void EditTextBox::OnEnChange() {
  std::wstring now = WindowTextW(edit_);
  if (now == reported_) return;
  // Remember first: the handler may set the text again (nested).
  reported_ = std::move(now);
  if (on_change_) on_change_();
}

std::string EditTextBox::Text() const { return wide_to_ansi(WindowTextW(edit_)); }

void EditTextBox::SetText(const std::string& text) {
  ::SetWindowTextW(edit_, ansi_to_wide(text).c_str());
  // EN_CHANGE has normally run the handler already; this covers a box whose
  // parent does not forward it, and is a no-op otherwise.
  OnEnChange();
}

bool EditTextBox::Enabled() const { return ::IsWindowEnabled(edit_) != FALSE; }

void EditTextBox::SetEnabled(bool enabled) { EnableControl(edit_, enabled); }

std::string StaticLabel::Caption() const { return wide_to_ansi(WindowTextW(label_)); }

void StaticLabel::SetCaption(const std::string& caption) {
  ::SetWindowTextW(label_, ansi_to_wide(caption).c_str());
}

bool PushButton::Enabled() const { return ::IsWindowEnabled(button_) != FALSE; }

void PushButton::SetEnabled(bool enabled) { EnableControl(button_, enabled); }

bool WindowTimer::SetInterval(std::int32_t milliseconds) {
  if (milliseconds <= 0) return false;
  // SetTimer with the same ID replaces the running timer and restarts its
  // period from now.
  if (enabled_ && ::SetTimer(owner_, id_, static_cast<UINT>(milliseconds), nullptr) == 0) return false;
  interval_ = milliseconds;
  return true;
}

void WindowTimer::SetEnabled(bool enabled) {
  if (enabled) {
    // Enabling a running timer leaves its period running: a tick that is
    // due stays due.
    if (enabled_) return;
    enabled_ = ::SetTimer(owner_, id_, static_cast<UINT>(interval_), nullptr) != 0;
  } else {
    ::KillTimer(owner_, id_);
    enabled_ = false;
  }
}

}  // namespace vardex
