// The registration script: the module's registry entries under
// HKEY_CLASSES_ROOT in an .rgs-like text, carried as a resource and applied by
// the registrar. Portable (no Windows headers) so that the parser is tested on
// any host.
//
//   HKCR
//   {
//     NoRemove Parent              never removed by unregistration
//     {
//       ForceRemove Name = s 'x'   deleted whole before it is written again
//       {
//         val Named = s 'y'        a named string value
//         'Quoted name'            a key without a default value
//       }
//     }
//   }
//
// Strings are in single quotes, a quote inside doubled. Every value is a
// string ("s"); key names cannot contain a backslash.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tessik::script {

enum class KeyFlag { kNone, kNoRemove, kForceRemove };

struct Value {
  std::string name;
  std::string data;
};

struct Key {
  std::string name;
  KeyFlag flag = KeyFlag::kNone;
  std::optional<std::string> default_value;
  std::vector<Value> values;
  std::vector<Key> subkeys;
};

// The keys directly under HKEY_CLASSES_ROOT, in script order.
struct Script {
  std::vector<Key> keys;
};

struct ParseResult {
  std::optional<Script> script;
  std::string error;  // "line N: ...", set when script is empty
};

ParseResult Parse(std::string_view text);

struct ExpandResult {
  std::optional<std::string> text;
  std::string error;
};

// Replaces each %NAME% by its value with every single quote doubled, since
// the values land inside quoted strings; "%%" stands for one "%". An unknown
// or unterminated name is an error.
ExpandResult Expand(std::string_view text,
                    const std::vector<std::pair<std::string, std::string>>& replacements);

}  // namespace tessik::script
