#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runtime/system_win32.h"

namespace {

std::wstring program_path() {
  std::string program = QUILLBROOK_PROGRAM;
  if (!program.empty() && program[0] == '/') program = "Z:" + program;
  return std::filesystem::path(program).make_preferred().wstring();
}

std::wstring version_string(const std::vector<char>& record, const wchar_t* name) {
  wchar_t* value = nullptr;
  UINT length = 0;
  std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
  if (!VerQueryValueW(record.data(), query.c_str(), reinterpret_cast<void**>(&value), &length) || !value) return {};
  return std::wstring(value, length ? length - 1 : 0);
}

TEST(Product, CarriesItsVersionRecord) {
  std::wstring path = program_path();
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> record(size);
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, record.data()));
  EXPECT_EQ(version_string(record, L"FileDescription"), L"Quillbrook: modify NVDA addon manifests automatically");
  EXPECT_EQ(version_string(record, L"FileVersion"), QUILLBROOK_VERSION_TEXT);
  EXPECT_EQ(version_string(record, L"ProductVersion"), QUILLBROOK_VERSION_TEXT);

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), QUILLBROOK_VERSION_MAJOR);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), QUILLBROOK_VERSION_MINOR);
  EXPECT_EQ(HIWORD(fixed->dwProductVersionMS), QUILLBROOK_VERSION_MAJOR);
  EXPECT_EQ(LOWORD(fixed->dwProductVersionMS), QUILLBROOK_VERSION_MINOR);
}

TEST(Product, AsksForVersionSixOfTheCommonControls) {
  const runtime::UniqueModule owner(LoadLibraryExW(program_path().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
  HMODULE program = owner.get();
  ASSERT_NE(program, nullptr);
  HRSRC resource = FindResourceW(program, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  ASSERT_NE(resource, nullptr);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(program, resource)));
  std::string manifest(bytes, SizeofResource(program, resource));
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
  EXPECT_NE(manifest.find("{e2011457-1546-43c5-a5fe-008deee3d3f0}"), std::string::npos);  // Vista
  EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);  // Windows 10
}

}  // namespace
