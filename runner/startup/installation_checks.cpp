#include "runner/startup/installation_checks.h"

#include <windows.h>

#include "runner/log/log.h"

namespace {

constexpr wchar_t kErrorCaptionWide[] = L"Talvor VPN - Error";
constexpr char kErrorCaptionNarrow[] = "Talvor VPN - Error";
constexpr wchar_t kWarningCaption[] = L"Talvor VPN - Warning";

constexpr wchar_t kCoreLoadFailedText[] =
    L"Unable to load talvor.dll.\n"
    L"Make sure the file is placed next to talvor_app.exe.\n"
    L"\n"
    L"Build step: make lib-windows";
constexpr char kMissingExportPrefix[] = "talvor.dll is loaded but a required export is missing: ";
constexpr wchar_t kTunnelDriverMissingText[] =
    L"wintun.dll was not found next to talvor_app.exe.\n"
    L"\n"
    L"TUN mode is unavailable. The app will continue in SOCKS5/HTTP proxy mode.\n"
    L"For TUN support, place wintun.dll beside the executable.";

}  // namespace

talvor::UniqueModule LoadCoreLibrary(const std::wstring& path) {
  // The library's own dependencies come from its folder and the system
  // folder only, never from the working directory or PATH.
  talvor::UniqueModule library(LoadLibraryExW(
      path.c_str(), nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
  if (!library) {
    talvor::log::Error("install", "talvor.dll not loaded: " + talvor::log::DescribeError(GetLastError()));
    talvor::log::Box(talvor::log::Level::kError, kErrorCaptionWide, kCoreLoadFailedText);
    MessageBoxW(nullptr, kCoreLoadFailedText, kErrorCaptionWide, MB_ICONERROR);
    return talvor::UniqueModule();
  }
  for (const char* name : kRequiredCoreExports) {
    if (GetProcAddress(library.get(), name) == nullptr) {
      const std::string text = std::string(kMissingExportPrefix) + name;
      talvor::log::Error("install", std::string("talvor.dll lacks ") + name);
      talvor::log::Box(talvor::log::Level::kError, kErrorCaptionNarrow, text);
      MessageBoxA(nullptr, text.c_str(), kErrorCaptionNarrow, MB_ICONERROR);
      return talvor::UniqueModule();
    }
  }
  talvor::log::Info("install", "talvor.dll loaded with its entry points");
  return library;
}

void WarnIfTunnelDriverMissing(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  const bool missing =
      attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  talvor::log::Write(missing ? talvor::log::Level::kWarning : talvor::log::Level::kInfo, "install",
                     missing ? "wintun.dll missing" : "wintun.dll present");
  if (missing) {
    talvor::log::Box(talvor::log::Level::kWarning, kWarningCaption, kTunnelDriverMissingText);
    MessageBoxW(nullptr, kTunnelDriverMissingText, kWarningCaption, MB_ICONWARNING);
  }
}
