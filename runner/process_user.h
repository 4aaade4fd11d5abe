// Which user a process runs as.
#ifndef TALVOR_RUNNER_PROCESS_USER_H_
#define TALVOR_RUNNER_PROCESS_USER_H_

#include <windows.h>

#include <string>
#include <vector>

// The user's security identifier in `token`, as bytes; empty when it cannot
// be read.
std::vector<unsigned char> TokenUserSid(HANDLE token);

// This process's user's security identifier, as bytes; empty when unknown.
std::vector<unsigned char> CurrentUserSid();

// This process's user as text ("S-1-5-21-..."); empty when unknown.
std::wstring CurrentUserSidText();

// The user signed in to this process's session (who may differ from this
// process's user when an administrator's password was typed for it); empty
// when unknown.
std::vector<unsigned char> SessionUserSid();

// What a process's token says about whom it runs for and how far it is
// trusted.
struct TokenFacts {
  std::vector<unsigned char> user;  // the user's security identifier; empty when unknown
  DWORD integrity_level = 0;        // the label's level (SECURITY_MANDATORY_*_RID); 0 when unknown
  bool in_app_container = true;     // also when the token cannot tell
};

TokenFacts ReadTokenFacts(HANDLE token);

// Whether a process whose token says `theirs` counts as an instance of ours
// for a process whose token says `ours`: it runs as the same user, at an
// integrity level at least ours, outside any AppContainer. Only such a
// process is handed links and the foreground: a sandboxed or low-integrity
// process of the same user is not.
bool CountsAsOurs(const TokenFacts& ours, const TokenFacts& theirs);

// The same for the process with id `process_id` against this process. A
// process that cannot be asked does not count.
bool ProcessCountsAsOurs(DWORD process_id);

// The same for the process that owns `window`.
bool WindowCountsAsOurs(HWND window);

#endif  // TALVOR_RUNNER_PROCESS_USER_H_
