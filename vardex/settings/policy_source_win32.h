// The policy values from the registry: the policy key (settings/policy.h)
// under HKEY_LOCAL_MACHINE, opened once for reading. The key is shared by both views on 64-bit
// Windows, so no view is named: a 32-bit and a 64-bit build read the same
// values there.
#pragma once

#include <windows.h>

#include "settings/policy.h"
#include "win32/unique_any.h"

namespace vardex {

class PolicySourceWin32 final : public PolicySource {
 public:
  PolicySourceWin32();
  std::optional<std::uint32_t> Dword(const char* name) override;

 private:
  win32::unique_hkey key_;  // null when the key is absent: every value is
};

}  // namespace vardex
