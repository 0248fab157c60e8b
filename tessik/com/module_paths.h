// Paths derived from the module's own file name (portable).
#pragma once

#include <string>

namespace tessik {

// The ".tlb" file beside the module: its extension replaced, or ".tlb"
// appended when the file name has none. Only the file name counts, so a dot
// in a directory name is not taken for the extension.
std::wstring CompanionTypeLibraryPath(const std::wstring& module_path);

// The directory part of a path, without the trailing separator unless it is
// a root ("C:\"); empty when the path has no directory.
std::wstring DirectoryOf(const std::wstring& path);

}  // namespace tessik
