// Removal of the per-user "talvor" URL scheme that the program registers at
// every start, when it belongs to the copy being removed.
#ifndef TALVOR_INSTALLER_ACTIONS_URL_SCHEME_CLEANUP_H_
#define TALVOR_INSTALLER_ACTIONS_URL_SCHEME_CLEANUP_H_

#include <windows.h>

#include <string>

#include "installer/actions/running_program.h"

namespace talvor::installer {

// The program's registration under the user's hive.
inline constexpr wchar_t kUrlSchemeKey[] = L"Software\\Classes\\talvor";

// Deletes `scheme_key` under `root` with everything below it when its open
// command starts a program inside `folder`; a scheme of another copy stays.
// True when it was deleted.
bool RemoveUrlSchemeOf(const std::wstring& folder, HKEY root, const std::wstring& scheme_key, const Log& log);

}  // namespace talvor::installer

#endif  // TALVOR_INSTALLER_ACTIONS_URL_SCHEME_CLEANUP_H_
