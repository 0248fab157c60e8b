#include "com/registration_script.h"

#include <gtest/gtest.h>

namespace tessik::script {
namespace {

Script MustParse(std::string_view text) {
  ParseResult r = Parse(text);
  EXPECT_TRUE(r.script.has_value()) << r.error;
  return r.script.value_or(Script{});
}

std::string ErrorOf(std::string_view text) {
  ParseResult r = Parse(text);
  EXPECT_FALSE(r.script.has_value());
  return r.error;
}

TEST(RegistrationScript, ReadsKeysDefaultValuesNamedValuesAndMarkings) {
  const Script s = MustParse(R"(
HKCR
{
  Some.ProgID = s 'A control'
  {
    CLSID = s '{54B9618F-0001-4EF4-9580-1E76F22402CA}'
  }
  NoRemove CLSID
  {
    ForceRemove {54B9618F-0001-4EF4-9580-1E76F22402CA} = s 'A control'
    {
      ForceRemove 'Programmable'
      InprocServer32 = s 'C:\dir\x.dll'
      {
        val ThreadingModel = s 'Apartment'
      }
    }
  }
})");
  ASSERT_EQ(s.keys.size(), 2u);
  const Key& progid = s.keys[0];
  EXPECT_EQ(progid.name, "Some.ProgID");
  EXPECT_EQ(progid.flag, KeyFlag::kNone);
  EXPECT_EQ(progid.default_value, "A control");
  ASSERT_EQ(progid.subkeys.size(), 1u);
  EXPECT_EQ(progid.subkeys[0].default_value, "{54B9618F-0001-4EF4-9580-1E76F22402CA}");

  const Key& clsid = s.keys[1];
  EXPECT_EQ(clsid.flag, KeyFlag::kNoRemove);
  EXPECT_FALSE(clsid.default_value.has_value());
  ASSERT_EQ(clsid.subkeys.size(), 1u);
  const Key& cls = clsid.subkeys[0];
  EXPECT_EQ(cls.name, "{54B9618F-0001-4EF4-9580-1E76F22402CA}");
  EXPECT_EQ(cls.flag, KeyFlag::kForceRemove);
  ASSERT_EQ(cls.subkeys.size(), 2u);
  EXPECT_EQ(cls.subkeys[0].name, "Programmable");
  EXPECT_EQ(cls.subkeys[0].flag, KeyFlag::kForceRemove);
  EXPECT_FALSE(cls.subkeys[0].default_value.has_value());
  EXPECT_TRUE(cls.subkeys[0].subkeys.empty());
  const Key& server = cls.subkeys[1];
  EXPECT_EQ(server.default_value, "C:\\dir\\x.dll");
  ASSERT_EQ(server.values.size(), 1u);
  EXPECT_EQ(server.values[0].name, "ThreadingModel");
  EXPECT_EQ(server.values[0].data, "Apartment");
}

TEST(RegistrationScript, DoubledQuoteIsOneQuoteAndKeywordsIgnoreCase) {
  const Script s = MustParse("hkey_classes_root { noremove 'It''s' = S 'a''b' { VAL v = s '' } }");
  ASSERT_EQ(s.keys.size(), 1u);
  EXPECT_EQ(s.keys[0].name, "It's");
  EXPECT_EQ(s.keys[0].flag, KeyFlag::kNoRemove);
  EXPECT_EQ(s.keys[0].default_value, "a'b");
  ASSERT_EQ(s.keys[0].values.size(), 1u);
  EXPECT_EQ(s.keys[0].values[0].data, "");
}

TEST(RegistrationScript, EmptyScriptHasNoKeys) {
  EXPECT_TRUE(MustParse("").keys.empty());
  EXPECT_TRUE(MustParse("HKCR { }").keys.empty());
}

TEST(RegistrationScript, BadScriptsGiveAnErrorWithTheLine) {
  EXPECT_EQ(ErrorOf("HKLM { A }"), "line 1: expected HKCR");
  EXPECT_EQ(ErrorOf("HKCR\n{\n  A = s 'x"), "line 3: unterminated string");
  EXPECT_EQ(ErrorOf("HKCR { A { B }"), "line 1: missing '}'");
  EXPECT_EQ(ErrorOf("HKCR { A = d '1' }"), "line 1: expected a string value (s '...')");
  EXPECT_EQ(ErrorOf("HKCR { A = s x }"), "line 1: expected a quoted string");
  EXPECT_EQ(ErrorOf("HKCR { val A = s 'x' }"), "line 1: a value needs a key");
  EXPECT_EQ(ErrorOf("HKCR { A { val = s 'x' } }"), "line 1: expected a value name");
  EXPECT_EQ(ErrorOf("HKCR { A { val B s 'x' } }"), "line 1: expected '=' after the value name");
  EXPECT_EQ(ErrorOf("HKCR { 'a\\b' }"), "line 1: bad key name 'a\\b'");
  EXPECT_EQ(ErrorOf("HKCR { '' }"), "line 1: bad key name ''");
  EXPECT_EQ(ErrorOf("HKCR { NoRemove }"), "line 1: expected a key name");
  EXPECT_EQ(ErrorOf("HKCR A"), "line 1: expected '{' after HKCR");
  EXPECT_EQ(ErrorOf("HKCR { = }"), "line 1: expected a key name");
}

TEST(RegistrationScript, DeepNestingIsAnErrorNotACrash) {
  std::string text = "HKCR {";
  for (int i = 0; i < 100000; ++i) text += " k {";
  EXPECT_NE(ErrorOf(text).find("nested too deeply"), std::string::npos);
}

TEST(RegistrationScript, ExpandReplacesNamesAndDoublesQuotesInValues) {
  const ExpandResult r = Expand("A = s '%MODULE%' %%CLSID%% %CLSID%",
                                {{"MODULE", "C:\\O'Neil\\%x%.dll"}, {"CLSID", "{1}"}});
  ASSERT_TRUE(r.text.has_value()) << r.error;
  EXPECT_EQ(*r.text, "A = s 'C:\\O''Neil\\%x%.dll' %CLSID% {1}");
  // The expanded text reads back as the original path.
  const Script s = MustParse("HKCR { A = s '" + *Expand("%M%", {{"M", "it's"}}).text + "' }");
  EXPECT_EQ(s.keys[0].default_value, "it's");
}

TEST(RegistrationScript, ExpandRejectsUnknownAndUnterminatedNames) {
  ExpandResult r = Expand("x\n%NOPE%", {{"MODULE", "m"}});
  EXPECT_FALSE(r.text.has_value());
  EXPECT_EQ(r.error, "line 2: unknown name %NOPE%");
  r = Expand("50%", {});
  EXPECT_FALSE(r.text.has_value());
  EXPECT_EQ(r.error, "line 1: unterminated %");
}

}  // namespace
}  // namespace tessik::script
