// The window's controls as the form's handlers see them. The Win32 window
// implements these over real controls; tests use in-memory ones.
// Strings are in the system's ANSI code page, as the window shows them.
#pragma once

#include <array>
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

// FrmMain's controls by name, one typed accessor each: an implementation
// that leaves one out cannot be instantiated, and one that misnames or
// mistypes one does not compile.
class FrmMainControls {
 public:
  virtual ~FrmMainControls() = default;
  virtual TextBox& intAppShutDownTime() = 0;
  virtual TextBox& txtApplicationName() = 0;
  virtual TextBox& txtPassword() = 0;
  virtual TextBox& intAppUseTime() = 0;
  virtual TextBox& intAppCheckTime() = 0;
  virtual CommandButton& cmdBrowse() = 0;
  virtual Label& LblElapsedTime() = 0;
  virtual Label& lblCompletionRatio() = 0;
  virtual Label& lblhKeyPressed() = 0;
  virtual Label& lblKeyReleased() = 0;
  virtual Label& lblMouseEvent() = 0;
  virtual Label& lblCourrentMouse() = 0;
  virtual Label& lblSystemPath() = 0;
  virtual Timer& tmrAppCheck() = 0;
  virtual Timer& tmrAppShotDown() = 0;
  // Samples the last input and the foreground window every second.
  virtual Timer& tmrInputCheck() = 0;
  virtual const Picture& picTimerOff() = 0;
  virtual const Picture& picTimerOn() = 0;
  // One to seven eighths of the dial filled.
  virtual const Picture& Picture1() = 0;
  virtual const Picture& Picture2() = 0;
  virtual const Picture& Picture3() = 0;
  virtual const Picture& Picture4() = 0;
  virtual const Picture& Picture5() = 0;
  virtual const Picture& Picture6() = 0;
  virtual const Picture& Picture7() = 0;
};

// Picture1 .. Picture7 in order.
inline std::array<const Picture*, 7> DialPictures(FrmMainControls& c) {
  return {&c.Picture1(), &c.Picture2(), &c.Picture3(), &c.Picture4(), &c.Picture5(), &c.Picture6(),
          &c.Picture7()};
}

}  // namespace vardex
