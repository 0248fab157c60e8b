#include "window/event_log_win32.h"

#include <sddl.h>

#include "win32/text.h"
#include "win32/token.h"

namespace vardex {

EventLogSink::EventLogSink(bool name_user) : source_(::RegisterEventSourceW(nullptr, kEventSource)) {
  if (!name_user) return;
  token_user_ = win32::query_process_token(TokenUser);
  LPSTR text = nullptr;
  if (const PSID sid = win32::token_user_sid(token_user_); sid && ::ConvertSidToStringSidA(sid, &text)) {
    const win32::unique_hlocal owned(text);
    user_ = text;
  } else {
    token_user_.reset();  // the user is named in both places or in neither
  }
}

void EventLogSink::Report(AuditId id, AuditLevel level, const std::vector<std::string>& inserts) {
  if (!source_) return;
  std::vector<std::wstring> wide;
  wide.reserve(inserts.size());
  for (const std::string& insert : inserts) wide.push_back(win32::ansi_to_wide(insert));
  std::vector<LPCWSTR> strings;
  for (const std::wstring& insert : wide) strings.push_back(insert.c_str());
  static constexpr WORD kTypes[] = {EVENTLOG_INFORMATION_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_ERROR_TYPE};
  // The identifier as the message table holds it: no severity or facility
  // bits, so that a lookup by the number the Event Viewer shows finds it.
  ::ReportEventW(source_.get(), kTypes[static_cast<int>(level)], 0, static_cast<DWORD>(id),
                 win32::token_user_sid(token_user_), static_cast<WORD>(strings.size()), 0,
                 strings.empty() ? nullptr : strings.data(), nullptr);
}

}  // namespace vardex
