// The settings file "vardex.ini": three lines (idle limit in minutes, path of
// the watched program, password or "unset entry"), an optional fourth, in the
// ANSI code page, every line ended by CR LF. Portable; the bytes come and go
// through SettingsStorage.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vardex {

// Splits a file into its lines. CR LF ends a line, and so does a lone LF;
// a last line without an end counts when it is not empty.
std::vector<std::string> SplitSettingsLines(std::string_view bytes);

// Every line followed by CR LF.
std::string JoinSettingsLines(const std::vector<std::string>& lines);

// The contents written when the file is missing: "30", "", "unset entry".
std::vector<std::string> DefaultSettingsLines();

// The password lines of a save (line 3 and, sometimes, line 4), from the
// password box's text, the stored password and whether the screen is unlocked.
std::vector<std::string> PasswordLines(const std::string& typed, const std::string& stored, bool unlocked);

}  // namespace vardex
