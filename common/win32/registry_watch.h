// A watch over a registry key and everything below it that posts a message
// to a window at each change. RegNotifyChangeKeyValue reports one change per
// call, to the thread that made the call: the window's thread calls arm()
// when the message comes, and reads the key after that, so that no change
// between the message and the read is lost. While the key is absent, its
// nearest ancestor that exists is watched for the creation below it; arm()
// opens the key anew each time, so that a key deleted and made again is
// followed. The wait runs on the
// thread pool, so the message comes in modal loops too.
#pragma once

#include <windows.h>

#include <string>

#include "win32/result.h"
#include "win32/unique_any.h"

namespace win32 {

class registry_watch {
 public:
  // `path` under `root`; `message` goes to `window` at each change.
  registry_watch(HKEY root, const char* path, HWND window, UINT message)
      : root_(root), path_(path), window_(window), message_(message) {
    if (FAILED(start())) wait_.reset();
  }
  registry_watch(const registry_watch&) = delete;
  registry_watch& operator=(const registry_watch&) = delete;

  bool watching() const noexcept { return wait_.get() != nullptr; }

  // Watches again after a change: the key when it exists, else its nearest
  // ancestor that does. A failure is reported, but a key deleted while it was
  // being watched is no failure: the next arm() follows it.
  HRESULT arm() {
    std::string at = path_;
    unique_hkey opened;
    LSTATUS status = ERROR_SUCCESS;
    while ((status = ::RegOpenKeyExA(root_, at.c_str(), 0, KEY_NOTIFY, opened.put())) != ERROR_SUCCESS) {
      opened.reset();
      const std::size_t cut = at.rfind('\\');
      RETURN_HR_IF_MSG(HRESULT_FROM_WIN32(static_cast<DWORD>(status)), cut == std::string::npos,
                       "RegOpenKeyExA for a registry watch");
      at.resize(cut);
    }
    // Closing a watched key signals the event: the handle is kept while the
    // same key is the nearest and is not deleted, or every arm() would
    // bring one message more, for ever.
    if (key_ && at == at_ && SUCCEEDED(Notify())) return S_OK;
    key_ = std::move(opened);
    at_ = std::move(at);
    return Notify();
  }

 private:
  HRESULT start() {
    event_.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    RETURN_LAST_ERROR_IF_NULL_MSG(event_.get(), "CreateEventW for a registry watch");
    RETURN_IF_FAILED_EXPECTED(arm());
    RETURN_IF_WIN32_BOOL_FALSE_MSG(
        ::RegisterWaitForSingleObject(wait_.put(), event_.get(), &Signalled, this, INFINITE, WT_EXECUTEDEFAULT),
        "RegisterWaitForSingleObject for a registry watch");
    return S_OK;
  }

  HRESULT Notify() noexcept {
    const LSTATUS status = ::RegNotifyChangeKeyValue(
        key_.get(), at_ == path_, REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET, event_.get(), TRUE);
    const HRESULT hr = HRESULT_FROM_WIN32(static_cast<DWORD>(status));
    if (status == ERROR_KEY_DELETED) return hr;  // not reported: the next arm() follows the key
    RETURN_HR_IF_MSG(hr, status != ERROR_SUCCESS, "RegNotifyChangeKeyValue");
    return S_OK;
  }

  static void CALLBACK Signalled(void* context, BOOLEAN) noexcept {
    const auto* self = static_cast<const registry_watch*>(context);
    ::PostMessageW(self->window_, self->message_, 0, 0);
  }

  HKEY root_;
  std::string path_;
  std::string at_;  // the key watched: path_ or an ancestor
  HWND window_;
  UINT message_;
  unique_handle event_;
  unique_hkey key_;
  // Last: unregistered first, waiting for a callback that runs.
  unique_registered_wait wait_;
};

}  // namespace win32
