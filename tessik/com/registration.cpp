#include "com/registration.h"

#include <oleauto.h>

#include <new>
#include <string>
#include <utility>
#include <vector>

#include "com/module.h"
#include "com/module_paths.h"
#include "com/registrar.h"
#include "com/registration_script.h"
#include "com/resource.h"
#include "tessik.h"
#include "win32/com_ptr.h"
#include "win32/result.h"
#include "win32/system_library.h"
#include "win32/text.h"
#include "win32/unique_any.h"

namespace tessik {
namespace {

using UnRegisterTypeLibFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);

std::wstring ModuleFileName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(ModuleInstance(), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string GuidText(REFGUID guid) {
  wchar_t text[39] = {};
  StringFromGUID2(guid, text, ARRAYSIZE(text));
  return win32::wide_to_utf8(text);
}

// The script with the module's path and identities filled in.
HRESULT LoadScript(script::Script& out) {
  HRSRC found = FindResourceW(ModuleInstance(), MAKEINTRESOURCEW(IDR_REGISTRATION_SCRIPT), L"REGISTRY");
  RETURN_LAST_ERROR_IF_NULL(found);
  HGLOBAL loaded = LoadResource(ModuleInstance(), found);
  RETURN_LAST_ERROR_IF_NULL(loaded);
  const char* text = static_cast<const char*>(LockResource(loaded));
  RETURN_LAST_ERROR_IF_NULL(text);
  const std::wstring module = ModuleFileName();
  RETURN_LAST_ERROR_IF(module.empty());

  const script::ExpandResult expanded =
      script::Expand(std::string(text, SizeofResource(ModuleInstance(), found)),
                     {{"MODULE", win32::wide_to_utf8(module)},
                      {"CLSID", GuidText(CLSID_MouseKeyHookCtl)},
                      {"LIBID", GuidText(LIBID_TESSIKLib)}});
  if (!expanded.text) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  script::ParseResult parsed = script::Parse(*expanded.text);
  if (!parsed.script) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  out = std::move(*parsed.script);
  return S_OK;
}

// The module's own type library, else the .tlb beside it; `path` receives
// the file it came from.
HRESULT LoadTypeLibrary(ITypeLib** library, std::wstring& path) {
  path = ModuleFileName();
  RETURN_LAST_ERROR_IF(path.empty());
  if (SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, library))) return S_OK;
  path = CompanionTypeLibraryPath(path);
  return LoadTypeLibEx(path.c_str(), REGKIND_NONE, library);
}

HRESULT RegisterTypeLibrary() {
  win32::com_ptr<ITypeLib> library;
  std::wstring path;
  RETURN_IF_FAILED(LoadTypeLibrary(library.put(), path));
  std::wstring help_dir = DirectoryOf(path);
  return RegisterTypeLib(library.get(), path.data(), help_dir.empty() ? nullptr : help_dir.data());
}

void UnregisterTypeLibrary() {
  win32::com_ptr<ITypeLib> library;
  std::wstring path;
  if (FAILED(LoadTypeLibrary(library.put(), path))) return;
  TLIBATTR* attr = nullptr;
  if (FAILED(library->GetLibAttr(&attr))) return;
  const TLIBATTR lib = *attr;
  library->ReleaseTLibAttr(attr);
  // Looked up by name when needed, as older systems lack it.
  win32::unique_hmodule oleaut(win32::load_system_library("oleaut32.dll"));
  if (!oleaut) return;
  const FARPROC proc = GetProcAddress(oleaut.get(), "UnRegisterTypeLib");
  if (!proc) return;
  const auto unregister = reinterpret_cast<UnRegisterTypeLibFn>(reinterpret_cast<void (*)()>(proc));
  unregister(lib.guid, lib.wMajorVerNum, lib.wMinorVerNum, lib.lcid, lib.syskind);
}

}  // namespace

HRESULT RegisterServer() noexcept {
  try {
    script::Script script;
    RETURN_IF_FAILED(LoadScript(script));
    RETURN_IF_FAILED(RegisterKeys(HKEY_CLASSES_ROOT, script));
    return RegisterTypeLibrary();
  }
  CATCH_RETURN()
}

HRESULT UnregisterServer() noexcept {
  try {
    script::Script script;
    if (SUCCEEDED(LoadScript(script))) UnregisterKeys(HKEY_CLASSES_ROOT, script);
    UnregisterTypeLibrary();
  } catch (...) {
    // Unregistration reports success whatever its steps meet.
    win32::report_exception("DllUnregisterServer");
  }
  return S_OK;
}

}  // namespace tessik
