// A console for diagnostics when the program runs under a debugger.
#ifndef TALVOR_RUNNER_STARTUP_DEBUG_CONSOLE_H_
#define TALVOR_RUNNER_STARTUP_DEBUG_CONSOLE_H_

// Opens a console and points the standard streams (and the engine library's)
// at it. Without a console nothing changes.
void OpenDebugConsole();

#endif  // TALVOR_RUNNER_STARTUP_DEBUG_CONSOLE_H_
