// A snapshot enumerator for IEnumConnectionPoints and IEnumConnections. It
// owns a reference to every item it holds and hands out new ones, and it
// counts as a module lock while it lives (its code is in this module).
#pragma once

#include <windows.h>
#include <ocidl.h>

#include <memory>
#include <new>

#include "com/module.h"
#include "win32/qi_table.h"

namespace tessik {

inline void AddRefItem(IConnectionPoint* p) noexcept { p->AddRef(); }
inline void ReleaseItem(IConnectionPoint* p) noexcept { p->Release(); }
inline void AddRefItem(const CONNECTDATA& c) noexcept { c.pUnk->AddRef(); }
inline void ReleaseItem(const CONNECTDATA& c) noexcept { c.pUnk->Release(); }

template <typename IEnum, typename Item>
class Enumerator final : public IEnum {
 public:
  // Copies `count` items (adding a reference to each). Null when out of
  // memory.
  static Enumerator* Create(const Item* items, ULONG count, ULONG position) noexcept {
    std::unique_ptr<Item[]> copy(new (std::nothrow) Item[count ? count : 1]);
    if (!copy) return nullptr;
    auto* e = new (std::nothrow) Enumerator();
    if (!e) return nullptr;
    for (ULONG i = 0; i < count; ++i) {
      copy[i] = items[i];
      AddRefItem(copy[i]);
    }
    e->items_ = std::move(copy);
    e->count_ = count;
    e->position_ = position;
    return e;
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override {
    static const win32::qi_entry<Enumerator> table[] = {
        win32::qi_row<Enumerator, IEnum>(IID_IUnknown),
        win32::qi_row<Enumerator, IEnum>(__uuidof(IEnum)),
    };
    return win32::qi_search(this, table, iid, object);
  }
  STDMETHODIMP_(ULONG) AddRef() noexcept override {
    return static_cast<ULONG>(InterlockedIncrement(&refs_));
  }
  STDMETHODIMP_(ULONG) Release() noexcept override {
    const LONG refs = InterlockedDecrement(&refs_);
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }

  STDMETHODIMP Next(ULONG wanted, Item* out, ULONG* fetched) noexcept override {
    if (!out || (wanted != 1 && !fetched)) return E_POINTER;
    ULONG n = 0;
    while (n < wanted && position_ < count_) {
      out[n] = items_[position_++];
      AddRefItem(out[n]);
      ++n;
    }
    if (fetched) *fetched = n;
    return n == wanted ? S_OK : S_FALSE;
  }
  STDMETHODIMP Skip(ULONG count) noexcept override {
    const ULONG left = count_ - position_;
    if (count > left) {
      position_ = count_;
      return S_FALSE;
    }
    position_ += count;
    return S_OK;
  }
  STDMETHODIMP Reset() noexcept override {
    position_ = 0;
    return S_OK;
  }
  STDMETHODIMP Clone(IEnum** out) noexcept override {
    if (!out) return E_POINTER;
    *out = Create(items_.get(), count_, position_);
    return *out ? S_OK : E_OUTOFMEMORY;
  }

 private:
  Enumerator() noexcept { ModuleLock(); }
  ~Enumerator() {
    for (ULONG i = 0; i < count_; ++i) ReleaseItem(items_[i]);
    ModuleUnlock();
  }

  LONG refs_ = 1;
  std::unique_ptr<Item[]> items_;
  ULONG count_ = 0;
  ULONG position_ = 0;
};

using ConnectionPointEnumerator = Enumerator<IEnumConnectionPoints, IConnectionPoint*>;
using ConnectionEnumerator = Enumerator<IEnumConnections, CONNECTDATA>;

}  // namespace tessik
