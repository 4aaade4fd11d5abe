// Named mutexes shared by every instance of this user in the session, at
// either integrity level: the start-up marker and the log's lock.
#ifndef TALVOR_RUNNER_USER_MUTEX_H_
#define TALVOR_RUNNER_USER_MUTEX_H_

#include <windows.h>

#include <string>

#include "runner/win32_handles.h"

struct UserMutex {
  talvor::UniqueKernelHandle handle;
  // As CreateMutexExW leaves it: ERROR_ALREADY_EXISTS when an existing one
  // was opened (and so not owned), the reason when none could be had.
  DWORD error = ERROR_SUCCESS;
};

// Creates or opens the mutex `name`, owned from the start when asked for and
// new. Only this user may open it, and at medium integrity too, so that an
// elevated instance's mutex stays usable by the user's unelevated ones. A
// system that refuses the label still gets a mutex without it.
UserMutex CreateUserMutex(const std::wstring& name, bool initially_owned);

#endif  // TALVOR_RUNNER_USER_MUTEX_H_
