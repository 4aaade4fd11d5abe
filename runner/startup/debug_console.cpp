#include "runner/startup/debug_console.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <iostream>

#include "embedding/engine_api.h"

void OpenDebugConsole() {
  if (!AllocConsole()) return;
  FILE* ignored = nullptr;
  if (freopen_s(&ignored, "CONOUT$", "w", stdout) != 0) {
    _dup2(_fileno(stdout), 1);
  }
  if (freopen_s(&ignored, "CONOUT$", "w", stderr) != 0) {
    _dup2(_fileno(stdout), 2);
  }
  std::ios::sync_with_stdio(true);
  FlutterDesktopResyncOutputStreams();
}
