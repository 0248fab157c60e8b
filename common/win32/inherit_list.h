// The attribute list that limits what a new process inherits to the handles
// named in it (PROC_THREAD_ATTRIBUTE_HANDLE_LIST), with one owner: the list
// is deleted and its memory freed however the start ends.
#pragma once

#include <windows.h>

#include "win32/unique_any.h"

namespace win32 {

class inherit_list {
 public:
  // `handles` must stay valid, unmoved, until the process is created.
  inherit_list(HANDLE* handles, DWORD count) noexcept {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    block_.reset(::HeapAlloc(::GetProcessHeap(), 0, size));
    const auto list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(block_.get());
    if (!list || !::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    initialized_ = true;
    ready_ = ::UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles,
                                         count * sizeof(HANDLE), nullptr, nullptr) != FALSE;
  }
  ~inherit_list() {
    if (initialized_) ::DeleteProcThreadAttributeList(static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(block_.get()));
  }
  inherit_list(const inherit_list&) = delete;
  inherit_list& operator=(const inherit_list&) = delete;

  // Null when the list could not be made (the last error says why).
  LPPROC_THREAD_ATTRIBUTE_LIST get() const noexcept {
    return ready_ ? static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(block_.get()) : nullptr;
  }

 private:
  unique_process_heap_block block_;
  bool initialized_ = false;
  bool ready_ = false;
};

}  // namespace win32
