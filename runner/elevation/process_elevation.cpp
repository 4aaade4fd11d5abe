#include "runner/elevation/process_elevation.h"

#include "runner/win32_handles.h"

bool IsProcessElevated() {
  talvor::UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  return IsTokenElevated(token.get());
}

bool IsTokenElevated(HANDLE token) {
  TOKEN_ELEVATION elevation = {};
  DWORD returned = 0;
  const BOOL answered =
      GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &returned);
  return answered && elevation.TokenIsElevated != 0;
}
