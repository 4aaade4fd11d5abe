// The package's custom actions. Both run deferred and impersonating the user
// who installs or removes the program, so that they see that user's windows
// and registry; each is given the installation folder as CustomActionData.
// Neither ever fails the installation: a program that cannot be closed
// leaves its files to the installer's own in-use handling.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

#include "installer/actions/running_program.h"
#include "installer/actions/url_scheme_cleanup.h"
#include "runner/win32_handles.h"

namespace {

using talvor::installer::Log;

struct MsiHandleTraits {
  using Handle = MSIHANDLE;
  static Handle None() noexcept { return 0; }
  static void Release(Handle handle) noexcept { MsiCloseHandle(handle); }
};
using UniqueMsiHandle = talvor::UniqueHandle<MsiHandleTraits>;

std::wstring CustomActionData(MSIHANDLE install) {
  DWORD length = 0;
  wchar_t empty[1] = L"";
  if (MsiGetPropertyW(install, L"CustomActionData", empty, &length) != ERROR_MORE_DATA) return {};
  std::vector<wchar_t> value(length + 1);
  length = static_cast<DWORD>(value.size());
  if (MsiGetPropertyW(install, L"CustomActionData", value.data(), &length) != ERROR_SUCCESS) return {};
  return std::wstring(value.data(), length);
}

// Lines for the installation's log (msiexec /l*v).
Log InstallLog(MSIHANDLE install) {
  return [install](const std::wstring& line) {
    UniqueMsiHandle record(MsiCreateRecord(0));
    if (!record) return;
    const std::wstring text = L"Talvor VPN: " + line;
    MsiRecordSetStringW(record.get(), 0, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record.get());
  };
}

void CloseProgramsOfInstallation(MSIHANDLE install) {
  const std::wstring folder = CustomActionData(install);
  if (!folder.empty()) talvor::installer::CloseProgramsIn(folder, talvor::installer::kCloseGrace, InstallLog(install));
}

void RemoveUrlSchemeOfInstallationFolder(MSIHANDLE install) {
  const std::wstring folder = CustomActionData(install);
  if (folder.empty()) return;
  // The user's own hive, also when only this thread impersonates the user.
  talvor::UniqueRegistryKey user_hive;
  if (RegOpenCurrentUser(KEY_READ | KEY_WRITE | DELETE, user_hive.put()) != ERROR_SUCCESS) return;
  talvor::installer::RemoveUrlSchemeOf(folder, user_hive.get(), talvor::installer::kUrlSchemeKey,
                                       InstallLog(install));
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall CloseRunningProgram(MSIHANDLE install) {
  try {
    CloseProgramsOfInstallation(install);
  } catch (...) {
  }
  return ERROR_SUCCESS;
}

extern "C" __declspec(dllexport) UINT __stdcall RemoveUrlSchemeOfInstallation(MSIHANDLE install) {
  try {
    RemoveUrlSchemeOfInstallationFolder(install);
  } catch (...) {
  }
  return ERROR_SUCCESS;
}
