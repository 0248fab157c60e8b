// The window's controls as the form's handlers see them. The Win32 window
// implements these over real controls; tests use in-memory ones.
// Strings are in the system's ANSI code page, as the window shows them.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "components/control_list.h"

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

// A field that keeps the last number its text held (monitor/interval_field.h).
class NumberField {
 public:
  // A text that is not a number is replaced by the last number, for a reader
  // that keeps the text itself, such as the settings file.
  virtual void ShowLastNumber() = 0;

 protected:
  ~NumberField() = default;
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

// How a handler holds a control of each kind: pictures are only shown.
template <class Kind>
struct ControlRef {
  using type = Kind&;
};
template <>
struct ControlRef<Picture> {
  using type = const Picture&;
};

// FrmMain's controls by name, one typed accessor each (control_list.h): an
// implementation that leaves one out cannot be instantiated, and one that
// misnames or mistypes one does not compile.
class FrmMainControls {
 public:
  virtual ~FrmMainControls() = default;
#define VARDEX_CONTROL_ACCESSOR(kind, name) virtual ControlRef<kind>::type name() = 0;
  VARDEX_FRM_MAIN_CONTROLS(VARDEX_CONTROL_ACCESSOR)
#undef VARDEX_CONTROL_ACCESSOR
};

// Picture1 .. Picture7 in order.
inline std::array<const Picture*, 7> DialPictures(FrmMainControls& c) {
  return {&c.Picture1(), &c.Picture2(), &c.Picture3(), &c.Picture4(), &c.Picture5(), &c.Picture6(),
          &c.Picture7()};
}

}  // namespace vardex
