// FrmMain's controls, each once: its kind (the interface of
// components/controls.h) and its name in the design. The control interface,
// the window's accessors and the tests' fakes are all made from this list,
// so a new control is one line here (and its row in the window's layout).
// tmrInputCheck samples the last input and the foreground window every
// second; Picture1 .. Picture7 are one to seven eighths of the dial filled;
// lblPolicy says "Set by your administrator" beside the fields a policy sets.
#pragma once

#define VARDEX_FRM_MAIN_CONTROLS(X)    \
  X(TextBox, intAppShutDownTime)       \
  X(TextBox, txtApplicationName)       \
  X(TextBox, txtPassword)              \
  X(TextBox, intAppUseTime)            \
  X(TextBox, intAppCheckTime)          \
  X(CommandButton, cmdBrowse)          \
  X(Label, LblElapsedTime)             \
  X(Label, lblCompletionRatio)         \
  X(Label, lblhKeyPressed)             \
  X(Label, lblKeyReleased)             \
  X(Label, lblMouseEvent)              \
  X(Label, lblCourrentMouse)           \
  X(Label, lblSystemPath)              \
  X(Label, lblPolicy)                  \
  X(Timer, tmrAppCheck)                \
  X(Timer, tmrAppShotDown)             \
  X(Timer, tmrInputCheck)              \
  X(Picture, picTimerOff)              \
  X(Picture, picTimerOn)               \
  X(Picture, Picture1)                 \
  X(Picture, Picture2)                 \
  X(Picture, Picture3)                 \
  X(Picture, Picture4)                 \
  X(Picture, Picture5)                 \
  X(Picture, Picture6)                 \
  X(Picture, Picture7)

// The text boxes whose Change event FrmMain handles, as <name>_Change: the
// window and the tests' fakes route them from this list.
#define VARDEX_FRM_MAIN_CHANGE_EVENTS(X) \
  X(intAppShutDownTime)                 \
  X(intAppUseTime)                      \
  X(intAppCheckTime)                    \
  X(txtApplicationName)                 \
  X(txtPassword)
