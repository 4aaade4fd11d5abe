// Whether this process runs with administrator rights.
#ifndef TALVOR_RUNNER_ELEVATION_PROCESS_ELEVATION_H_
#define TALVOR_RUNNER_ELEVATION_PROCESS_ELEVATION_H_

// True when the process token says it is elevated; false when it cannot be
// asked.
bool IsProcessElevated();

#endif  // TALVOR_RUNNER_ELEVATION_PROCESS_ELEVATION_H_
