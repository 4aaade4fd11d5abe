// Writes numbered lines to the program's log through its own code, as fast
// as it can: one of the two writers of the log's concurrency test.
//
//   log_writer.exe TAG COUNT
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "runner/log/log.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const std::wstring wide_tag = argv[1];
  const std::string tag(wide_tag.begin(), wide_tag.end());
  const int count = _wtoi(argv[2]);
  for (int number = 0; number < count; ++number) {
    char text[32];
    std::snprintf(text, sizeof(text), "%s %05d ", tag.c_str(), number);
    // About 160 bytes a line, so that the files take their turn a few times.
    talvor::log::Info("test", std::string(text) + std::string(100, 'x'));
  }
  return 0;
}
