// Writes Tessik's COM registration as rows of the package's Registry table
// (.idt lines, no header): the keys of the registration script, and the keys
// that registering the type library adds (TypeLib and Interface), so that
// msiexec writes what regsvr32 writes and removes all of it again. The
// script's ForceRemove keys, which registration deletes before writing them,
// become a RemoveRegistry table (.idt with its header).
//
//   com_registry_rows <script.rgs> <library.idl> <library.tlb> <component>
//                     <module reference> <directory reference>
//                     <Registry rows.idt> <RemoveRegistry.idt>
//
// The module and directory references are Formatted text of the package
// ("[#File]", "[DIR]"); every other value is written as literal text.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "../tessik/com/registration_script.h"

namespace {

using tessik::script::Key;
using tessik::script::KeyFlag;

// Stands for the module path inside the script until the rows are escaped.
constexpr char kModuleMark[] = "\x01MODULE\x01";

constexpr char kProxyStubDual[] = "{00020424-0000-0000-C000-000000000046}";
constexpr char kProxyStubDispatch[] = "{00020420-0000-0000-C000-000000000046}";

// The library's flags as the loader reports them for a file on disk.
constexpr std::uint32_t kLibFlagHasDiskImage = 8;
// Offset of the flags in the header of an MSFT type library.
constexpr std::size_t kMsftFlagsOffset = 28;

struct Row {
  std::string key;
  std::string name;   // "" for the default value
  std::string value;  // Formatted text; "" with name "+" or "*" marks a key
};

struct TypeDecl {
  std::string kind;  // interface, dispinterface or coclass
  std::string name;
  std::string uuid;
  bool automation = false;  // dual or oleautomation
};

struct Library {
  std::string uuid, version, lcid, helpstring;
  std::vector<TypeDecl> types;
};

bool ReadFile(const char* path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

// The argument of attr(...) in an attribute list, "" when absent.
std::string Attribute(const std::string& attrs, const std::string& attr) {
  std::size_t at = 0;
  for (;;) {
    at = attrs.find(attr, at);
    if (at == std::string::npos) return std::string();
    const bool starts = at == 0 || attrs[at - 1] == '[' || attrs[at - 1] == ',' ||
                        attrs[at - 1] == ' ' || attrs[at - 1] == '\n' || attrs[at - 1] == '\t';
    std::size_t p = at + attr.size();
    while (p < attrs.size() && (attrs[p] == ' ' || attrs[p] == '\t')) ++p;
    if (starts && p < attrs.size() && attrs[p] == '(') {
      const std::size_t end = attrs.find(')', p);
      if (end == std::string::npos) return std::string();
      std::string arg = attrs.substr(p + 1, end - p - 1);
      if (arg.size() >= 2 && arg.front() == '"' && arg.back() == '"') arg = arg.substr(1, arg.size() - 2);
      return arg;
    }
    at += attr.size();
  }
}

bool HasWord(const std::string& attrs, const std::string& word) {
  std::istringstream words(attrs);
  std::string w;
  while (std::getline(words, w, ',')) {
    const auto b = w.find_first_not_of(" \t\r\n[");
    const auto e = w.find_last_not_of(" \t\r\n]");
    if (b != std::string::npos && w.substr(b, e - b + 1) == word) return true;
  }
  return false;
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The library block of the IDL: its attributes and the types declared in it,
// each with the attribute list that precedes it. Comments are skipped; the
// IDL is the project's own, so this reads only what it uses.
bool ParseIdl(const std::string& idl_text, Library& lib, std::string& error) {
  std::string text;
  for (std::size_t i = 0; i < idl_text.size(); ++i) {
    if (idl_text.compare(i, 2, "//") == 0) {
      i = idl_text.find('\n', i);
      if (i == std::string::npos) break;
    } else if (idl_text.compare(i, 2, "/*") == 0) {
      i = idl_text.find("*/", i);
      if (i == std::string::npos) break;
      ++i;
      continue;
    }
    text += idl_text[i];
  }
  std::string attrs;
  int depth = 0;
  bool in_library = false;
  std::size_t i = 0;
  auto word_at = [&](std::size_t p) {
    std::size_t e = p;
    while (e < text.size() && (std::isalnum(static_cast<unsigned char>(text[e])) || text[e] == '_')) ++e;
    return text.substr(p, e - p);
  };
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      i = text.find('"', i + 1);
      if (i == std::string::npos) break;
      ++i;
    } else if (c == '[' && depth == (in_library ? 1 : 0)) {
      const std::size_t end = text.find(']', i);
      if (end == std::string::npos) break;
      attrs = text.substr(i, end - i + 1);
      i = end + 1;
    } else if (c == '{') {
      ++depth;
      ++i;
    } else if (c == '}') {
      --depth;
      if (in_library && depth == 0) in_library = false;
      ++i;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_') {
      const std::string w = word_at(i);
      i += w.size();
      const bool top = depth == (in_library ? 1 : 0);
      if (top && !attrs.empty() &&
          (w == "library" || w == "interface" || w == "dispinterface" || w == "coclass")) {
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
        const std::string name = word_at(i);
        i += name.size();
        if (w == "library") {
          lib.uuid = "{" + Upper(Attribute(attrs, "uuid")) + "}";
          lib.version = Attribute(attrs, "version");
          lib.lcid = Attribute(attrs, "lcid");
          lib.helpstring = Attribute(attrs, "helpstring");
          in_library = true;
        } else if (in_library) {
          const std::string uuid = Attribute(attrs, "uuid");
          if (uuid.empty()) {
            error = w + " " + name + " has no uuid";
            return false;
          }
          lib.types.push_back({w, name, "{" + Upper(uuid) + "}",
                               HasWord(attrs, "dual") || HasWord(attrs, "oleautomation")});
        }
      }
      if (top) attrs.clear();
    } else {
      ++i;
    }
  }
  if (lib.uuid.size() < 3 || lib.version.empty()) {
    error = "no library block with uuid and version";
    return false;
  }
  return true;
}

std::string HexLcid(const std::string& lcid) {
  if (lcid.empty()) return "0";
  const unsigned long value = std::stoul(lcid, nullptr, 0);
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%lx", value);
  return buffer;
}

// The script's keys: a key that unregistration removes (not NoRemove) and
// whose parent is not removed with it is removed whole at uninstall ("*");
// a key with no value of its own is created ("+") so that it exists. A
// ForceRemove key goes into `force_removed`.
void ScriptRows(const std::vector<Key>& keys, const std::string& parent, bool parent_removed,
                std::vector<Row>& rows, std::vector<std::string>& force_removed) {
  for (const Key& k : keys) {
    const std::string path = parent.empty() ? k.name : parent + "\\" + k.name;
    const bool removed = k.flag != KeyFlag::kNoRemove;
    if (k.flag == KeyFlag::kForceRemove) force_removed.push_back(path);
    if (removed && !parent_removed) {
      rows.push_back({path, "*", ""});
    } else if (!k.default_value && k.values.empty() && k.subkeys.empty()) {
      rows.push_back({path, "+", ""});
    }
    if (k.default_value) rows.push_back({path, "", *k.default_value});
    for (const auto& v : k.values) rows.push_back({path, v.name, v.data});
    ScriptRows(k.subkeys, path, removed || parent_removed, rows, force_removed);
  }
}

void TypeLibRows(const Library& lib, std::uint32_t flags, std::vector<Row>& rows) {
  const std::string base = "TypeLib\\" + lib.uuid;
  const std::string ver = base + "\\" + lib.version;
  rows.push_back({base, "*", ""});
  rows.push_back({ver, "", lib.helpstring});
  rows.push_back({ver + "\\" + HexLcid(lib.lcid) + "\\win32", "", kModuleMark});
  rows.push_back({ver + "\\FLAGS", "", std::to_string(flags)});
  rows.push_back({ver + "\\HELPDIR", "", "\x01" "DIR\x01"});
  for (const TypeDecl& t : lib.types) {
    if (t.kind == "coclass") continue;
    if (t.kind == "interface" && !t.automation) continue;  // not registered by the type library
    const std::string key = "Interface\\" + t.uuid;
    const char* stub = t.kind == "dispinterface" ? kProxyStubDispatch : kProxyStubDual;
    rows.push_back({key, "*", ""});
    rows.push_back({key, "", t.name});
    rows.push_back({key + "\\ProxyStubClsid", "", stub});
    rows.push_back({key + "\\ProxyStubClsid32", "", stub});
    rows.push_back({key + "\\TypeLib", "", lib.uuid});
    rows.push_back({key + "\\TypeLib", "Version", lib.version});
  }
}

// Literal text as Formatted text: brackets escaped, a leading '#' doubled
// (it would mark a number).
std::string Literal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '[') {
      out += "[\\[]";
    } else if (c == ']') {
      out += "[\\]]";
    } else {
      out += c;
    }
  }
  if (!out.empty() && out[0] == '#') out.insert(0, "#");
  return out;
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
    s.replace(at, from.size(), to);
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 9) {
    std::fprintf(stderr,
                 "usage: %s script.rgs library.idl library.tlb component module-ref dir-ref"
                 " registry-rows.idt remove-registry.idt\n",
                 argv[0]);
    return 2;
  }
  std::string rgs, idl, tlb;
  if (!ReadFile(argv[1], rgs) || !ReadFile(argv[2], idl) || !ReadFile(argv[3], tlb)) {
    std::fprintf(stderr, "cannot read the inputs\n");
    return 1;
  }
  Library lib;
  std::string error;
  if (!ParseIdl(idl, lib, error)) {
    std::fprintf(stderr, "%s: %s\n", argv[2], error.c_str());
    return 1;
  }
  std::string clsid;
  for (const TypeDecl& t : lib.types) {
    if (t.kind == "coclass") clsid = t.uuid;
  }
  if (tlb.size() < kMsftFlagsOffset + 4 || tlb.compare(0, 4, "MSFT") != 0) {
    std::fprintf(stderr, "%s: not an MSFT type library\n", argv[3]);
    return 1;
  }
  std::uint32_t flags = 0;
  for (int b = 3; b >= 0; --b) flags = (flags << 8) | static_cast<unsigned char>(tlb[kMsftFlagsOffset + b]);
  flags |= kLibFlagHasDiskImage;

  const auto expanded =
      tessik::script::Expand(rgs, {{"MODULE", kModuleMark}, {"CLSID", clsid}, {"LIBID", lib.uuid}});
  if (!expanded.text) {
    std::fprintf(stderr, "%s: %s\n", argv[1], expanded.error.c_str());
    return 1;
  }
  const auto parsed = tessik::script::Parse(*expanded.text);
  if (!parsed.script) {
    std::fprintf(stderr, "%s: %s\n", argv[1], parsed.error.c_str());
    return 1;
  }
  std::vector<Row> rows;
  std::vector<std::string> force_removed;
  ScriptRows(parsed.script->keys, "", false, rows, force_removed);
  TypeLibRows(lib, flags, rows);

  std::ofstream out(argv[7], std::ios::binary);
  int n = 0;
  for (const Row& r : rows) {
    char id[32];
    std::snprintf(id, sizeof id, "TessikReg%03d", ++n);
    std::string value = r.name == "*" || r.name == "+" ? std::string() : Literal(r.value);
    value = ReplaceAll(value, kModuleMark, argv[5]);
    value = ReplaceAll(value, "\x01" "DIR\x01", argv[6]);
    // Root 0: HKEY_CLASSES_ROOT.
    out << id << "\t0\t" << r.key << "\t" << r.name << "\t" << value << "\t" << argv[4] << "\r\n";
  }
  // Name "-": the key and everything under it, deleted when the component is
  // installed, before the Registry rows are written. Root 2 and the classes
  // key of HKLM: Root 0 here would mean HKCU's classes even on a per-machine
  // install.
  std::ofstream remove(argv[8], std::ios::binary);
  remove << "RemoveRegistry\tRoot\tKey\tName\tComponent_\r\n"
            "s72\ti2\tl255\tL255\ts72\r\n"
            "RemoveRegistry\tRemoveRegistry\r\n";
  n = 0;
  for (const std::string& key : force_removed) {
    char id[32];
    std::snprintf(id, sizeof id, "TessikForceRemove%02d", ++n);
    remove << id << "\t2\tSoftware\\Classes\\" << key << "\t-\t" << argv[4] << "\r\n";
  }
  if (!out || !remove) {
    std::fprintf(stderr, "cannot write the outputs\n");
    return 1;
  }
  return 0;
}
