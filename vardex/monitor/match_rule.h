// Which processes are the watched program, and the one scan for its copies
// that both the presence check and the end use.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "components/form_services.h"
#include "components/process_list.h"
#include "numbers/bounds.h"

namespace vardex {

// The guard of both timers and of "Show Task" is PathTooShort
// (numbers/bounds.h), which the settings' paths share.

// The process whose list entry reports `reported` is the program configured
// as `configured`: the whole path names it, by the system's rule
// (SystemServices::SameProgramPath), which is the hook component's. A folder
// or a path cut short names no program, so it finds and ends nothing.
bool Matches(const SystemServices& system, const std::string& reported, const std::string& configured);

// One process: identifiers are reused, so its creation time goes with it.
struct ProcessIdentity {
  std::int32_t id = 0;
  std::optional<std::int64_t> created;  // ms since 1601; none when unread
  bool operator==(const ProcessIdentity& other) const { return id == other.id && created == other.created; }
};

// A copy of the program in one snapshot.
struct ListedCopy {
  ProcessIdentity who;
  std::optional<std::int32_t> parent;  // the starter's identifier; none when unread
  std::optional<WorkDone> work;        // none where the list does not say
};

// The copies of the program configured as `configured` in a snapshot taken
// now. Each step is on its own: an entry that cannot be read is not a copy.
struct CopyScan {
  bool fresh = false;  // false: the snapshot failed, and the list's last one was scanned
  bool found = false;  // an entry matched, with or without an identifier
  // The matching entries with an identifier: one without cannot be told from
  // the copies seen before, nor ended.
  std::vector<ListedCopy> copies;
  // Every other entry with an identifier and a creation time, where the list
  // says what it has done: the processes the copies may have started.
  std::vector<ListedCopy> others;
};
// None when the list cannot count its entries: then no one can tell either way.
std::optional<CopyScan> ScanCopies(ProcessList& list, const SystemServices& system, const std::string& configured);

}  // namespace vardex
