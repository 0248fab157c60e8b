// The window's controls as the form's handlers see them. The Win32 window
// implements these over real controls; tests use in-memory ones.
// Strings are in the system's ANSI code page, as the window shows them.
#pragma once

#include <cstdint>
#include <string>

namespace vardex {

class TextBox {
 public:
  virtual ~TextBox() = default;
  virtual std::string Text() const = 0;
  // Changes the text. When the new text differs from the current one, the
  // box's change handler has run by the time this returns (it may nest);
  // setting the unchanged text raises nothing.
  virtual void SetText(const std::string& text) = 0;
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

class Label {
 public:
  virtual ~Label() = default;
  virtual std::string Caption() const = 0;
  virtual void SetCaption(const std::string& caption) = 0;
};

class CommandButton {
 public:
  virtual ~CommandButton() = default;
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

class Timer {
 public:
  virtual ~Timer() = default;
  // Milliseconds, 1 to 90 000 at least. Returns false, and keeps the old
  // interval, when the platform refuses the value.
  virtual bool SetInterval(std::int32_t milliseconds) = 0;
  virtual std::int32_t Interval() const = 0;
  virtual bool Enabled() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
};

// An image held by a picture box, to be handed to the tray.
class Picture {
 public:
  virtual ~Picture() = default;
};

}  // namespace vardex
