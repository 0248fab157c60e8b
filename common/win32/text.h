// Text between the ANSI code page, UTF-16 and BSTR: the one set of
// conversions both modules use. Text that cannot be converted comes back
// empty (a null BSTR for AnsiToBstr), never cut in the middle of a character.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <climits>
#include <string>
#include <string_view>

#include "win32/unique_any.h"

namespace win32 {

inline std::wstring AnsiToWide(std::string_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int in = static_cast<int>(text.size());
  const int n = ::MultiByteToWideChar(CP_ACP, 0, text.data(), in, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, text.data(), in, out.data(), n);
  return out;
}

inline std::string WideToAnsi(std::wstring_view text) {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return {};
  const int in = static_cast<int>(text.size());
  const int n = ::WideCharToMultiByte(CP_ACP, 0, text.data(), in, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text.data(), in, out.data(), n, nullptr, nullptr);
  return out;
}

// An empty text gives an empty BSTR, not a null one; null only when out of
// memory or when the text cannot be converted.
inline unique_bstr AnsiToBstr(std::string_view text) noexcept {
  if (text.size() > static_cast<std::size_t>(INT_MAX)) return unique_bstr();
  const int in = static_cast<int>(text.size());
  const int n = in == 0 ? 0 : ::MultiByteToWideChar(CP_ACP, 0, text.data(), in, nullptr, 0);
  if (in != 0 && n <= 0) return unique_bstr();
  unique_bstr out(::SysAllocStringLen(nullptr, static_cast<UINT>(n)));
  if (out && n > 0) ::MultiByteToWideChar(CP_ACP, 0, text.data(), in, out.get(), n);
  return out;
}

}  // namespace win32
