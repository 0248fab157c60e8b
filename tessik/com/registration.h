// Self-registration of the module: the registration script (resource
// "REGISTRY" 101) and the type library (resource "TYPELIB" 1, or the .tlb
// beside the module).
#pragma once

#include <windows.h>

namespace tessik {

// The registry entries, then the type library; the first failure stops it.
HRESULT RegisterServer() noexcept;
// Removes both as far as they are there; always S_OK.
HRESULT UnregisterServer() noexcept;

}  // namespace tessik
