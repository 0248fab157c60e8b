// The audit in the event log: each event the administrators' guide lists,
// formatted from the message table of the Vardex.exe that ships with its
// inserts, reads as the guide says, at the identifier the guide and the Event
// Viewer show; and the sink names the user as the policy says.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "monitor/audit.h"
#include "window/event_log_win32.h"
#include "win32/text.h"
#include "win32/unique_any.h"

namespace vardex {
namespace {

// A path from the build, where a Unix one is Wine's drive Z:.
std::string FromBuild(const char* variable) {
  const char* value = std::getenv(variable);
  if (!value) return {};
  std::string path = value;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  return path;
}

struct Row {
  unsigned id;
  std::string level, sentence;
};

// "| 1000 | Information | sentence | inserts |" rows of the guide's table.
std::vector<Row> DocumentedEvents(const std::string& guide) {
  std::ifstream in(guide);
  std::vector<Row> rows;
  const std::regex row(R"(^\| (\d{4}) \| (\w+) \| ([^|]+) \|)");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, row))
      rows.push_back({static_cast<unsigned>(std::stoul(m[1])), m[2], m[3]});
  }
  return rows;
}

TEST(EventMessages, EveryDocumentedEventHasItsSentenceInVardexExe) {
  const std::string exe = FromBuild("VARDEX_EXE"), guide = FromBuild("VARDEX_ADMIN_GUIDE");
  ASSERT_FALSE(exe.empty()) << "VARDEX_EXE names the Vardex.exe to check";
  const win32::unique_hmodule module(
      ::LoadLibraryExW(win32::ansi_to_wide(exe).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  ASSERT_TRUE(module) << exe << ": " << ::GetLastError();
  const std::vector<Row> rows = DocumentedEvents(guide);

  std::set<unsigned> ids;
  for (const Row& row : rows) {
    ids.insert(row.id);
    // Each insert its own marker, so that an insert out of place shows.
    std::vector<std::wstring> inserts;
    std::string expected = row.sentence;
    for (int n = 9; n >= 1; --n) {
      const std::string marker = "%" + std::to_string(n), value = "<" + std::to_string(n) + ">";
      for (std::size_t at; (at = expected.find(marker)) != std::string::npos;) expected.replace(at, marker.size(), value);
    }
    for (int n = 1; n <= 9; ++n) inserts.push_back(L"<" + std::to_wstring(n) + L">");
    std::vector<DWORD_PTR> args;
    for (const std::wstring& insert : inserts) args.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
    wchar_t text[1024] = {};
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module.get(), row.id,
                         MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text, static_cast<DWORD>(std::size(text)),
                         reinterpret_cast<va_list*>(args.data()));
    ASSERT_NE(length, 0u) << row.id << ": no text at this identifier (" << ::GetLastError() << ")";
    std::wstring got(text, length);
    while (!got.empty() && (got.back() == L'\n' || got.back() == L'\r')) got.pop_back();
    EXPECT_EQ(win32::wide_to_ansi(got), expected) << row.id;
  }
  // The guide lists every event the audit reports, and no other.
  std::set<unsigned> reported;
  for (unsigned id = static_cast<unsigned>(AuditId::kWatchingStarted);
       id <= static_cast<unsigned>(AuditId::kReopened); ++id)
    reported.insert(id);
  EXPECT_EQ(ids, reported);
  EXPECT_EQ(rows.size(), reported.size()) << "each event once";
}

// The policy's AuditNamesUsers: the user's SID goes first in every event,
// or "-" and no user at all.
TEST(EventMessages, TheUserIsNamedOnlyWhenThePolicySays) {
  EXPECT_EQ(EventLogSink(false).user(), "-");
  const std::string named = EventLogSink(true).user();
  EXPECT_EQ(named.rfind("S-1-5-", 0), 0u) << named;
}

}  // namespace
}  // namespace vardex
