// The bundle holds every stand-in, each exporting what the program imports,
// and the application's data folder; the program imports the libraries it
// cannot start without.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/support/bundle_copy.h"
#include "tests/support/system_state.h"

namespace talvor::test {
namespace {

namespace fs = std::filesystem;

fs::path Bundle() { return BundleDirectory(); }

const std::vector<std::string> kCoreExports = {
    "BridgeInit",     "BridgeInitFromJSON", "BridgeStart",       "BridgeStop",       "BridgeStatus",
    "BridgeFree",     "Talvor_Connect",     "Talvor_Disconnect", "Talvor_GetStatus", "Talvor_GetVersion"};

// Loads a DLL as the program would find it, its own imports resolved from
// its folder.
UniqueModule Load(const fs::path& path) {
  return UniqueModule(LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

std::vector<std::string> Missing(HMODULE module, const std::vector<std::string>& names) {
  std::vector<std::string> missing;
  for (const std::string& name : names) {
    if (GetProcAddress(module, name.c_str()) == nullptr) missing.push_back(name);
  }
  return missing;
}

// The names of the libraries that an x64 executable imports, read from its
// import directory; empty when the file is no such executable.
std::vector<std::string> ImportedLibraries(const fs::path& executable) {
  const std::optional<std::string> bytes = ReadFileBytes(executable);
  if (!bytes || bytes->size() < sizeof(IMAGE_DOS_HEADER)) return {};
  const auto at = [&](size_t offset, size_t size) -> const char* {
    return offset <= bytes->size() && size <= bytes->size() - offset ? bytes->data() + offset : nullptr;
  };
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes->data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(at(dos->e_lfanew, sizeof(IMAGE_NT_HEADERS64)));
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || nt == nullptr || nt->Signature != IMAGE_NT_SIGNATURE ||
      nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    return {};
  }
  const auto* sections = reinterpret_cast<const IMAGE_SECTION_HEADER*>(
      at(dos->e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) + nt->FileHeader.SizeOfOptionalHeader,
         sizeof(IMAGE_SECTION_HEADER) * nt->FileHeader.NumberOfSections));
  if (sections == nullptr) return {};
  // Where an address of the loaded image lies in the file.
  const auto file_offset = [&](DWORD address) -> std::optional<size_t> {
    for (WORD index = 0; index < nt->FileHeader.NumberOfSections; ++index) {
      const IMAGE_SECTION_HEADER& section = sections[index];
      if (address >= section.VirtualAddress && address < section.VirtualAddress + section.SizeOfRawData) {
        return section.PointerToRawData + (address - section.VirtualAddress);
      }
    }
    return std::nullopt;
  };
  std::vector<std::string> names;
  const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  std::optional<size_t> entry = file_offset(imports.VirtualAddress);
  for (; entry; *entry += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    const auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(*entry, sizeof(IMAGE_IMPORT_DESCRIPTOR)));
    if (descriptor == nullptr || descriptor->Name == 0) break;
    const std::optional<size_t> name = file_offset(descriptor->Name);
    if (!name || at(*name, 1) == nullptr) break;
    const char* begin = bytes->data() + *name;
    std::string library(begin, std::find(begin, bytes->data() + bytes->size(), '\0'));
    std::transform(library.begin(), library.end(), library.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    names.push_back(library);
  }
  return names;
}

// So the system's loader refuses to start the program without any of them.
TEST(Bundle, TheProgramImportsTheEngineAndEveryPluginLibraryButNotTheCoreOrDriver) {
  const std::vector<std::string> imported = ImportedLibraries(Bundle() / "talvor_app.exe");
  ASSERT_FALSE(imported.empty()) << "no import directory read";
  EXPECT_THAT(imported, testing::IsSupersetOf({"flutter_windows.dll", "app_links_plugin.dll",
                                               "flutter_secure_storage_windows_plugin.dll",
                                               "url_launcher_windows_plugin.dll"}));
  EXPECT_THAT(imported, testing::Not(testing::Contains("talvor.dll")));
  EXPECT_THAT(imported, testing::Not(testing::Contains("wintun.dll")));
}

TEST(Bundle, EveryStandInExportsWhatTheProgramImports) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> libraries = {
      {"flutter_windows.dll",
       {"FlutterDesktopEngineCreate", "FlutterDesktopEngineDestroy", "FlutterDesktopEngineGetMessenger",
        "FlutterDesktopEngineGetPluginRegistrar", "FlutterDesktopEngineReloadSystemFonts",
        "FlutterDesktopEngineSetNextFrameCallback", "FlutterDesktopViewControllerCreate",
        "FlutterDesktopViewControllerDestroy", "FlutterDesktopViewControllerGetView",
        "FlutterDesktopViewControllerForceRedraw", "FlutterDesktopViewControllerHandleTopLevelWindowProc",
        "FlutterDesktopViewGetHWND", "FlutterDesktopMessengerSend", "FlutterDesktopMessengerSendWithReply",
        "FlutterDesktopMessengerSetCallback", "FlutterDesktopMessengerSendResponse",
        "FlutterDesktopMessengerAddRef", "FlutterDesktopMessengerRelease", "FlutterDesktopMessengerLock",
        "FlutterDesktopMessengerUnlock", "FlutterDesktopMessengerIsAvailable", "FlutterDesktopGetDpiForMonitor",
        "FlutterDesktopResyncOutputStreams"}},
      {"app_links_plugin.dll", {"AppLinksPluginCApiRegisterWithRegistrar", "SendAppLink"}},
      {"flutter_secure_storage_windows_plugin.dll", {"FlutterSecureStorageWindowsPluginRegisterWithRegistrar"}},
      {"url_launcher_windows_plugin.dll", {"UrlLauncherWindowsRegisterWithRegistrar"}},
      {"talvor.dll", kCoreExports},
      {"wintun.dll", {}},
  };
  for (const auto& [file, exports] : libraries) {
    SCOPED_TRACE(file);
    UniqueModule module = Load(Bundle() / file);
    ASSERT_TRUE(module) << "error " << GetLastError();
    EXPECT_EQ(Missing(module.get(), exports), std::vector<std::string>());
  }
}

TEST(Bundle, CoreVariantsLackExactlyTheirExports) {
  UniqueModule without_stop_and_version = Load(CoreVariant("lacking_bridge_stop_and_version"));
  ASSERT_TRUE(without_stop_and_version);
  EXPECT_EQ(Missing(without_stop_and_version.get(), kCoreExports),
            (std::vector<std::string>{"BridgeStop", "Talvor_GetVersion"}));
  UniqueModule without_version = Load(CoreVariant("lacking_version"));
  ASSERT_TRUE(without_version);
  EXPECT_EQ(Missing(without_version.get(), kCoreExports), std::vector<std::string>{"Talvor_GetVersion"});
}

TEST(Bundle, HoldsTheApplicationsDataFolder) {
  const fs::path data = Bundle() / "data";
  ASSERT_TRUE(fs::is_directory(data / "flutter_assets"));
  EXPECT_FALSE(fs::is_empty(data / "flutter_assets"));
  EXPECT_TRUE(fs::is_regular_file(data / "icudtl.dat"));
  EXPECT_TRUE(fs::is_regular_file(data / "app.so"));
}

TEST(Bundle, CopiesCanBeChangedAndGoAway) {
  fs::path copied;
  {
    std::optional<BundleCopy> copy = BundleCopy::Make(Bundle());
    ASSERT_TRUE(copy);
    copied = copy->path();
    EXPECT_TRUE(fs::is_regular_file(*copy / "flutter_windows.dll"));
    EXPECT_TRUE(fs::is_directory(*copy / "data" / "flutter_assets"));
    fs::remove(*copy / "talvor.dll");
    EXPECT_TRUE(fs::is_regular_file(Bundle() / "talvor.dll"));
  }
  EXPECT_FALSE(fs::exists(copied));
}

TEST(Bundle, CoreStandInAnswersHarmlessly) {
  UniqueModule core = Load(Bundle() / "talvor.dll");
  ASSERT_TRUE(core);
  using Text = char* (*)();
  using Free = void (*)(char*);
  using Connect = int (*)(const char*);
  const auto version = reinterpret_cast<Text>(reinterpret_cast<void*>(GetProcAddress(core.get(), "Talvor_GetVersion")));
  const auto status = reinterpret_cast<Text>(reinterpret_cast<void*>(GetProcAddress(core.get(), "Talvor_GetStatus")));
  const auto release = reinterpret_cast<Free>(reinterpret_cast<void*>(GetProcAddress(core.get(), "BridgeFree")));
  const auto connect = reinterpret_cast<Connect>(reinterpret_cast<void*>(GetProcAddress(core.get(), "Talvor_Connect")));
  ASSERT_TRUE(version && status && release && connect);
  char* text = status();
  ASSERT_NE(text, nullptr);
  EXPECT_NE(std::string(text).find("disconnected"), std::string::npos);
  release(text);
  text = version();
  EXPECT_FALSE(std::string(text).empty());
  release(text);
  EXPECT_NE(connect("{}"), 0) << "a stand-in never pretends to connect";
}

}  // namespace
}  // namespace talvor::test
