// A picture box's image on Windows: an icon the picture owns, which the tray
// can show.
#pragma once

#include <windows.h>

#include <utility>

#include "components/controls.h"
#include "win32/unique_any.h"

namespace vardex {

class IconPicture final : public Picture {
 public:
  explicit IconPicture(win32::unique_hicon icon) noexcept : icon_(std::move(icon)) {}
  HICON icon() const noexcept { return icon_.get(); }

 private:
  win32::unique_hicon icon_;
};

}  // namespace vardex
