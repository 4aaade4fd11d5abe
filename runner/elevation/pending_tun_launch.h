// The hand-over of a pending TUN launch to the elevated instance: the payload
// travels in a temporary file whose path is one command-line argument.
//
// The main window keeps the path and a consumed flag; the functions below
// work on those two fields.
#ifndef TALVOR_RUNNER_ELEVATION_PENDING_TUN_LAUNCH_H_
#define TALVOR_RUNNER_ELEVATION_PENDING_TUN_LAUNCH_H_

#include <string>
#include <vector>

// Prefix of the argument that carries the pending-launch file's path.
inline constexpr char kPendingTunLaunchArgumentPrefix[] = "--talvor-pending-tun-launch=";

// Prefix that the system's temporary-file naming gets for the launch file.
inline constexpr wchar_t kPendingTunLaunchFilePrefix[] = L"tlp";

// Removes the first argument that starts with the prefix (case-sensitive) and
// returns the rest of it as a path; empty, with the list unchanged, when no
// argument has the prefix or the list is null. Later matches stay in place.
std::wstring ExtractPendingTunLaunchPath(std::vector<std::string>* arguments);

// Writes `payload` byte for byte to a new file in the user's temporary
// directory and returns its full path. On failure returns empty, removes what
// it created and, when `error_message` is given, sets it (UTF-8).
std::wstring WritePendingTunLaunchFile(const std::string& payload, std::string* error_message);

// Whether `path` may name a pending-launch file: directly inside the user's
// temporary directory, named like the files WritePendingTunLaunchFile makes.
// The path arrives on the command line, which links can extend, so any other
// file is never read or deleted.
bool IsPendingTunLaunchFilePath(const std::wstring& path);

// True while an unconsumed, acceptable launch file exists at `path`.
bool IsPendingTunLaunchPresent(const std::wstring& path, bool consumed);

// Gives the launch file's bytes once: marks the launch consumed and clears
// the path whatever happens, deletes the file after reading it, and returns
// empty when there is nothing to give (a file that cannot be read stays).
std::string TakePendingTunLaunchPayload(std::wstring* path, bool* consumed);

#endif  // TALVOR_RUNNER_ELEVATION_PENDING_TUN_LAUNCH_H_
