// Who the calling process runs as, read from its token: the user, the logon
// session and the integrity level, for the security of named objects.
#pragma once

#include <windows.h>

#include "win32/unique_any.h"

namespace win32 {

// One class of the token's information of `process` (this one unless
// given), in a block of the process heap; empty when the token cannot be
// read or lacks the class (no integrity level before Vista).
inline unique_process_heap_block query_process_token(TOKEN_INFORMATION_CLASS kind,
                                                     HANDLE process = ::GetCurrentProcess()) noexcept {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &raw)) return unique_process_heap_block();
  const unique_handle token(raw);
  DWORD size = 0;
  ::GetTokenInformation(token.get(), kind, nullptr, 0, &size);
  if (size == 0) return unique_process_heap_block();
  unique_process_heap_block block(::HeapAlloc(::GetProcessHeap(), 0, size));
  if (!block || !::GetTokenInformation(token.get(), kind, block.get(), size, &size)) return unique_process_heap_block();
  return block;
}

// The user's SID in a TokenUser block.
inline PSID token_user_sid(const unique_process_heap_block& user) noexcept {
  return user ? static_cast<const TOKEN_USER*>(user.get())->User.Sid : nullptr;
}

// The logon session's SID in a TokenGroups block, or null.
inline PSID token_logon_sid(const unique_process_heap_block& groups) noexcept {
  if (!groups) return nullptr;
  const auto* list = static_cast<const TOKEN_GROUPS*>(groups.get());
  for (DWORD i = 0; i < list->GroupCount; ++i) {
    if ((list->Groups[i].Attributes & SE_GROUP_LOGON_ID) == SE_GROUP_LOGON_ID) return list->Groups[i].Sid;
  }
  return nullptr;
}

// The label's SID in a TokenIntegrityLevel block, or null.
inline PSID token_label_sid(const unique_process_heap_block& label) noexcept {
  return label ? static_cast<const TOKEN_MANDATORY_LABEL*>(label.get())->Label.Sid : nullptr;
}

// An integrity level SID's level: its last sub-authority (0x2000 medium, 0x3000 high).
inline DWORD integrity_rid(PSID label) noexcept {
  return *::GetSidSubAuthority(label, static_cast<DWORD>(*::GetSidSubAuthorityCount(label) - 1));
}

}  // namespace win32
