// The notification-area icon: it stands for the window while the window is
// hidden. Window handles are the 32-bit values of the main window's handle.
// Events (restore request, icon re-creation) reach the form's
// csSysTray1_RestoreEvent and csSysTray1_IconEvent through the host.
#pragma once

#include <cstdint>
#include <string>

#include "components/controls.h"

namespace vardex {

class Tray {
 public:
  virtual ~Tray() = default;
  virtual bool SetTrayOwner(std::int32_t window) = 0;
  // Shows the icon; when it is shown already there is still one icon.
  virtual bool AddTrayIcon() = 0;
  virtual bool MinimizeToTray(std::int32_t window) = 0;
  virtual bool RestoreFromTray(std::int32_t window) = 0;
  // Changes the shown image at once.
  virtual bool TrayIcon(const Picture& picture) = 0;
  // A notification from the icon, without sound; shown until hidden or
  // until the shell times it out.
  virtual bool ShowWarning(const std::string& title, const std::string& text) = 0;
  virtual bool HideWarning() = 0;
  // A notification that informs, without sound; a click on it raises the
  // reopen request where the shell says so. Replaces a warning shown.
  virtual bool ShowNote(const std::string& title, const std::string& text) = 0;
  // The menu's item that raises the reopen request, with this text; "": no
  // such item.
  virtual void SetReopenItem(const std::string& text) = 0;
};

}  // namespace vardex
