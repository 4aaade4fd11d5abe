// What belongs to an installation folder, decided on paths alone.
#ifndef TALVOR_INSTALLER_ACTIONS_FOLDER_RULES_H_
#define TALVOR_INSTALLER_ACTIONS_FOLDER_RULES_H_

#include <string>

namespace talvor::installer {

// Whether `path` names something inside `folder` (at any depth), as Windows
// compares paths: without regard to case, with "." and ".." resolved and
// either separator. Neither path needs to exist; empty paths are in nothing.
bool IsInFolder(const std::wstring& path, const std::wstring& folder);

// The program that a shell "open" command starts: the quoted first part
// (`"C:\A B\x.exe" "%1"` gives C:\A B\x.exe), or the first part up to a blank
// when it is not quoted. Empty when there is none.
std::wstring ExecutableOfOpenCommand(const std::wstring& command);

}  // namespace talvor::installer

#endif  // TALVOR_INSTALLER_ACTIONS_FOLDER_RULES_H_
