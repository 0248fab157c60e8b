// The registrar against a scratch key under HKEY_CURRENT_USER.
#include "com/registrar.h"

#include <gtest/gtest.h>

#include <string>

#include "win32/unique_any.h"

namespace tessik {
namespace {

void CloseKey(HKEY key) noexcept { RegCloseKey(key); }
using unique_hkey = win32::unique_any<HKEY, decltype(&CloseKey), &CloseKey>;

constexpr wchar_t kScratch[] = L"Software\\TessikRegistrarTest";

script::Script MustParse(const char* text) {
  script::ParseResult r = script::Parse(text);
  EXPECT_TRUE(r.script.has_value()) << r.error;
  return r.script.value_or(script::Script{});
}

class RegistrarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScratch, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, root_.put(),
                              nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    root_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratch);
  }

  bool Exists(const wchar_t* key) {
    unique_hkey k;
    return RegOpenKeyExW(root_.get(), key, 0, KEY_READ, k.put()) == ERROR_SUCCESS;
  }
  // "<none>" when the value is missing; "<type N>" when it is not a string.
  std::wstring Value(const wchar_t* key, const wchar_t* name) {
    wchar_t data[256] = {};
    DWORD bytes = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegGetValueW(root_.get(), key, name, RRF_RT_ANY, &type, data, &bytes) != ERROR_SUCCESS) return L"<none>";
    if (type != REG_SZ) return L"<type " + std::to_wstring(type) + L">";
    return data;
  }
  void Create(const wchar_t* key, const wchar_t* name = nullptr, const wchar_t* data = L"old") {
    unique_hkey k;
    ASSERT_EQ(RegCreateKeyExW(root_.get(), key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(), nullptr),
              ERROR_SUCCESS);
    if (name) {
      RegSetValueExW(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                     static_cast<DWORD>((wcslen(data) + 1) * sizeof(wchar_t)));
    }
  }

  unique_hkey root_;
};

const char kScript[] = R"(HKCR {
  Prog = s 'Desc' { CLSID = s '{1}' }
  NoRemove CLSID {
    ForceRemove {1} = s 'Desc' {
      ForceRemove Programmable
      Server = s 'C:\it''s\x.dll' { val ThreadingModel = s 'Apartment' }
    }
  }
})";

TEST_F(RegistrarTest, WritesEveryKeyAndValueAsStrings) {
  ASSERT_EQ(RegisterKeys(root_.get(), MustParse(kScript)), S_OK);
  EXPECT_EQ(Value(L"Prog", nullptr), L"Desc");
  EXPECT_EQ(Value(L"Prog\\CLSID", nullptr), L"{1}");
  EXPECT_EQ(Value(L"CLSID\\{1}", nullptr), L"Desc");
  EXPECT_EQ(Value(L"CLSID\\{1}\\Server", nullptr), L"C:\\it's\\x.dll");
  EXPECT_EQ(Value(L"CLSID\\{1}\\Server", L"ThreadingModel"), L"Apartment");
  EXPECT_TRUE(Exists(L"CLSID\\{1}\\Programmable"));
  EXPECT_EQ(Value(L"CLSID\\{1}\\Programmable", nullptr), L"<none>");
  // The script is UTF-8, as a module path in any language needs; a byte
  // that is not UTF-8 is refused, never written as something else.
  ASSERT_EQ(RegisterKeys(root_.get(), MustParse("HKCR { Gr\xC3\xBC\xC3\x9F = s 'C:\\\xE2\x82\xAC\\x.dll' }")),
            S_OK);
  EXPECT_EQ(Value(L"Gr\u00FC\u00DF", nullptr), L"C:\\\u20AC\\x.dll");
  EXPECT_EQ(RegisterKeys(root_.get(), MustParse("HKCR { Bad = s 'C:\\\xFF.dll' }")),
            HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION));
}

TEST_F(RegistrarTest, ForceRemoveReplacesEarlierContentOthersKeepIt) {
  Create(L"CLSID\\{1}\\Stale", L"x");
  Create(L"CLSID\\{1}", L"Extra");
  Create(L"Prog\\Other", L"y");
  ASSERT_EQ(RegisterKeys(root_.get(), MustParse(kScript)), S_OK);
  EXPECT_FALSE(Exists(L"CLSID\\{1}\\Stale"));
  EXPECT_EQ(Value(L"CLSID\\{1}", L"Extra"), L"<none>");
  EXPECT_EQ(Value(L"Prog\\Other", L"y"), L"old");
}

TEST_F(RegistrarTest, UnregistrationRemovesWhatTheScriptNamesOnly) {
  Create(L"CLSID\\{other}", L"v");
  ASSERT_EQ(RegisterKeys(root_.get(), MustParse(kScript)), S_OK);
  Create(L"Prog\\Foreign");
  UnregisterKeys(root_.get(), MustParse(kScript));
  EXPECT_FALSE(Exists(L"CLSID\\{1}"));
  EXPECT_TRUE(Exists(L"CLSID"));
  EXPECT_EQ(Value(L"CLSID\\{other}", L"v"), L"old");
  EXPECT_FALSE(Exists(L"Prog\\CLSID"));
  // A key that still holds somebody else's subkey stays, without our value.
  EXPECT_TRUE(Exists(L"Prog\\Foreign"));
  EXPECT_EQ(Value(L"Prog", nullptr), L"<none>");

  UnregisterKeys(root_.get(), MustParse(kScript));  // nothing left to remove
  EXPECT_TRUE(Exists(L"CLSID"));
}

TEST_F(RegistrarTest, NamedValuesGoWhileTheirKeyStaysWhenMarkedNoRemove) {
  const char text[] = "HKCR { NoRemove Keep = s 'd' { val A = s 'a' } }";
  Create(L"Keep", L"B", L"b");
  ASSERT_EQ(RegisterKeys(root_.get(), MustParse(text)), S_OK);
  EXPECT_EQ(Value(L"Keep", L"A"), L"a");
  UnregisterKeys(root_.get(), MustParse(text));
  EXPECT_TRUE(Exists(L"Keep"));
  EXPECT_EQ(Value(L"Keep", L"A"), L"<none>");
  EXPECT_EQ(Value(L"Keep", L"B"), L"b");
}

}  // namespace
}  // namespace tessik
