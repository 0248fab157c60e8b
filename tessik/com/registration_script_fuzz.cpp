// libFuzzer target: any text must parse or give an error, never crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "com/registration_script.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  tessik::script::Parse(text);
  tessik::script::Expand(text, {{"MODULE", "C:\\it's\\x.dll"}});
  return 0;
}
