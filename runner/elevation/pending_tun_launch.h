// The hand-over of a pending TUN launch to the elevated instance: the payload
// travels in a temporary file whose path is one command-line argument.
//
// The elevated instance trusts nothing about that file that a process of
// lower rights could change: it opens the file once, checks what it opened
// and reads and deletes through that one handle.
#ifndef TALVOR_RUNNER_ELEVATION_PENDING_TUN_LAUNCH_H_
#define TALVOR_RUNNER_ELEVATION_PENDING_TUN_LAUNCH_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Prefix of the argument that carries the pending-launch file's path.
inline constexpr char kPendingTunLaunchArgumentPrefix[] = "--talvor-pending-tun-launch=";

// Prefix that the system's temporary-file naming gets for the launch file.
inline constexpr wchar_t kPendingTunLaunchFilePrefix[] = L"tlp";

// The largest launch file taken; payloads are small JSON texts, and a larger
// file would hold the window while it is read.
inline constexpr std::uint64_t kMaxPendingTunLaunchBytes = 16u * 1024u * 1024u;

// Removes the first argument that starts with the prefix (case-sensitive) and
// returns the rest of it as a path; empty, with the list unchanged, when no
// argument has the prefix or the list is null. Later matches stay in place.
std::wstring ExtractPendingTunLaunchPath(std::vector<std::string>* arguments);

// Writes `payload` byte for byte to a new file in the user's temporary
// directory and returns its full path. On failure returns empty, removes what
// it created and, when `error_message` is given, sets it (UTF-8).
std::wstring WritePendingTunLaunchFile(const std::string& payload, std::string* error_message);

// Whether `path` may name a launch file: a full path on a drive letter, in
// the form the system itself gives full paths, to a file named like those
// WritePendingTunLaunchFile makes (tlp*.tmp), with no colon after the drive.
// The folder is free: an elevated instance may run as another account or
// with another TEMP than the instance that wrote the file.
bool IsPendingTunLaunchFilePath(const std::wstring& path);

// What an opened launch file turned out to be.
struct OpenedFileFacts {
  DWORD attributes = 0;
  DWORD file_type = FILE_TYPE_UNKNOWN;
  DWORD link_count = 0;
  std::uint64_t size = 0;
  // Where the handle leads, as the system resolves it (links in the folders
  // followed), and where the path given should lead; both in long form.
  std::wstring final_path;
  std::wstring expected_path;
};

// Whether an opened file may be read as a launch file: a regular disk file
// (no directory, no reparse point, no device or pipe) with one name, at most
// kMaxPendingTunLaunchBytes long, reached where its path says.
bool IsAcceptableLaunchFile(const OpenedFileFacts& facts);

// Reads from an open file as ReadFile does, with its failure contract.
using FileReader = std::function<bool(HANDLE file, void* buffer, DWORD size, DWORD* read)>;

// ReadFile itself.
bool ReadFromFile(HANDLE file, void* buffer, DWORD size, DWORD* read);

// The launch handed to this instance: its file's path and whether the user
// interface has asked for it. Consumption is final whatever its outcome.
class PendingTunLaunch {
 public:
  // `reader` reads the checked file (tests make reads fail with it).
  explicit PendingTunLaunch(std::wstring path, FileReader reader = ReadFromFile);
  // A launch never consumed is not left behind: its payload may hold
  // credentials. The file is deleted when it passes the same checks as a
  // consumption.
  ~PendingTunLaunch();
  PendingTunLaunch(const PendingTunLaunch&) = delete;
  PendingTunLaunch& operator=(const PendingTunLaunch&) = delete;

  // True while unconsumed and something exists at an acceptable path.
  bool IsPresent() const;

  // The file's bytes, once. Empty when there is nothing to give: nothing
  // there, a file that fails a check (it is neither read nor deleted), or a
  // read that fails (the file stays). A file read whole is deleted.
  std::string Take();

 private:
  std::wstring path_;
  bool consumed_ = false;
  FileReader reader_;
};

#endif  // TALVOR_RUNNER_ELEVATION_PENDING_TUN_LAUNCH_H_
