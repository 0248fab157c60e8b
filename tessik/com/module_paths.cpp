#include "com/module_paths.h"

namespace tessik {
namespace {

std::wstring::size_type FileNameStart(const std::wstring& path) {
  const auto sep = path.find_last_of(L"\\/");
  return sep == std::wstring::npos ? 0 : sep + 1;
}

}  // namespace

std::wstring CompanionTypeLibraryPath(const std::wstring& module_path) {
  const auto dot = module_path.rfind(L'.');
  if (dot == std::wstring::npos || dot < FileNameStart(module_path)) return module_path + L".tlb";
  return module_path.substr(0, dot) + L".tlb";
}

std::wstring DirectoryOf(const std::wstring& path) {
  const auto start = FileNameStart(path);
  if (start == 0) return std::wstring();
  std::wstring dir = path.substr(0, start - 1);
  // A root keeps its separator: "C:" alone would mean C:'s current directory.
  if (dir.empty() || dir.back() == L':') dir = path.substr(0, start);
  return dir;
}

}  // namespace tessik
