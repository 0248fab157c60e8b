#include "settings/policy_source_win32.h"

namespace vardex {

PolicySourceWin32::PolicySourceWin32() {
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, policy::kKey, 0, KEY_QUERY_VALUE, key_.put()) != ERROR_SUCCESS) key_.reset();
}

std::optional<PolicyValue> PolicySourceWin32::Read(const char* name) {
  if (!key_) return std::nullopt;
  DWORD type = 0;
  if (::RegQueryValueExA(key_.get(), name, nullptr, &type, nullptr, nullptr) != ERROR_SUCCESS) return std::nullopt;
  if (type == REG_DWORD) {
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegGetValueA(key_.get(), nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
      return std::nullopt;
    return PolicyValue(std::uint32_t{value});
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return PolicyValue();
  // The type is known to be a string (RRF_RT_REG_EXPAND_SZ without
  // RRF_NOEXPAND is refused). The value may change between the calls: ask
  // again while it grows.
  std::string text;
  for (DWORD size = 0;;) {
    const LSTATUS status = ::RegGetValueA(key_.get(), nullptr, name, RRF_RT_ANY, nullptr,
                                          size ? text.data() : nullptr, &size);
    if (status == ERROR_SUCCESS && !text.empty()) break;
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return std::nullopt;
    if (size == 0) return PolicyValue(std::string());
    text.assign(size, '\0');
  }
  text.resize(text.find('\0'));
  return PolicyValue(std::move(text));
}

}  // namespace vardex
