// The security of the named objects the modules make for one user: an
// explicit descriptor, and the check of an object of that name that exists
// already. One place for the relay block and Vardex's instance block.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "win32/token.h"
#include "win32/unique_any.h"

namespace win32 {

// Who this process runs as, for the security of its named objects.
struct token_identity {
  unique_process_heap_block user = query_process_token(TokenUser);
  unique_process_heap_block groups = query_process_token(TokenGroups);
  unique_process_heap_block label = query_process_token(TokenIntegrityLevel);
};

namespace detail {

inline unique_hlocal sid_string(PSID sid) noexcept {
  LPWSTR text = nullptr;
  if (!sid || !::ConvertSidToStringSidW(sid, &text)) return unique_hlocal();
  return unique_hlocal(text);
}

inline LPCWSTR text_of(const unique_hlocal& text) noexcept { return static_cast<LPCWSTR>(text.get()); }

}  // namespace detail

// Whether every program of the user's logon session may read the object.
enum class logon_session_read : bool { kNo, kYes };

// A descriptor with full access for the creating user and SYSTEM (and read
// access for the user's logon session, which every program of this logon
// carries at any integrity level, when `logon` says so). The label is the
// creator's own level with no-write-up alone: a program of lower integrity
// (a watched program, or anything else of the same user) may read the object
// but never rewrite it, while reading up stays allowed. The owner is named:
// the default owner would be the token's (Administrators for an elevated
// token, a group under Wine), which the check of an existing object could
// not tell from another creator's.
inline unique_hlocal owned_object_security(const token_identity& who, logon_session_read logon) noexcept {
  const unique_hlocal user = detail::sid_string(token_user_sid(who.user));
  if (!user) return unique_hlocal();
  const unique_hlocal logon_sid =
      logon == logon_session_read::kYes ? detail::sid_string(token_logon_sid(who.groups)) : unique_hlocal();
  const unique_hlocal label = detail::sid_string(token_label_sid(who.label));
  // Its SIDs have at most 184 characters each: within wsprintf's 1024.
  wchar_t sddl[1024];
  int length = ::wsprintfW(sddl, L"O:%sD:P(A;;GA;;;%s)(A;;GA;;;SY)", detail::text_of(user), detail::text_of(user));
  if (logon_sid) length += ::wsprintfW(sddl + length, L"(A;;GR;;;%s)", detail::text_of(logon_sid));
  if (label) ::wsprintfW(sddl + length, L"S:(ML;;NW;;;%s)", detail::text_of(label));
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
    return unique_hlocal();
  }
  return unique_hlocal(descriptor);
}

// The integrity level of `object`'s label. An object without one counts
// as medium. (Wine returns the label only when it is asked for alone.)
inline DWORD object_integrity_level(HANDLE object) noexcept {
  PACL sacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD level = SECURITY_MANDATORY_MEDIUM_RID;
  if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, &sacl,
                        &descriptor) != ERROR_SUCCESS) {
    return level;
  }
  const unique_hlocal owner(descriptor);
  for (DWORD i = 0; sacl && i < sacl->AceCount; ++i) {
    void* ace = nullptr;
    if (::GetAce(sacl, i, &ace) && static_cast<const ACE_HEADER*>(ace)->AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE) {
      level = integrity_rid(&static_cast<SYSTEM_MANDATORY_LABEL_ACE*>(ace)->SidStart);
      break;
    }
  }
  return level;
}

// An object of our name that exists already is used only when this user owns
// it and its label is not below this process's level. Made first by anyone
// else, or by a program of the same user at a lower level (a non-elevated
// one before an elevated process), it is someone else's.
inline bool may_use_existing(HANDLE object, const token_identity& who) noexcept {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const unique_hlocal keep(descriptor);
  if (!owner || !::EqualSid(owner, token_user_sid(who.user))) return false;
  const PSID own_label = token_label_sid(who.label);
  if (!own_label) return true;  // no integrity levels on this system
  return object_integrity_level(object) >= integrity_rid(own_label);
}

}  // namespace win32
