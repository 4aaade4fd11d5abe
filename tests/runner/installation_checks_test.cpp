#include "runner/startup/installation_checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "runner/utils.h"
#include "tests/support/message_box.h"
#include "tests/support/scoped_search_places.h"
#include "tests/support/system_state.h"

namespace {

using talvor::test::BuildPath;
using talvor::test::RunAnsweringMessageBox;
using talvor::test::ScopedSearchPlaces;
using talvor::test::ScratchDirectory;

HICON SystemIcon(const wchar_t* name) { return LoadIconW(nullptr, name); }

TEST(LoadCoreLibrary, KeepsACompleteLibraryLoadedWithoutAWord) {
  talvor::UniqueModule library;
  const auto box = RunAnsweringMessageBox(
      [&] { library = LoadCoreLibrary(BuildPath(TALVOR_CORE_COMPLETE)); });
  EXPECT_FALSE(box.has_value()) << "unexpected box: " << NarrowUtf8(box->text);
  EXPECT_TRUE(library);
}

TEST(LoadCoreLibrary, ExplainsALibraryThatDoesNotLoad) {
  ScratchDirectory scratch(L"core");
  talvor::UniqueModule library;
  const auto box =
      RunAnsweringMessageBox([&] { library = LoadCoreLibrary(scratch.File(L"talvor.dll")); });
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->caption, L"Talvor VPN - Error");
  EXPECT_EQ(box->text,
            L"Unable to load talvor.dll.\nMake sure the file is placed next to talvor_app.exe.\n\n"
            L"Build step: make lib-windows");
  EXPECT_EQ(box->icon, SystemIcon(IDI_ERROR));
  EXPECT_FALSE(library);
}

// What a broken installation can hold in the library's place.
class DamagedCoreLibrary : public testing::TestWithParam<const char*> {};

TEST_P(DamagedCoreLibrary, IsExplainedLikeAMissingOne) {
  ScratchDirectory scratch(L"core");
  const std::wstring core = scratch.File(L"talvor.dll");
  const std::string kind = GetParam();
  if (kind == "directory") {
    ASSERT_TRUE(std::filesystem::create_directory(std::filesystem::path(core)));
  } else {
    ASSERT_TRUE(talvor::test::WriteFileBytes(core, kind == "text" ? "this is no library\r\n" : ""));
  }
  talvor::UniqueModule library;
  const auto box = RunAnsweringMessageBox([&] { library = LoadCoreLibrary(core); });
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->caption, L"Talvor VPN - Error");
  EXPECT_EQ(box->text,
            L"Unable to load talvor.dll.\nMake sure the file is placed next to talvor_app.exe.\n\n"
            L"Build step: make lib-windows");
  EXPECT_FALSE(library);
}

INSTANTIATE_TEST_SUITE_P(Kinds, DamagedCoreLibrary, testing::Values("directory", "text", "empty"),
                         [](const testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST(LoadCoreLibrary, NamesTheFirstMissingExportAndReleasesTheLibrary) {
  const std::wstring path = BuildPath(TALVOR_CORE_PARTIAL);
  talvor::UniqueModule library;
  const auto box = RunAnsweringMessageBox([&] { library = LoadCoreLibrary(path); });
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->caption, L"Talvor VPN - Error");
  EXPECT_EQ(box->text, L"talvor.dll is loaded but a required export is missing: BridgeStop");
  EXPECT_EQ(box->icon, SystemIcon(IDI_ERROR));
  EXPECT_FALSE(library);
  EXPECT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "the library stayed loaded";
}

// A core library that needs a library of its own (core_neighbour.dll).
class CoreDependencies : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(GetModuleHandleW(L"core_neighbour.dll"), nullptr) << "left loaded by another test";
    std::filesystem::copy_file(BuildPath(TALVOR_CORE_NEEDING_NEIGHBOUR), core_);
  }

  void PlaceNeighbourIn(const ScratchDirectory& folder) {
    std::filesystem::copy_file(BuildPath(TALVOR_CORE_NEIGHBOUR), folder.File(L"core_neighbour.dll"));
  }

  ScratchDirectory core_folder_{L"core folder"};
  ScratchDirectory elsewhere_{L"elsewhere"};
  std::wstring core_ = core_folder_.File(L"talvor.dll");
};

TEST_F(CoreDependencies, AreTakenFromTheCoresOwnFolder) {
  PlaceNeighbourIn(core_folder_);
  talvor::UniqueModule library;
  const auto box = RunAnsweringMessageBox([&] { library = LoadCoreLibrary(core_); });
  EXPECT_FALSE(box.has_value()) << "unexpected box: " << NarrowUtf8(box->text);
  EXPECT_TRUE(library);
}

// A program that may run elevated takes nothing from places that anybody
// may have chosen.
TEST_F(CoreDependencies, AreNeverTakenFromTheWorkingDirectoryOrPath) {
  PlaceNeighbourIn(elsewhere_);
  const ScopedSearchPlaces places(elsewhere_.path());
  talvor::UniqueModule library;
  const auto box = RunAnsweringMessageBox([&] { library = LoadCoreLibrary(core_); });
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text,
            L"Unable to load talvor.dll.\nMake sure the file is placed next to talvor_app.exe.\n\n"
            L"Build step: make lib-windows");
  EXPECT_FALSE(library);
}

class TunnelDriverCheck : public testing::Test {
 protected:
  ScratchDirectory scratch_{L"wintun"};
  std::wstring driver_ = scratch_.File(L"wintun.dll");
};

constexpr wchar_t kDriverWarning[] =
    L"wintun.dll was not found next to talvor_app.exe.\n\n"
    L"TUN mode is unavailable. The app will continue in SOCKS5/HTTP proxy mode.\n"
    L"For TUN support, place wintun.dll beside the executable.";

TEST_F(TunnelDriverCheck, WarnsWhenTheDriverIsMissing) {
  const auto box = RunAnsweringMessageBox([&] { WarnIfTunnelDriverMissing(driver_); });
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->caption, L"Talvor VPN - Warning");
  EXPECT_EQ(box->text, kDriverWarning);
  EXPECT_EQ(box->icon, SystemIcon(IDI_WARNING));
}

TEST_F(TunnelDriverCheck, WarnsWhenTheDriverIsADirectory) {
  std::filesystem::create_directory(std::filesystem::path(driver_));
  const auto box = RunAnsweringMessageBox([&] { WarnIfTunnelDriverMissing(driver_); });
  ASSERT_TRUE(box.has_value());
  EXPECT_EQ(box->text, kDriverWarning);
}

TEST_F(TunnelDriverCheck, IsQuietWhenTheDriverIsThere) {
  ASSERT_TRUE(std::ofstream(std::filesystem::path(driver_)).good());
  const auto box = RunAnsweringMessageBox([&] { WarnIfTunnelDriverMissing(driver_); });
  EXPECT_FALSE(box.has_value());
}

}  // namespace
