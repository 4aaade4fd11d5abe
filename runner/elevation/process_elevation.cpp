#include "runner/elevation/process_elevation.h"

#include <windows.h>

#include "runner/win32_handles.h"

bool IsProcessElevated() {
  talvor::UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation = {};
  DWORD returned = 0;
  const BOOL answered =
      GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &returned);
  return answered && elevation.TokenIsElevated != 0;
}
