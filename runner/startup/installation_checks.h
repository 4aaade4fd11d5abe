// Checks of the installation beside the executable, made at every normal
// start: the core VPN library with its entry points, and the tunnel driver.
#ifndef TALVOR_RUNNER_STARTUP_INSTALLATION_CHECKS_H_
#define TALVOR_RUNNER_STARTUP_INSTALLATION_CHECKS_H_

#include <array>
#include <string>

#include "runner/win32_handles.h"

// The entry points the core library must export, in the order they are
// checked; the first missing one is reported.
inline constexpr std::array<const char*, 10> kRequiredCoreExports = {
    "BridgeInit",     "BridgeInitFromJSON", "BridgeStart",       "BridgeStop",
    "BridgeStatus",   "BridgeFree",         "Talvor_Connect",    "Talvor_Disconnect",
    "Talvor_GetStatus", "Talvor_GetVersion",
};

// Loads the core library from `path` (a full path) and checks its exports;
// the libraries it needs are taken from its own folder and the system folder. On failure the
// user is shown why (the library is released again) and the result is empty;
// the caller then ends the program.
talvor::UniqueModule LoadCoreLibrary(const std::wstring& path);

// Warns the user that only the proxy mode is available when the tunnel driver
// library at `path` is missing or is a directory. Start-up goes on either way.
void WarnIfTunnelDriverMissing(const std::wstring& path);

#endif  // TALVOR_RUNNER_STARTUP_INSTALLATION_CHECKS_H_
