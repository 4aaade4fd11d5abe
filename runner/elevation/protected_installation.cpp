#include "runner/elevation/protected_installation.h"

#include <shlobj.h>

#include <optional>

#include "runner/local_paths.h"
#include "runner/utils.h"
#include "runner/win32_handles.h"

namespace {

// Released with CoTaskMemFree, as the shell hands it out.
std::wstring KnownFolderPath(REFKNOWNFOLDERID folder) {
  wchar_t* path = nullptr;
  const HRESULT result = SHGetKnownFolderPath(folder, KF_FLAG_DEFAULT, nullptr, &path);
  std::wstring text = SUCCEEDED(result) && path != nullptr ? std::wstring(path) : std::wstring();
  CoTaskMemFree(path);
  return text;
}

talvor::UniqueFileHandle OpenForAttributes(const std::wstring& path) {
  return talvor::UniqueFileHandle(CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

talvor::UniqueFileHandle OpenWithoutFollowing(const std::wstring& path) {
  return talvor::UniqueFileHandle(CreateFileW(
      path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// The folder as the system resolves it, so that it compares with the
// executable's final path; as named when it cannot be opened.
std::wstring FinalFormOfFolder(const std::wstring& folder) {
  const talvor::UniqueFileHandle handle = OpenForAttributes(folder);
  const std::wstring final_path = handle ? FinalPathOf(handle.get()) : std::wstring();
  return final_path.empty() ? folder : final_path;
}

bool FreeOfReparsePoints(const std::wstring& path) {
  const std::optional<HeldFolders> folders = HeldFolders::Open(path);
  if (!folders) return false;
  const talvor::UniqueFileHandle file = OpenWithoutFollowing(path);
  return file && !IsReparsePoint(file.get(), path);
}

}  // namespace

InstallationFacts GatherInstallationFacts() {
  InstallationFacts facts;
  const std::wstring started_as = ModuleFilePath();
  const talvor::UniqueFileHandle image =
      started_as.empty() ? talvor::UniqueFileHandle() : OpenForAttributes(started_as);
  if (image) facts.executable = FinalPathOf(image.get());
  if (facts.executable.empty()) {
    facts.error = GetLastError();
    return facts;
  }
  facts.program_files = FinalFormOfFolder(KnownFolderPath(FOLDERID_ProgramFiles));
  facts.on_fixed_drive = IsOnFixedLocalDrive(facts.executable);
  facts.free_of_reparse_points = FreeOfReparsePoints(facts.executable);
  return facts;
}

bool IsProtectedInstallation(const InstallationFacts& facts) {
  return IsDriveLetterPath(facts.executable) && IsDriveLetterPath(facts.program_files) &&
         IsInsideFolder(facts.executable, facts.program_files) && facts.on_fixed_drive &&
         facts.free_of_reparse_points;
}

std::wstring ProtectedExecutablePath(const InstallationFacts& facts) {
  return IsProtectedInstallation(facts) ? facts.executable : std::wstring();
}
