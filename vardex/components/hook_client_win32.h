// HookComponentFactory over COM: creates "Hooks.MouseKeyboard" in-process,
// keeps its IMouseKeyHookCtl, and connects an IDispatch sink for
// _IMouseKeyHookCtlEvents that hands KeyEvent (DISPID 1) and MouseEvent
// (DISPID 2) to the form. Needs COM initialised apartment-threaded on the
// calling thread; events arrive on that thread.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <memory>
#include <string>

#include "components/hook_component.h"
#include "win32/com_ptr.h"

namespace vardex {

inline constexpr wchar_t kHookProgId[] = L"Hooks.MouseKeyboard";

// The event sink. Holds the form by reference until Detach.
class ActivitySink final : public IDispatch {
 public:
  static win32::com_ptr<ActivitySink> Create(ActivityEvents& events) noexcept;
  // Stops delivery: after this no event reaches the form.
  void Detach() noexcept { events_ = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override;
  ULONG STDMETHODCALLTYPE Release() noexcept override;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) noexcept override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                          DISPID* ids) noexcept override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* arg_error) noexcept override;

 private:
  explicit ActivitySink(ActivityEvents& events) noexcept : events_(&events) {}
  ~ActivitySink() = default;

  LONG refs_ = 1;
  ActivityEvents* events_;
};

class HookComponentFactoryWin32 final : public HookComponentFactory {
 public:
  explicit HookComponentFactoryWin32(std::wstring prog_id = kHookProgId) : prog_id_(std::move(prog_id)) {}
  // Null unless the component was created and its events connected: without
  // events the countdown would end the program while the user works in it.
  std::unique_ptr<HookComponent> Create(ActivityEvents& events) override;
  // Why the last Create returned null.
  HRESULT last_error() const noexcept { return last_error_; }

 private:
  std::wstring prog_id_;
  HRESULT last_error_ = S_OK;
};

}  // namespace vardex
