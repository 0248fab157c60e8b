#include "com/error_info.h"

#include <oleauto.h>

#include <new>
#include <string>

#include "com/module.h"
#include "tessik.h"
#include "win32/com_ptr.h"
#include "win32/text.h"
#include "win32/unique_any.h"

namespace tessik {
namespace {

constexpr int kDescriptionBytes = 1024;

}  // namespace

HRESULT NotRunningError() noexcept {
  char description[kDescriptionBytes] = {};
  if (LoadStringA(ModuleInstance(), IDS_NOT_RUNNING, description, kDescriptionBytes) <= 0) {
    lstrcpynA(description, "Unknown Error", kDescriptionBytes);
  }
  std::wstring wide;
  try {
    wide = win32::ansi_to_wide(description);
  } catch (const std::bad_alloc&) {
    // The error still goes out, without its text.
  }

  win32::com_ptr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.put()))) return kNotRunningError;
  create->SetDescription(wide.data());
  create->SetGUID(GUID_NULL);
  win32::unique_cotaskmem progid;
  LPOLESTR id = nullptr;
  if (SUCCEEDED(ProgIDFromCLSID(CLSID_MouseKeyHookCtl, &id))) {
    progid.reset(id);
    create->SetSource(id);
  }
  win32::com_ptr<IErrorInfo> info;
  if (SUCCEEDED(create.query(info))) SetErrorInfo(0, info.get());
  return kNotRunningError;
}

}  // namespace tessik
