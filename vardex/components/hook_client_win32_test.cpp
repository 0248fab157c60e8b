// The hook client: the event sink's dispatch of KeyEvent and MouseEvent to
// the form, and creation refused for a class that is not registered.
#include "components/hook_client_win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tessik.h"

namespace vardex {
namespace {

struct Recorder final : ActivityEvents {
  std::vector<std::string> seen;
  void oMKHook_KeyEvent(std::int32_t code, std::int32_t pressed) override {
    seen.push_back("key " + std::to_string(code) + " " + std::to_string(pressed));
  }
  void oMKHook_MouseEvent(std::int32_t code, std::int32_t x, std::int32_t y) override {
    seen.push_back("mouse " + std::to_string(code) + " " + std::to_string(x) + " " + std::to_string(y));
  }
};

VARIANT Long(LONG value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

class SinkTest : public ::testing::Test {
 protected:
  // Arguments in the order the component passes them: the last declared
  // parameter first.
  HRESULT Fire(DISPID id, std::vector<VARIANT> reversed, UINT* arg_error = nullptr, WORD flags = DISPATCH_METHOD) {
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return sink_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, nullptr, nullptr, arg_error);
  }

  Recorder form_;
  win32::com_ptr<ActivitySink> sink_ = ActivitySink::Create(form_);
};

TEST_F(SinkTest, AnswersTheEventInterfaceAndIDispatchOnly) {
  ASSERT_TRUE(sink_);
  win32::com_ptr<IUnknown> events;
  EXPECT_EQ(sink_->QueryInterface(DIID__IMouseKeyHookCtlEvents, events.put_void()), S_OK);
  win32::com_ptr<IUnknown> dispatch;
  EXPECT_EQ(sink_->QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
  EXPECT_EQ(events.get(), dispatch.get());
  win32::com_ptr<IUnknown> control;
  EXPECT_EQ(sink_->QueryInterface(IID_IMouseKeyHookCtl, control.put_void()), E_NOINTERFACE);
  EXPECT_FALSE(control);
}

TEST_F(SinkTest, KeyEventTakesTheCodeFromTheSecondArgument) {
  EXPECT_EQ(Fire(DISPID_KEYEVENT, {Long(0), Long(65)}), S_OK);
  EXPECT_EQ(Fire(DISPID_KEYEVENT, {Long(1), Long(13)}), S_OK);
  EXPECT_EQ(form_.seen, (std::vector<std::string>{"key 65 0", "key 13 1"}));
}

TEST_F(SinkTest, MouseEventTakesItsArgumentsInReverse) {
  EXPECT_EQ(Fire(DISPID_MOUSEEVENT, {Long(200), Long(100), Long(513)}), S_OK);
  EXPECT_EQ(form_.seen, (std::vector<std::string>{"mouse 513 100 200"}));
}

TEST_F(SinkTest, ArgumentsOfOtherTypesAreCoerced) {
  VARIANT small;
  ::VariantInit(&small);
  small.vt = VT_I2;
  small.iVal = -3;
  VARIANT text;
  ::VariantInit(&text);
  text.vt = VT_BSTR;
  text.bstrVal = ::SysAllocString(L"65535");
  EXPECT_EQ(Fire(DISPID_MOUSEEVENT, {text, small, Long(512)}), S_OK);
  ::VariantClear(&text);
  EXPECT_EQ(form_.seen, (std::vector<std::string>{"mouse 512 -3 65535"}));
}

TEST_F(SinkTest, MalformedCallsAreRefusedAndReachNothing) {
  EXPECT_EQ(Fire(DISPID_KEYEVENT, {Long(65)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Fire(DISPID_MOUSEEVENT, {Long(1), Long(2)}), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Fire(3, {Long(0), Long(65)}), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Fire(DISPID_KEYEVENT, {Long(0), Long(65)}, nullptr, DISPATCH_PROPERTYGET), DISP_E_MEMBERNOTFOUND);

  VARIANT word;
  ::VariantInit(&word);
  word.vt = VT_BSTR;
  word.bstrVal = ::SysAllocString(L"not a number");
  UINT bad = 99;
  EXPECT_EQ(Fire(DISPID_KEYEVENT, {Long(0), word}, &bad), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(bad, 1u);
  ::VariantClear(&word);

  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(sink_->Invoke(DISPID_KEYEVENT, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_TRUE(form_.seen.empty());
}

TEST_F(SinkTest, NothingReachesTheFormAfterDetach) {
  sink_->Detach();
  EXPECT_EQ(Fire(DISPID_KEYEVENT, {Long(0), Long(65)}), S_OK);
  EXPECT_TRUE(form_.seen.empty());
}

class ComThread : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
  void TearDown() override { ::CoUninitialize(); }
};

TEST_F(ComThread, AClassThatIsNotRegisteredIsNotCreated) {
  Recorder form;
  HookComponentFactoryWin32 factory(L"Hooks.NotRegisteredAnywhere");
  EXPECT_EQ(factory.Create(form), nullptr);
  EXPECT_TRUE(FAILED(factory.last_error()));
}

}  // namespace
}  // namespace vardex
