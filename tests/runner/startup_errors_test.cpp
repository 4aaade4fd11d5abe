#include "runner/startup/startup_errors.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/support/system_state.h"

namespace {

using talvor::test::ScratchDirectory;

ApplicationFiles Files(bool data, bool assets, bool icu, bool app) {
  ApplicationFiles files;
  files.data_folder = data;
  files.assets_folder = assets;
  files.icu_data = icu;
  files.app_library = app;
  return files;
}

TEST(MainWindowFailureText, NamesTheFirstMissingPartOfTheApplicationFiles) {
  const auto engine_failure = [](const ApplicationFiles& files) {
    return MainWindowFailureText(MainWindowFailure::kEngine, files);
  };
  EXPECT_EQ(engine_failure(Files(false, false, false, false)),
            L"The folder \"data\" next to talvor_app.exe is missing, so the application cannot "
            L"start.\n\nPlease reinstall Talvor VPN.");
  EXPECT_EQ(engine_failure(Files(true, false, false, true)),
            L"The folder \"data\\flutter_assets\" next to talvor_app.exe is missing, so the "
            L"application cannot start.\n\nPlease reinstall Talvor VPN.");
  EXPECT_EQ(engine_failure(Files(true, true, false, false)),
            L"The file \"data\\icudtl.dat\" next to talvor_app.exe is missing, so the application "
            L"cannot start.\n\nPlease reinstall Talvor VPN.");
  EXPECT_EQ(engine_failure(Files(true, true, true, false)),
            L"The file \"data\\app.so\" next to talvor_app.exe is missing, so the application "
            L"cannot start.\n\nPlease reinstall Talvor VPN.");
}

TEST(MainWindowFailureText, BlamesDamagedFilesWhenNothingIsMissing) {
  EXPECT_EQ(MainWindowFailureText(MainWindowFailure::kEngine, Files(true, true, true, true)),
            L"The application could not be started: its files in the folder \"data\" or the "
            L"engine library flutter_windows.dll next to talvor_app.exe are damaged.\n\n"
            L"Please reinstall Talvor VPN.");
  EXPECT_EQ(MainWindowFailureText(MainWindowFailure::kNativeWindow, Files(false, false, false, false)),
            L"Windows could not create the main window of Talvor VPN.\n\n"
            L"Please reinstall Talvor VPN.");
}

void WriteText(const std::wstring& path, const char* text) {
  std::ofstream(std::filesystem::path(path), std::ios::binary) << text;
}

bool SameFiles(const ApplicationFiles& actual, const ApplicationFiles& expected) {
  return actual.data_folder == expected.data_folder &&
         actual.assets_folder == expected.assets_folder && actual.icu_data == expected.icu_data &&
         actual.app_library == expected.app_library;
}

TEST(InspectApplicationFiles, FindsEachPartBesideTheExecutable) {
  const ScratchDirectory installation(L"app-files");
  const std::wstring data = installation.File(L"data");
  EXPECT_TRUE(SameFiles(InspectApplicationFiles(installation.path()), Files(false, false, false, false)));

  ASSERT_TRUE(CreateDirectoryW(data.c_str(), nullptr));
  // Parts of the wrong kind count as missing.
  ASSERT_TRUE(CreateDirectoryW((data + L"\\app.so").c_str(), nullptr));
  WriteText(data + L"\\flutter_assets", "not a folder");
  EXPECT_TRUE(SameFiles(InspectApplicationFiles(installation.path()), Files(true, false, false, false)));

  ASSERT_TRUE(RemoveDirectoryW((data + L"\\app.so").c_str()));
  ASSERT_TRUE(DeleteFileW((data + L"\\flutter_assets").c_str()));
  ASSERT_TRUE(CreateDirectoryW((data + L"\\flutter_assets").c_str(), nullptr));
  WriteText(data + L"\\icudtl.dat", "icu");
  WriteText(data + L"\\app.so", "app");
  EXPECT_TRUE(SameFiles(InspectApplicationFiles(installation.path()), Files(true, true, true, true)));
}

}  // namespace
