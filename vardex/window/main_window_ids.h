// Control IDs, timer IDs and private messages of the main window.
#pragma once

#include <windows.h>

namespace vardex {

// A control's ID is its tab index above this base, clear of IDOK and
// IDCANCEL, which IsDialogMessage sends for Enter and Esc.
inline constexpr int kControlIdBase = 1000;
constexpr int ControlId(int tab_index) { return kControlIdBase + tab_index; }

inline constexpr UINT_PTR kTimerAppCheck = 1;
inline constexpr UINT_PTR kTimerAppShotDown = 2;
inline constexpr UINT_PTR kTimerInputCheck = 3;

// Posted at the first activation, so that Form_Activate runs after the
// activation has finished rather than inside WM_ACTIVATE.
inline constexpr UINT kMsgFirstActivation = WM_APP + 1;

// Posted by the watch over the policy key (win32/registry_watch.h) at each
// change.
inline constexpr UINT kMsgPolicyChanged = WM_APP + 2;

}  // namespace vardex
