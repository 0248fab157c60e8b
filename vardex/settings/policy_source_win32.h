// The policy values from the registry: the policy key (settings/policy.h)
// under HKEY_LOCAL_MACHINE, opened once for reading when made; a new source
// reads the key as it is then. The key is shared by both views on 64-bit
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
  // REG_DWORD as a DWORD; REG_SZ, and REG_EXPAND_SZ expanded, as a string in
  // the ANSI code page; any other type as std::monostate.
  std::optional<PolicyValue> Read(const char* name) override;

 private:
  win32::unique_hkey key_;  // null when the key is absent: every value is
};

}  // namespace vardex
