// Process utilities shared by the start-up sequence and the native services:
// the command-line arguments as UTF-8,
// UTF-8/UTF-16 conversions and the directory of the running executable.
#ifndef TALVOR_RUNNER_UTILS_H_
#define TALVOR_RUNNER_UTILS_H_

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// The process arguments after the program name, in UTF-8. An argument that is
// not well-formed UTF-16 keeps its place as an empty string.
std::vector<std::string> ReadCommandLineArguments();

// UTF-16 to UTF-8, rejecting ill-formed input: empty for null, empty input
// or any conversion failure.
std::string NarrowUtf8Strict(const wchar_t* text);

// UTF-16 to UTF-8, converting ill-formed input too; stops at the first zero
// character. Empty on failure.
std::string NarrowUtf8(const std::wstring& text);

// UTF-8 to UTF-16, converting ill-formed input too; stops at the first zero
// byte. Empty on failure.
std::wstring WidenUtf8(const std::string& text);

// The full path of `module` (the running executable by default), however
// long; empty when the system cannot tell.
std::wstring ModuleFilePath(HMODULE module = nullptr);

// Reads a text of unknown length with `query` (GetModuleFileNameW's contract:
// it fills a buffer of the given size and returns the characters written,
// the size itself when the text was cut, 0 on failure), growing the buffer
// up to the system's 32768-character path limit. Empty on failure or when
// even that is too small.
std::wstring ReadWithGrowingBuffer(const std::function<DWORD(wchar_t*, DWORD)>& query);

// `path` without its last component and the separators before it; both '\'
// and '/' separate, and a root stays whole ("C:\app.exe" gives "C:\").
std::wstring ParentDirectory(const std::wstring& path);

// The directory that holds the running executable; empty when the system
// cannot tell. Never the working directory: the program loads its core
// library from there, possibly with administrator rights.
std::wstring ExecutableDirectory();

// The directory of the executable at `module_path`; empty for an empty path.
std::wstring ExecutableDirectoryOf(const std::wstring& module_path);

#endif  // TALVOR_RUNNER_UTILS_H_
