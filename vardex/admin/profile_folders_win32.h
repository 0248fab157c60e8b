// ProfileFolders over the profile list in the registry and ordinary files.
#pragma once

#include "admin/settings_tool.h"

namespace vardex {

class ProfileFoldersWin32 final : public ProfileFolders {
 public:
  // Every ProfileImagePath under HKLM\...\Windows NT\CurrentVersion\ProfileList
  // (the 64-bit view on 64-bit Windows), its variables expanded.
  std::vector<std::string> Profiles() override;
  bool Exists(const std::string& path) override;
  CopyRemoval Remove(const std::string& profile, const std::string& path) override;
};

}  // namespace vardex
