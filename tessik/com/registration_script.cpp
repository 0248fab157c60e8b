#include "com/registration_script.h"

#include <cstddef>

namespace tessik::script {
namespace {

// Deeper nesting than any registry layout needs; bounds the recursion.
constexpr int kMaxDepth = 32;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

enum class Tok { kEnd, kOpen, kClose, kEquals, kWord, kQuoted, kBad };

struct Token {
  Tok kind = Tok::kEnd;
  std::string text;
  int line = 1;
};

class Lexer {
 public:
  explicit Lexer(std::string_view text) : text_(text) {}

  Token Next() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
    Token t;
    t.line = line_;
    if (pos_ >= text_.size()) return t;
    const char c = text_[pos_];
    if (c == '=') {
      ++pos_;
      t.kind = Tok::kEquals;
      return t;
    }
    if ((c == '{' || c == '}') && EndsBrace(pos_ + 1)) {
      ++pos_;
      t.kind = c == '{' ? Tok::kOpen : Tok::kClose;
      return t;
    }
    if (c == '\'') return Quoted(t);
    while (pos_ < text_.size() && !IsSpace(text_[pos_]) && text_[pos_] != '=' && text_[pos_] != '\'') {
      t.text += text_[pos_++];
    }
    t.kind = Tok::kWord;
    return t;
  }

 private:
  // A brace stands alone; "{54B9...}" is a word.
  bool EndsBrace(std::size_t next) const {
    if (next >= text_.size()) return true;
    const char c = text_[next];
    return IsSpace(c) || c == '{' || c == '}' || c == '=' || c == '\'';
  }

  Token Quoted(Token t) {
    ++pos_;
    for (;;) {
      if (pos_ >= text_.size()) {
        t.kind = Tok::kBad;
        t.text = "unterminated string";
        return t;
      }
      const char c = text_[pos_++];
      if (c == '\'') {
        if (pos_ < text_.size() && text_[pos_] == '\'') {
          t.text += '\'';
          ++pos_;
          continue;
        }
        t.kind = Tok::kQuoted;
        return t;
      }
      if (c == '\n') ++line_;
      t.text += c;
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
};

class Parser {
 public:
  explicit Parser(std::string_view text) : lexer_(text) { Advance(); }

  ParseResult Run() {
    ParseResult r;
    Script s;
    while (cur_.kind != Tok::kEnd) {
      if (cur_.kind != Tok::kWord || !(EqualsNoCase(cur_.text, "HKCR") ||
                                       EqualsNoCase(cur_.text, "HKEY_CLASSES_ROOT"))) {
        return Fail("expected HKCR");
      }
      Advance();
      if (cur_.kind != Tok::kOpen) return Fail("expected '{' after HKCR");
      Advance();
      if (!Entries(s.keys, nullptr, 1)) return Fail(error_);
    }
    r.script = std::move(s);
    return r;
  }

 private:
  void Advance() { cur_ = lexer_.Next(); }

  ParseResult Fail(const std::string& message) {
    ParseResult r;
    r.error = "line " + std::to_string(cur_.line) + ": " + message;
    return r;
  }

  bool Error(std::string message) {
    if (cur_.kind == Tok::kBad) message = cur_.text;
    error_ = std::move(message);
    return false;
  }

  bool IsName() const { return cur_.kind == Tok::kWord || cur_.kind == Tok::kQuoted; }

  // Reads "s 'text'" after an equals sign.
  bool StringValue(std::string& out) {
    if (cur_.kind != Tok::kWord || !EqualsNoCase(cur_.text, "s")) {
      return Error("expected a string value (s '...')");
    }
    Advance();
    if (cur_.kind != Tok::kQuoted) return Error("expected a quoted string");
    out = cur_.text;
    Advance();
    return true;
  }

  // Entries of a block up to and including its closing brace. `values` is
  // null at the root, where named values have no key to live in.
  bool Entries(std::vector<Key>& keys, std::vector<Value>* values, int depth) {
    if (depth > kMaxDepth) return Error("keys nested too deeply");
    for (;;) {
      if (cur_.kind == Tok::kClose) {
        Advance();
        return true;
      }
      if (!IsName()) return Error(cur_.kind == Tok::kEnd ? "missing '}'" : "expected a key name");
      if (cur_.kind == Tok::kWord && EqualsNoCase(cur_.text, "val")) {
        if (!values) return Error("a value needs a key");
        Advance();
        if (!IsName()) return Error("expected a value name");
        Value v;
        v.name = cur_.text;
        if (v.name.empty()) return Error("empty value name");
        Advance();
        if (cur_.kind != Tok::kEquals) return Error("expected '=' after the value name");
        Advance();
        if (!StringValue(v.data)) return false;
        values->push_back(std::move(v));
        continue;
      }
      Key k;
      if (cur_.kind == Tok::kWord && EqualsNoCase(cur_.text, "NoRemove")) {
        k.flag = KeyFlag::kNoRemove;
        Advance();
      } else if (cur_.kind == Tok::kWord && EqualsNoCase(cur_.text, "ForceRemove")) {
        k.flag = KeyFlag::kForceRemove;
        Advance();
      }
      if (!IsName()) return Error("expected a key name");
      k.name = cur_.text;
      if (k.name.empty() || k.name.find('\\') != std::string::npos) {
        return Error("bad key name '" + k.name + "'");
      }
      Advance();
      if (cur_.kind == Tok::kEquals) {
        Advance();
        std::string data;
        if (!StringValue(data)) return false;
        k.default_value = std::move(data);
      }
      if (cur_.kind == Tok::kOpen) {
        Advance();
        if (!Entries(k.subkeys, &k.values, depth + 1)) return false;
      }
      keys.push_back(std::move(k));
    }
  }

  Lexer lexer_;
  Token cur_;
  std::string error_;
};

}  // namespace

ParseResult Parse(std::string_view text) { return Parser(text).Run(); }

ExpandResult Expand(std::string_view text,
                    const std::vector<std::pair<std::string, std::string>>& replacements) {
  ExpandResult r;
  std::string out;
  out.reserve(text.size());
  int line = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') ++line;
    if (c != '%') {
      out += c;
      continue;
    }
    const std::size_t end = text.find('%', i + 1);
    if (end == std::string_view::npos) {
      r.error = "line " + std::to_string(line) + ": unterminated %";
      return r;
    }
    const std::string_view name = text.substr(i + 1, end - i - 1);
    i = end;
    if (name.empty()) {
      out += '%';
      continue;
    }
    const std::string* value = nullptr;
    for (const auto& [n, v] : replacements) {
      if (n == name) value = &v;
    }
    if (!value) {
      r.error = "line " + std::to_string(line) + ": unknown name %" + std::string(name) + "%";
      return r;
    }
    for (char v : *value) {
      out += v;
      if (v == '\'') out += '\'';
    }
  }
  r.text = std::move(out);
  return r;
}

}  // namespace tessik::script
