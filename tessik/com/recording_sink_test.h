// The one event sink of the tests and test programs: it answers IUnknown,
// IDispatch and the event interface (or, when told, not the last), counts
// references without ever freeing itself, and records every Invoke.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <utility>
#include <vector>

#include "tessik.h"
#include "win32/qi_table.h"
#include "win32/result.h"

namespace tessik::testing {

struct SinkCall {
  int sink;
  DISPID dispid;
  std::vector<LONG> args;  // in the declared order
  // Raised the way the component raises events: IID_NULL, the user's default
  // locale, DISPATCH_METHOD, every argument a VT_I4, nothing named and no
  // result, exception or argument error asked for.
  bool as_raised;
};

class RecordingSink final : public IDispatch {
 public:
  // Records into `log` when given (several sinks, one order), else into calls.
  explicit RecordingSink(int id = 0, std::vector<SinkCall>* log = nullptr, bool answers_events = true)
      : id_(id), log_(log ? *log : calls), answers_events_(answers_events) {}
  RecordingSink(const RecordingSink&) = delete;
  RecordingSink& operator=(const RecordingSink&) = delete;

  std::vector<SinkCall> calls;
  std::function<void(const SinkCall&)> on_invoke;
  HRESULT invoke_result = S_OK;
  HRESULT query_result = E_NOINTERFACE;  // for an interface it does not answer
  LONG refs() const { return refs_; }

  STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override {
    static const win32::qi_entry<RecordingSink> table[] = {
        win32::qi_row<RecordingSink, IDispatch>(IID_IUnknown),
        win32::qi_row<RecordingSink, IDispatch>(IID_IDispatch),
        win32::qi_row<RecordingSink, IDispatch>(DIID__IMouseKeyHookCtlEvents),
    };
    if (!answers_events_ && object && ::IsEqualIID(iid, DIID__IMouseKeyHookCtlEvents)) {
      *object = nullptr;
      return query_result;
    }
    const HRESULT hr = win32::qi_search(this, table, iid, object);
    return hr == E_NOINTERFACE ? query_result : hr;
  }
  STDMETHODIMP_(ULONG) AddRef() noexcept override { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }
  STDMETHODIMP_(ULONG) Release() noexcept override { return static_cast<ULONG>(::InterlockedDecrement(&refs_)); }
  STDMETHODIMP GetTypeInfoCount(UINT*) noexcept override { return E_NOTIMPL; }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override { return E_NOTIMPL; }
  STDMETHODIMP Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* arg_error) noexcept override {
    if (!params) return E_INVALIDARG;
    try {
      SinkCall call{id_, dispid, {}, true};
      call.as_raised = ::IsEqualIID(iid, IID_NULL) && lcid == 0x0400 && flags == DISPATCH_METHOD &&
                       !result && !exception && !arg_error && params->cNamedArgs == 0 &&
                       !params->rgdispidNamedArgs;
      for (UINT i = params->cArgs; i-- > 0;) {
        call.as_raised = call.as_raised && V_VT(&params->rgvarg[i]) == VT_I4;
        call.args.push_back(V_I4(&params->rgvarg[i]));
      }
      log_.push_back(std::move(call));
      if (on_invoke) on_invoke(log_.back());
    } catch (...) {
      win32::report_exception("the tests' event sink (Invoke)");
      return E_OUTOFMEMORY;
    }
    return invoke_result;
  }

 private:
  int id_;
  std::vector<SinkCall>& log_;
  bool answers_events_;
  LONG refs_ = 1;
};

}  // namespace tessik::testing
