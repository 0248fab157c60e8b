#include "settings/policy_source_win32.h"

namespace vardex {

PolicySourceWin32::PolicySourceWin32() {
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, policy::kKey, 0, KEY_QUERY_VALUE, key_.put()) != ERROR_SUCCESS) key_.reset();
}

std::optional<std::uint32_t> PolicySourceWin32::Dword(const char* name) {
  if (!key_) return std::nullopt;
  DWORD value = 0;
  DWORD size = sizeof value;
  if (::RegGetValueA(key_.get(), nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return value;
}

}  // namespace vardex
