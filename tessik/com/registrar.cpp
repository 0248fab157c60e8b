#include "com/registrar.h"

#include <string>

#include "win32/result.h"
#include "win32/text.h"
#include "win32/unique_any.h"

namespace tessik {
namespace {

using win32::unique_hkey;

// The script is UTF-8; the registry is written through the wide functions.
bool Widen(const std::string& text, std::wstring& out) noexcept {
  try {
    out = win32::utf8_to_wide(text);
  } catch (...) {
    win32::report_exception("the registrar's conversion to UTF-16");
    out.clear();
    return false;
  }
  return out.empty() == text.empty();
}

HRESULT FromStatus(LSTATUS status) noexcept { return HRESULT_FROM_WIN32(static_cast<DWORD>(status)); }

HRESULT SetString(HKEY key, const std::wstring* name, const std::string& data) noexcept {
  std::wstring wide;
  if (!Widen(data, wide)) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
  const DWORD bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
  return FromStatus(RegSetValueExW(key, name ? name->c_str() : nullptr, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(wide.c_str()), bytes));
}

HRESULT RegisterKey(HKEY parent, const script::Key& key) noexcept {
  std::wstring name;
  if (!Widen(key.name, name)) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
  if (key.flag == script::KeyFlag::kForceRemove) {
    const LSTATUS s = RegDeleteTreeW(parent, name.c_str());
    if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND) return FromStatus(s);
  }
  unique_hkey child;
  const LSTATUS s =
      RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, child.put(), nullptr);
  if (s != ERROR_SUCCESS) return FromStatus(s);
  if (key.default_value) {
    const HRESULT hr = SetString(child.get(), nullptr, *key.default_value);
    if (FAILED(hr)) return hr;
  }
  for (const script::Value& v : key.values) {
    std::wstring value_name;
    if (!Widen(v.name, value_name)) return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    const HRESULT hr = SetString(child.get(), &value_name, v.data);
    if (FAILED(hr)) return hr;
  }
  for (const script::Key& sub : key.subkeys) {
    const HRESULT hr = RegisterKey(child.get(), sub);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void UnregisterKey(HKEY parent, const script::Key& key) noexcept {
  std::wstring name;
  if (!Widen(key.name, name)) return;
  if (key.flag == script::KeyFlag::kForceRemove) {
    RegDeleteTreeW(parent, name.c_str());
    return;
  }
  {
    unique_hkey child;
    if (RegOpenKeyExW(parent, name.c_str(), 0, KEY_READ | KEY_WRITE, child.put()) != ERROR_SUCCESS) return;
    for (const script::Value& v : key.values) {
      std::wstring value_name;
      if (Widen(v.name, value_name)) RegDeleteValueW(child.get(), value_name.c_str());
    }
    for (const script::Key& sub : key.subkeys) UnregisterKey(child.get(), sub);
    if (key.flag == script::KeyFlag::kNoRemove) return;
    if (key.default_value) RegDeleteValueW(child.get(), nullptr);
  }
  // Fails, and leaves the key, while it still has subkeys.
  RegDeleteKeyW(parent, name.c_str());
}

}  // namespace

HRESULT RegisterKeys(HKEY root, const script::Script& script) noexcept {
  for (const script::Key& key : script.keys) {
    const HRESULT hr = RegisterKey(root, key);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

void UnregisterKeys(HKEY root, const script::Script& script) noexcept {
  for (const script::Key& key : script.keys) UnregisterKey(root, key);
}

}  // namespace tessik
