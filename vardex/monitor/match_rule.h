// Which processes are the watched program: shared by the presence check and
// the shutdown scan.
#pragma once

#include <string>

#include "components/form_services.h"

namespace vardex {

// The guard of both timers and of "Show Task": a path of 7 characters or
// fewer. An empty path would name nothing a user means, a very short one at
// most a program in a drive's root.
bool PathTooShort(const std::string& path);

// The process whose list entry reports `reported` is the program configured
// as `configured`: the whole path names it, by the system's rule
// (SystemServices::SameProgramPath), which is the hook component's. A folder
// or a path cut short names no program, so it finds and ends nothing.
bool Matches(const SystemServices& system, const std::string& reported, const std::string& configured);

}  // namespace vardex
