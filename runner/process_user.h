// Which user a process runs as.
#ifndef TALVOR_RUNNER_PROCESS_USER_H_
#define TALVOR_RUNNER_PROCESS_USER_H_

#include <windows.h>

#include <string>
#include <vector>

// The user's security identifier in `token`, as bytes; empty when it cannot
// be read.
std::vector<unsigned char> TokenUserSid(HANDLE token);

// This process's user as text ("S-1-5-21-..."); empty when unknown.
std::wstring CurrentUserSidText();

// Whether the process with id `process_id` runs as this process's user. A
// process that cannot be asked does not.
bool ProcessRunsAsThisUser(DWORD process_id);

// The same for the process that owns `window`.
bool WindowRunsAsThisUser(HWND window);

#endif  // TALVOR_RUNNER_PROCESS_USER_H_
