// FrmMain's design: every control with its kind, place in twips, initial
// content, hint and tab index. The window is built from this table, in
// tab-index order, so the child windows' Z order is the tab order.
#pragma once

#include <array>
#include <string_view>

#include "window/resource.h"

namespace vardex {

enum class ControlKind { kLabel, kTextBox, kPasswordBox, kCommandButton, kPictureBox };

struct ControlLayout {
  std::string_view name;
  ControlKind kind;
  int left, top, width, height;  // twips
  std::string_view content;      // caption or text ("" for none)
  std::string_view hint;         // tooltip ("" for none)
  int tab_index;
  int icon = 0;  // picture boxes: the icon resource
};

inline constexpr char kFrmMainCaption[] = "Vardex by Pellow";
inline constexpr int kClientWidthTwips = 4404;
inline constexpr int kClientHeightTwips = 996;

inline constexpr std::array<ControlLayout, 35> kFrmMainLayout = {{
    {"txtApplicationName", ControlKind::kTextBox, 1320, 360, 2076, 276,
     "C:\\Program Files\\Navision Financials\\FIN.EXE", "", 0},
    {"Command1", ControlKind::kCommandButton, 5232, 5664, 1452, 540, "Show Task", "", 1},
    {"intAppCheckTime", ControlKind::kTextBox, 2328, 3456, 444, 252, "5", "", 2},
    {"Label1", ControlKind::kLabel, 144, 3456, 2172, 324, "Check if app. is loaded every", "", 3},
    {"Label2", ControlKind::kLabel, 2784, 3456, 756, 324, "Seconds", "", 4},
    {"Label3", ControlKind::kLabel, 24, 384, 1284, 324, "Application path ", "", 5},
    {"intAppShutDownTime", ControlKind::kTextBox, 1320, 0, 348, 252, "30", "Select shut down time", 6},
    {"Label4", ControlKind::kLabel, 24, 24, 1284, 324, "Shut down after", "", 7},
    {"Label5", ControlKind::kLabel, 1680, 0, 612, 324, "Minutes", "", 8},
    {"picTimerOn", ControlKind::kPictureBox, 504, 5280, 444, 444, "", "", 9, IDI_TIMER_ON},
    {"picTimerOff", ControlKind::kPictureBox, 48, 5280, 444, 444, "", "", 10, IDI_TIMER_OFF},
    {"lblhKeyPressed", ControlKind::kLabel, 624, 3840, 3060, 204, "", "", 11},
    {"lblKeyReleased", ControlKind::kLabel, 624, 4080, 3060, 204, "", "", 12},
    {"lblMouseEvent", ControlKind::kLabel, 600, 4320, 3084, 204, "", "", 13},
    {"lblCourrentMouse", ControlKind::kLabel, 2232, 4560, 1452, 204, "", "", 14},
    {"lblSystemPath", ControlKind::kLabel, 648, 4800, 3060, 204, "", "", 15},
    {"intAppUseTime", ControlKind::kTextBox, 2328, 3000, 444, 252, "10", "", 16},
    {"Label6", ControlKind::kLabel, 2784, 3000, 756, 324, "Seconds", "", 17},
    {"Label7", ControlKind::kLabel, 144, 3000, 2172, 324, "Check if app. used every", "", 18},
    {"LblElapsedTime", ControlKind::kLabel, 3720, 5064, 540, 276, "0", "", 19},
    {"Label10", ControlKind::kLabel, 2232, 5064, 1476, 276, "Elapsed time", "", 20},
    {"Label8", ControlKind::kLabel, 2232, 5400, 1476, 276, "Completion ratio", "", 21},
    {"lblCompletionRatio", ControlKind::kLabel, 3720, 5400, 540, 276, "0", "", 22},
    {"Picture1", ControlKind::kPictureBox, 24, 5784, 444, 444, "", "", 23, IDI_DIAL1},
    {"Picture2", ControlKind::kPictureBox, 480, 5784, 444, 444, "", "", 24, IDI_DIAL2},
    {"Picture3", ControlKind::kPictureBox, 936, 5784, 444, 444, "", "", 25, IDI_DIAL3},
    {"Picture4", ControlKind::kPictureBox, 1392, 5784, 444, 444, "", "", 26, IDI_DIAL4},
    {"Picture5", ControlKind::kPictureBox, 1848, 5784, 444, 444, "", "", 27, IDI_DIAL5},
    {"Picture6", ControlKind::kPictureBox, 2304, 5784, 444, 444, "", "", 28, IDI_DIAL6},
    {"Picture7", ControlKind::kPictureBox, 2760, 5784, 444, 444, "", "", 29, IDI_DIAL7},
    {"Command2", ControlKind::kCommandButton, 3432, 696, 972, 300, "&Done", "Start monitoring selected file", 30},
    {"Label9", ControlKind::kLabel, 24, 696, 1284, 324, "Password", "", 31},
    {"txtPassword", ControlKind::kPasswordBox, 1320, 696, 2076, 276, "",
     "Enter your password to lock/unlock this screen", 32},
    {"cmdBrowse", ControlKind::kCommandButton, 3432, 360, 972, 300, "&Browse...",
     "Find the file you want to control", 33},
    // Beside the limit and above the path, where no control of the design
    // lies; empty while no policy sets a field.
    {"lblPolicy", ControlKind::kLabel, 2304, 24, 2100, 324, "", "", 34},
}};

// The row of the control named `name`; kFrmMainLayout.size() for none.
constexpr std::size_t LayoutRow(std::string_view name) {
  for (std::size_t i = 0; i < kFrmMainLayout.size(); ++i)
    if (kFrmMainLayout[i].name == name) return i;
  return kFrmMainLayout.size();
}

// The tab index of the control named `name`; -1 for none.
constexpr int TabIndexOf(std::string_view name) {
  for (const ControlLayout& c : kFrmMainLayout)
    if (c.name == name) return c.tab_index;
  return -1;
}

// The controls with a Top at or below the client area's height are never
// seen; they take no part in the tab order.
constexpr bool InVisibleArea(const ControlLayout& c) { return c.top < kClientHeightTwips; }

}  // namespace vardex
