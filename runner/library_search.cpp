#include "runner/library_search.h"

void RestrictLibrarySearchToSystemFolder() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

talvor::UniqueModule LoadSystemLibrary(const wchar_t* file_name) {
  return talvor::UniqueModule(LoadLibraryExW(file_name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}
