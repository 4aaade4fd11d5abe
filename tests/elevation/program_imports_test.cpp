// The libraries that talvor_app.exe imports, read from its file: the loader
// looks for an imported library beside the program first unless it is one of
// the system's known libraries, so nothing else may be imported.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/bundle_copy.h"

namespace {

template <typename T>
std::optional<T> ReadAt(const std::string& image, size_t offset) {
  if (offset > image.size() || image.size() - offset < sizeof(T)) return std::nullopt;
  T value;
  std::memcpy(&value, image.data() + offset, sizeof(T));
  return value;
}

// The names in the import table of a 64-bit program file; empty when the
// file is not one.
std::vector<std::string> ImportedLibraries(const std::filesystem::path& program) {
  std::ifstream file(program, std::ios::binary);
  const std::string image((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const auto dos = ReadAt<IMAGE_DOS_HEADER>(image, 0);
  if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) return {};
  const size_t nt_offset = static_cast<size_t>(dos->e_lfanew);
  const auto nt = ReadAt<IMAGE_NT_HEADERS64>(image, nt_offset);
  if (!nt || nt->Signature != IMAGE_NT_SIGNATURE ||
      nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    return {};
  }
  const size_t sections_offset = nt_offset + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                 nt->FileHeader.SizeOfOptionalHeader;
  const auto file_offset = [&](DWORD rva) -> std::optional<size_t> {
    for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index) {
      const auto section =
          ReadAt<IMAGE_SECTION_HEADER>(image, sections_offset + index * sizeof(IMAGE_SECTION_HEADER));
      if (!section) return std::nullopt;
      if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->SizeOfRawData) {
        return section->PointerToRawData + (rva - section->VirtualAddress);
      }
    }
    return std::nullopt;
  };

  std::vector<std::string> names;
  const DWORD table = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  const std::optional<size_t> table_offset = file_offset(table);
  if (!table_offset) return names;
  for (size_t entry = *table_offset;; entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    const auto descriptor = ReadAt<IMAGE_IMPORT_DESCRIPTOR>(image, entry);
    if (!descriptor || descriptor->Name == 0) break;
    const std::optional<size_t> name = file_offset(descriptor->Name);
    if (!name) break;
    names.emplace_back(image.c_str() + *name);
  }
  return names;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

TEST(ProgramImports, AreTheEngineThePluginsAndKnownSystemLibrariesOnly) {
  const std::vector<std::string> imported =
      ImportedLibraries(talvor::test::BundleDirectory() / "talvor_app.exe");
  ASSERT_FALSE(imported.empty()) << "no import table read";
  // Libraries the system always takes from its own folder (its known
  // libraries), and the program's own.
  const std::vector<std::string> allowed = {
      "kernel32.dll", "user32.dll",          "gdi32.dll",
      "shell32.dll",  "advapi32.dll",        "ole32.dll",
      "msvcrt.dll",   "flutter_windows.dll", "app_links_plugin.dll",
      "flutter_secure_storage_windows_plugin.dll", "url_launcher_windows_plugin.dll"};
  for (const std::string& name : imported) {
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), Lower(name)), allowed.end()) << name;
  }
  EXPECT_NE(std::find(imported.begin(), imported.end(), "flutter_windows.dll"), imported.end());
}

}  // namespace
