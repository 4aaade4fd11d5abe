// Whether the program is installed where standard users cannot change it.
// Only such a copy may be started with administrator rights: an elevated
// copy loads the engine, the plugins, the core library and the application
// from its own folder, before any code of ours could check them.
//
// The rule is the location: the machine's 64-bit Program Files folder, on a
// fixed local drive, reached without reparse points. Its known limit: a
// folder under Program Files that another product left writable to users
// passes too.
#ifndef TALVOR_RUNNER_ELEVATION_PROTECTED_INSTALLATION_H_
#define TALVOR_RUNNER_ELEVATION_PROTECTED_INSTALLATION_H_

#include <windows.h>

#include <functional>
#include <string>

// What the system says about where the running executable lies.
struct InstallationFacts {
  // The executable's final path (every link and substituted drive resolved),
  // "X:\..."; empty when the system cannot tell.
  std::wstring executable;
  // Why the executable's path could not be had, when it could not.
  DWORD error = ERROR_SUCCESS;
  // The machine's 64-bit Program Files folder as the system names it.
  std::wstring program_files;
  // Whether the executable's drive is a fixed local disk.
  bool on_fixed_drive = false;
  // Whether every folder from the drive's root to the executable, and the
  // executable itself, opened without following reparse points and none was
  // one.
  bool free_of_reparse_points = false;
};

// The facts of this process's executable, gathered through a handle on the
// file: the string the process was started with does not count.
InstallationFacts GatherInstallationFacts();

// Whether the facts place the executable inside Program Files, on a fixed
// drive, without reparse points.
bool IsProtectedInstallation(const InstallationFacts& facts);

// The executable's checked final path when it is installed in a protected
// place; empty otherwise.
std::wstring ProtectedExecutablePath(const InstallationFacts& facts = GatherInstallationFacts());

#endif  // TALVOR_RUNNER_ELEVATION_PROTECTED_INSTALLATION_H_
