// The control interfaces over Win32 child windows. The child windows belong
// to the main window (they are destroyed with it); these objects only bind
// to them.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

#include "components/controls.h"
#include "win32/text.h"

namespace vardex {

// Conversions at the edge: the interfaces speak the ANSI code page.
using win32::ansi_to_wide;
using win32::wide_to_ansi;
std::wstring WindowTextW(HWND window);

// An EDIT control. Win32 sends EN_CHANGE also when the program sets the
// same text again; the box remembers the text it last reported and raises
// its change only when the text really differs.
class EditTextBox final : public TextBox {
 public:
  void Bind(HWND edit);
  void SetOnChange(std::function<void()> on_change) { on_change_ = std::move(on_change); }
  // The parent's EN_CHANGE notification.
  void OnEnChange();
  HWND hwnd() const { return edit_; }

  std::string Text() const override;
  void SetText(const std::string& text) override;
  bool Enabled() const override;
  void SetEnabled(bool enabled) override;

 private:
  HWND edit_ = nullptr;
  std::wstring reported_;
  std::function<void()> on_change_;
};

class StaticLabel final : public Label {
 public:
  void Bind(HWND label) { label_ = label; }
  std::string Caption() const override;
  void SetCaption(const std::string& caption) override;

 private:
  HWND label_ = nullptr;
};

class PushButton final : public CommandButton {
 public:
  void Bind(HWND button) { button_ = button; }
  bool Enabled() const override;
  void SetEnabled(bool enabled) override;

 private:
  HWND button_ = nullptr;
};

// A window timer: WM_TIMER with `id` reaches the owner while enabled. The
// timer dies with its owner window, so nothing else needs releasing.
class WindowTimer final : public Timer {
 public:
  WindowTimer(UINT_PTR id, std::int32_t interval) : id_(id), interval_(interval) {}
  WindowTimer(const WindowTimer&) = delete;
  WindowTimer& operator=(const WindowTimer&) = delete;
  void Bind(HWND owner) { owner_ = owner; }
  UINT_PTR id() const { return id_; }

  bool SetInterval(std::int32_t milliseconds) override;
  std::int32_t Interval() const override { return interval_; }
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override;

 private:
  HWND owner_ = nullptr;
  UINT_PTR id_;
  std::int32_t interval_;
  bool enabled_ = false;
};

}  // namespace vardex
