// Where the program takes libraries from. The program may run elevated (the
// TUN relaunch), while its folder and working directory may be writable
// without administrator rights: a library found there by name could be
// anyone's.
#ifndef TALVOR_RUNNER_LIBRARY_SEARCH_H_
#define TALVOR_RUNNER_LIBRARY_SEARCH_H_

#include "runner/win32_handles.h"

// From now on, a library loaded by name alone comes from the system folder
// only: never from the program's folder, the working directory or PATH. The
// program's own libraries are imported or loaded by full path.
void RestrictLibrarySearchToSystemFolder();

// A library of the system by file name, from the system folder only.
talvor::UniqueModule LoadSystemLibrary(const wchar_t* file_name);

#endif  // TALVOR_RUNNER_LIBRARY_SEARCH_H_
