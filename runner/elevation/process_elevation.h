// Whether this process runs with administrator rights.
#ifndef TALVOR_RUNNER_ELEVATION_PROCESS_ELEVATION_H_
#define TALVOR_RUNNER_ELEVATION_PROCESS_ELEVATION_H_

#include <windows.h>

// True when the process token says it is elevated; false when it cannot be
// asked.
bool IsProcessElevated();

// True when `token` says it is elevated; false when it cannot be asked (no
// token, or one opened without the right to query it).
bool IsTokenElevated(HANDLE token);

#endif  // TALVOR_RUNNER_ELEVATION_PROCESS_ELEVATION_H_
