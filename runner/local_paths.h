// Paths that a process with administrator rights may act on without being
// steered elsewhere by a process of lower rights: on a fixed local drive, and
// reached through folders that are not reparse points (junctions, mount
// points, symbolic links), which could lead to another volume, a share or
// the object namespace.
#ifndef TALVOR_RUNNER_LOCAL_PATHS_H_
#define TALVOR_RUNNER_LOCAL_PATHS_H_

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "runner/win32_handles.h"

// "X:\..." with an ASCII drive letter and at least one component after the
// root.
bool IsDriveLetterPath(const std::wstring& path);

// Whether the drive of a "X:\..." path is a fixed local disk: not a network
// share, not removable media. Asks the system about the drive only; nothing
// on the path is opened.
bool IsOnFixedLocalDrive(const std::wstring& path);

// The folders of a "X:\..." path, from its root down to the folder that
// holds its last component, each opened without following a reparse point.
// While held, none of them can be renamed or deleted, so the path cannot be
// redirected behind the caller's back.
class HeldFolders {
 public:
  // Empty when the path is not a drive-letter path, a folder does not open,
  // or one is a reparse point; nothing beyond the first such folder is
  // opened.
  static std::optional<HeldFolders> Open(const std::wstring& path);

 private:
  std::vector<talvor::UniqueFileHandle> folders_;
};

// Whether the file or folder opened as `file` from `path` is a reparse
// point, asked both of the handle and of the path (some systems follow a
// link even when asked not to, and then tell only by the path); true when
// the system cannot tell.
bool IsReparsePoint(HANDLE file, const std::wstring& path);

// Where an open file or folder is, as the system resolves it (every link on
// the way followed), as a "X:\..." path (or a drive's root "X:\") in long
// form; empty when it lies
// elsewhere (a share, a device) or the system cannot tell.
std::wstring FinalPathOf(HANDLE file);

// Whether two paths name the same place, compared as the file system does
// (without regard to letter case).
bool SamePath(const std::wstring& left, const std::wstring& right);

// Whether `path` lies inside `folder` (not the folder itself), compared as
// SamePath does.
bool IsInsideFolder(const std::wstring& path, const std::wstring& folder);

#endif  // TALVOR_RUNNER_LOCAL_PATHS_H_
