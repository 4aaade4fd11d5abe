// Texts of Win32 error codes for messages shown to the user interface.
#ifndef TALVOR_RUNNER_ELEVATION_WINDOWS_ERROR_H_
#define TALVOR_RUNNER_ELEVATION_WINDOWS_ERROR_H_

#include <cstdint>
#include <functional>
#include <string>

// Looks up the system's text as FormatMessageW does when asked to allocate
// the buffer: given the flags, the code and the language, it returns the
// text's length and sets `buffer` to text that LocalFree releases (0 and
// nothing when there is no text).
using SystemMessageLookup = std::function<std::uint32_t(
    std::uint32_t flags, std::uint32_t code, std::uint32_t language, wchar_t** buffer)>;

// The system's text for `code` without trailing line ends and blanks, or
// "Windows error " and the decimal code when the system has none.
std::wstring FormatWindowsError(std::uint32_t code);

// The same with another lookup in place of FormatMessageW (tests).
std::wstring FormatWindowsError(std::uint32_t code, const SystemMessageLookup& lookup);

#endif  // TALVOR_RUNNER_ELEVATION_WINDOWS_ERROR_H_
