#include "runner/local_paths.h"

#include <utility>

namespace {

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Calls `query(buffer, capacity)` with a growing buffer until the answer
// fits; empty when the query fails. `query` answers as GetFinalPathNameByHandleW
// does: the length written, or the size needed when the buffer is too small.
template <typename Query>
std::wstring QueryPath(Query query) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.assign(length + 1, L'\0');
  }
  return std::wstring();
}

// Opened for its attributes only, without following a reparse point, and
// shared with everything but deletion, which a rename needs too.
talvor::UniqueFileHandle OpenFolderHeld(const std::wstring& folder) {
  return talvor::UniqueFileHandle(CreateFileW(
      folder.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool HandleSaysReparsePoint(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(file, &information)) return true;
  return (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

bool IsDriveLetterPath(const std::wstring& path) {
  return path.size() > 3 && IsAsciiLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
}

bool IsOnFixedLocalDrive(const std::wstring& path) {
  if (!IsDriveLetterPath(path)) return false;
  const std::wstring root = path.substr(0, 3);
  return GetDriveTypeW(root.c_str()) == DRIVE_FIXED;
}

std::optional<HeldFolders> HeldFolders::Open(const std::wstring& path) {
  if (!IsDriveLetterPath(path)) return std::nullopt;
  HeldFolders held;
  size_t end = 2;  // the separator after the drive letter: "X:\" is the first folder
  while (end != std::wstring::npos && end + 1 < path.size()) {
    // "X:\" for the root; no separator after any other folder, which would
    // have the system look through a link instead of at it.
    const bool root = end == 2;
    const std::wstring folder = path.substr(0, root ? 3 : end);
    talvor::UniqueFileHandle handle = OpenFolderHeld(folder);
    // A volume's root is never a reparse point, though a drive letter that
    // names it may be a link to it (Wine's drives are).
    if (!handle || (root ? HandleSaysReparsePoint(handle.get()) : IsReparsePoint(handle.get(), folder))) {
      return std::nullopt;
    }
    held.folders_.push_back(std::move(handle));
    end = path.find(L'\\', end + 1);
  }
  return held;
}

bool IsReparsePoint(HANDLE file, const std::wstring& path) {
  if (HandleSaysReparsePoint(file)) return true;
  const DWORD by_path = GetFileAttributesW(path.c_str());
  return by_path == INVALID_FILE_ATTRIBUTES || (by_path & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::wstring FinalPathOf(HANDLE file) {
  const std::wstring final_path = QueryPath([file](wchar_t* buffer, DWORD capacity) {
    return GetFinalPathNameByHandleW(file, buffer, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
  const std::wstring extended_prefix = L"\\\\?\\";
  if (final_path.compare(0, extended_prefix.size(), extended_prefix) != 0) return std::wstring();
  const std::wstring path = final_path.substr(extended_prefix.size());
  const bool drive_root = path.size() == 3 && IsAsciiLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
  return drive_root || IsDriveLetterPath(path) ? path : std::wstring();
}

bool SamePath(const std::wstring& left, const std::wstring& right) {
  return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                              static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

bool IsInsideFolder(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty()) return false;
  std::wstring prefix = folder;
  if (prefix.back() != L'\\') prefix += L'\\';
  return path.size() > prefix.size() && SamePath(path.substr(0, prefix.size()), prefix);
}
