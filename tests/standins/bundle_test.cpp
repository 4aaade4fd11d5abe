// The bundle holds every stand-in, each exporting what the program imports,
// and the application's data folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "runner/win32_handles.h"
#include "tests/support/bundle_copy.h"

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
