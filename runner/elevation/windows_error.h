// Texts of Win32 error codes for messages shown to the user interface.
#ifndef TALVOR_RUNNER_ELEVATION_WINDOWS_ERROR_H_
#define TALVOR_RUNNER_ELEVATION_WINDOWS_ERROR_H_

#include <cstdint>
#include <string>

// The system's text for `code` without trailing line ends and blanks, or
// "Windows error " and the decimal code when the system has none.
std::wstring FormatWindowsError(std::uint32_t code);

#endif  // TALVOR_RUNNER_ELEVATION_WINDOWS_ERROR_H_
