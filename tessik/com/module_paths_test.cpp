#include "com/module_paths.h"

#include <gtest/gtest.h>

namespace tessik {
namespace {

TEST(ModulePaths, TypeLibraryBesideTheModuleReplacesOnlyTheFileExtension) {
  EXPECT_EQ(CompanionTypeLibraryPath(L"C:\\a\\Tessik.dll"), L"C:\\a\\Tessik.tlb");
  EXPECT_EQ(CompanionTypeLibraryPath(L"C:\\a\\Tessik"), L"C:\\a\\Tessik.tlb");
  EXPECT_EQ(CompanionTypeLibraryPath(L"C:\\my.dir\\Tessik"), L"C:\\my.dir\\Tessik.tlb");
  EXPECT_EQ(CompanionTypeLibraryPath(L"C:\\a\\x.y.dll"), L"C:\\a\\x.y.tlb");
  EXPECT_EQ(CompanionTypeLibraryPath(L"Tessik.dll"), L"Tessik.tlb");
}

TEST(ModulePaths, DirectoryKeepsTheSeparatorOnlyForARoot) {
  EXPECT_EQ(DirectoryOf(L"C:\\a\\b\\Tessik.dll"), L"C:\\a\\b");
  EXPECT_EQ(DirectoryOf(L"C:\\Tessik.dll"), L"C:\\");
  EXPECT_EQ(DirectoryOf(L"\\Tessik.dll"), L"\\");
  EXPECT_EQ(DirectoryOf(L"Tessik.dll"), L"");
}

}  // namespace
}  // namespace tessik
