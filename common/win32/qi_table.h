// QueryInterface from a table, after the samples' QISearch/QITAB: each row
// is an interface ID and the interface of the object it names. The table
// says everything an object answers; qi_search does the rest the same way
// for every object (E_POINTER, AddRef on a hit, a null out on a miss).
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>

namespace win32 {

template <typename Object>
struct qi_entry {
  const IID* iid;
  IUnknown* (*as)(Object* object) noexcept;
};

// The row answering `iid` with the object's `Interface`.
template <typename Object, typename Interface>
qi_entry<Object> qi_row(const IID& iid) noexcept {
  return {&iid, [](Object* object) noexcept -> IUnknown* { return static_cast<Interface*>(object); }};
}

template <typename Object, std::size_t N>
HRESULT qi_search(Object* object, const qi_entry<Object> (&table)[N], REFIID iid, void** out) noexcept {
  if (!out) return E_POINTER;
  for (const qi_entry<Object>& row : table) {
    if (!::IsEqualIID(iid, *row.iid)) continue;
    IUnknown* found = row.as(object);
    found->AddRef();
    *out = found;
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

}  // namespace win32
