// Applies a parsed registration script to the registry below `root`
// (HKEY_CLASSES_ROOT for the module; any key for tests).
#pragma once

#include <windows.h>

#include "com/registration_script.h"

namespace tessik {

// Writes every key and value of the script. ForceRemove keys are deleted
// whole first. Stops at the first failure and returns it.
HRESULT RegisterKeys(HKEY root, const script::Script& script) noexcept;

// Removes what the script names: its values, and its keys except NoRemove
// ones. A key that still holds subkeys the script does not name is left in
// place (they belong to somebody else); ForceRemove keys go whole.
void UnregisterKeys(HKEY root, const script::Script& script) noexcept;

}  // namespace tessik
