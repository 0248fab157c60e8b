// libFuzzer target: any bytes as "vardex.ini", read by the settings file into
// in-memory controls. Besides never crashing, a read must either
// stop cleanly or leave the window in a state that a save writes back and a
// second read reproduces.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/settings_fixture_test.h"

namespace {

using namespace vardex;
using namespace vardex::testing;

// Not a number: a read of line 1 always changes it, so the field's bounds
// always apply (a loaded text equal to the field's text raises no change).
constexpr char kUntouchedLimit[] = "none";
constexpr char kUntouchedPath[] = "C:\\UNTOUCHED.EXE";

// The settings room, started (the file read) with `bytes` as the file.
class Form : public SettingsFixture {
 public:
  Form(const std::string& bytes, char decimal_separator) {
    intAppShutDownTime.SetText(kUntouchedLimit);
    txtApplicationName.SetText(kUntouchedPath);
    storage.files[kIniPath] = bytes;
    system.decimal_separator = decimal_separator;
    Load();
  }
  void TestBody() override {}
  bool Locked() const { return !cmdBrowse.Enabled(); }
  std::string Saved() { return storage.files[kIniPath]; }

  using SettingsFixture::intAppShutDownTime;
  using SettingsFixture::lock;
  using SettingsFixture::settings;
  using SettingsFixture::storage;
  using SettingsFixture::txtApplicationName;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

// A limit as the window shows it: digits with at most the separator between
// them, 1 to 90 minutes, a fraction kept as it was written.
bool IsBoundedLimit(const std::string& text, char separator) {
  if (text.empty() || text.size() > 24 || text[0] == separator) return false;
  std::string number = text;
  for (char& ch : number) {
    if (ch == separator)
      ch = '.';
    else if (ch < '0' || ch > '9')
      return false;
  }
  char* end = nullptr;
  const double minutes = std::strtod(number.c_str(), &end);
  return *end == '\0' && minutes >= 1 && minutes <= 90;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char separator = size % 2 ? ',' : '.';
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Form first(bytes, separator);

  const std::string password = first.lock.password();
  const std::string limit = first.intAppShutDownTime.Text();
  Check(first.storage.writes == 0);
  Check(limit == kUntouchedLimit || IsBoundedLimit(limit, separator));
  // Locking happens only after line 3 was read, and only for a password.
  // No lock is the sentinel, read or not.
  if (first.Locked()) Check(password != kPasswordSentinel);
  const bool read_all =
      first.Locked() || (limit != kUntouchedLimit && ReadSettingsText(bytes).password == std::string(kPasswordSentinel));
  if (!read_all) return 0;
  Check(IsBoundedLimit(limit, separator));

  // "&Done" with an empty box writes the window back; a second read of that
  // file gives the same window.
  first.settings->Save();
  const std::string saved = first.Saved();
  const std::string line1 = MinutesLine(limit, separator) + "\r\n";
  Check(saved.compare(0, line1.size(), line1) == 0);

  Form second(saved, separator);
  Check(second.intAppShutDownTime.Text() == limit);
  Check(second.txtApplicationName.Text() == first.txtApplicationName.Text());
  Check(second.lock.password() == password);
  Check(second.Locked() == first.Locked());
  return 0;
}
