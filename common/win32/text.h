// Text between the ANSI code page, UTF-8, UTF-16 and BSTR: the one set of
// conversions both modules use. Text that cannot be converted comes back
// empty (a null BSTR for ansi_to_bstr, 0 for a fixed buffer), never cut in the
// middle of a character. Both ways are strict: an invalid byte fails, and a
// character the code page lacks fails rather than becoming its "best fit"
// (a fullwidth letter its ASCII one) or '?', which could name another file.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <climits>
#include <string>
#include <string_view>

#include "win32/unique_any.h"

namespace win32 {
namespace text_detail {

// The characters written, or needed when `room` is 0; 0 on failure.
inline int to_wide(UINT code_page, DWORD flags, std::string_view text, wchar_t* out, int room) noexcept {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return 0;
  return ::MultiByteToWideChar(code_page, flags, text.data(), static_cast<int>(text.size()), out, room);
}

inline int from_wide(UINT code_page, std::wstring_view text, char* out, int room) noexcept {
  if (text.empty() || text.size() > static_cast<std::size_t>(INT_MAX)) return 0;
  const int length = static_cast<int>(text.size());
  // UTF-8 takes neither the best-fit flag nor a default character.
  if (code_page == CP_UTF8 || (code_page == CP_ACP && ::GetACP() == CP_UTF8))
    return ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), length, out, room, nullptr, nullptr);
  BOOL defaulted = FALSE;
  const int n =
      ::WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, text.data(), length, out, room, nullptr, &defaulted);
  return defaulted ? 0 : n;
}

inline std::wstring widen(UINT code_page, DWORD flags, std::string_view text) {
  const int n = to_wide(code_page, flags, text, nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  if (to_wide(code_page, flags, text, out.data(), n) != n) return {};
  return out;
}

inline std::string narrow(UINT code_page, std::wstring_view text) {
  const int n = from_wide(code_page, text, nullptr, 0);
  if (n <= 0) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  if (from_wide(code_page, text, out.data(), n) != n) return {};
  return out;
}

}  // namespace text_detail

inline std::wstring ansi_to_wide(std::string_view text) {
  return text_detail::widen(CP_ACP, MB_ERR_INVALID_CHARS, text);
}
inline std::string wide_to_ansi(std::wstring_view text) { return text_detail::narrow(CP_ACP, text); }
inline std::wstring utf8_to_wide(std::string_view text) {
  return text_detail::widen(CP_UTF8, MB_ERR_INVALID_CHARS, text);
}
inline std::string wide_to_utf8(std::wstring_view text) { return text_detail::narrow(CP_UTF8, text); }

// Into `out` (`room` bytes), for a caller that must not allocate: the bytes
// written, without a terminator; 0 when the text is empty, cannot be
// converted or does not fit.
inline int wide_to_ansi(std::wstring_view text, char* out, int room) noexcept {
  return room > 0 ? text_detail::from_wide(CP_ACP, text, out, room) : 0;
}

// An empty text gives an empty BSTR, not a null one; null only when out of
// memory or when the text cannot be converted.
inline unique_bstr ansi_to_bstr(std::string_view text) noexcept {
  const int n = text_detail::to_wide(CP_ACP, 0, text, nullptr, 0);
  if (!text.empty() && n <= 0) return unique_bstr();
  unique_bstr out(::SysAllocStringLen(nullptr, static_cast<UINT>(n)));
  if (out && n > 0 && text_detail::to_wide(CP_ACP, 0, text, out.get(), n) != n) out.reset();
  return out;
}

}  // namespace win32
