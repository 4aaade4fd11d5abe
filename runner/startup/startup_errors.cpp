#include "runner/startup/startup_errors.h"

#include <windows.h>

#include <filesystem>

#include "runner/log/log.h"

namespace {

constexpr wchar_t kErrorCaption[] = L"Talvor VPN - Error";
constexpr wchar_t kReinstall[] = L"\n\nPlease reinstall Talvor VPN.";

bool IsFolder(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring MissingPartText(const wchar_t* kind, const wchar_t* part) {
  return std::wstring(L"The ") + kind + L" \"" + part +
         L"\" next to talvor_app.exe is missing, so the application cannot start." + kReinstall;
}

}  // namespace

ApplicationFiles InspectApplicationFiles(const std::wstring& directory) {
  const std::filesystem::path data = std::filesystem::path(directory) / L"data";
  ApplicationFiles files;
  files.data_folder = IsFolder(data);
  files.assets_folder = IsFolder(data / L"flutter_assets");
  files.icu_data = IsFile(data / L"icudtl.dat");
  files.app_library = IsFile(data / L"app.so");
  return files;
}

std::wstring MainWindowFailureText(MainWindowFailure failure, const ApplicationFiles& files) {
  if (failure == MainWindowFailure::kNativeWindow) {
    return std::wstring(L"Windows could not create the main window of Talvor VPN.") + kReinstall;
  }
  if (!files.data_folder) return MissingPartText(L"folder", L"data");
  if (!files.assets_folder) return MissingPartText(L"folder", L"data\\flutter_assets");
  if (!files.icu_data) return MissingPartText(L"file", L"data\\icudtl.dat");
  if (!files.app_library) return MissingPartText(L"file", L"data\\app.so");
  return std::wstring(
             L"The application could not be started: its files in the folder \"data\" or the "
             L"engine library flutter_windows.dll next to talvor_app.exe are damaged.") +
         kReinstall;
}

std::wstring InstallationFolderUnknownText() {
  return std::wstring(L"Talvor VPN could not find the folder it is installed in.") + kReinstall;
}

void ShowStartupError(const std::wstring& text) {
  talvor::log::Box(talvor::log::Level::kError, kErrorCaption, text);
  MessageBoxW(nullptr, text.c_str(), kErrorCaption, MB_ICONERROR);
}
