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

// Launch files are named "tlp<hex>.tmp".
inline constexpr wchar_t kPendingTunLaunchFilePrefix[] = L"tlp";

// The largest launch file taken; payloads are small JSON texts, and a larger
// file would hold the window while it is read.
inline constexpr std::uint64_t kMaxPendingTunLaunchBytes = 16u * 1024u * 1024u;

// Takes the pending-launch argument out of the start-up arguments: every
// argument that starts with the prefix (case-sensitive) is removed, and the
// rest of it is returned as a path only when it was the one argument of an
// elevated process. Anywhere else it was smuggled in (a link that breaks out
// of its quotes, say) and is ignored. Empty, with the list unchanged, when no
// argument has the prefix or the list is null.
std::wstring ExtractPendingTunLaunchPath(std::vector<std::string>* arguments, bool process_elevated);

// Makes a new file for writing as CreateFileW does with CREATE_NEW, with its
// failure contract (INVALID_HANDLE_VALUE and the last error).
using NewFileCreator = std::function<HANDLE(const std::wstring& path, SECURITY_ATTRIBUTES* security)>;

// CreateFileW itself.
HANDLE CreateNewFileForWriting(const std::wstring& path, SECURITY_ATTRIBUTES* security);

// Writes `payload` byte for byte to a new file "tlp<hex>.tmp" in the user's
// temporary directory and returns its full path. The file is made with its
// own permissions, never the folder's: full access for the writing user,
// SYSTEM and the Administrators (the elevated instance may run as another
// administrator), nothing inherited, and a medium integrity label that
// forbids writing and reading from below. So no other process of the user
// can change it while it waits, nor one of low integrity read it. On failure returns empty, removes what it created and,
// when `error_message` is given, sets it (UTF-8). `create` makes the file
// (tests see the permissions it is given).
std::wstring WritePendingTunLaunchFile(const std::string& payload, std::string* error_message,
                                       const NewFileCreator& create = CreateNewFileForWriting);

// Whether `path` may name a launch file: a full path on a drive letter, in
// the form the system itself gives full paths, to a file named like those
// WritePendingTunLaunchFile makes (tlp*.tmp), with no colon after the drive.
// The folder is free: an elevated instance may run as another account or
// with another TEMP than the instance that wrote the file. Touches nothing
// on the path.
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
  // The file's owner is this process's user or the user signed in to this
  // session (who may have typed an administrator's password).
  bool owned_by_a_user_of_this_session = false;
};

// Whether an opened file may be read as a launch file: a regular disk file
// (no directory, no reparse point, no device or pipe) with one name, at most
// kMaxPendingTunLaunchBytes long, reached where its path says under a launch
// file's name (a short name cannot lead to another file), owned by a user of
// this session.
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

  // True while unconsumed and something exists at an acceptable path on a
  // fixed local drive whose folders are no reparse points; nothing is looked
  // for at a path that fails those checks.
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
