// Which processes are the watched program: shared by the presence check and
// the shutdown scan.
#pragma once

#include <string>

namespace vardex {

// The guard of both timers and of "Show Task": a path of 7 characters or
// fewer. An empty path would match every process, a very short one a whole
// drive.
bool PathTooShort(const std::string& path);

// The first L characters of `reported` equal `upper_path` (the configured
// path in upper case, L its length), case-sensitively.
bool Matches(const std::string& reported, const std::string& upper_path);

}  // namespace vardex
