// Test-only stand-in for the engine library's monitor DPI query, for test
// programs that do not link an engine: the monitor's effective DPI as the
// system reports it, 96 when it cannot.
#include <windows.h>
#include <shellscalingapi.h>

#include "embedding/engine_api.h"

extern "C" UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  UINT dpi_x = 0;
  UINT dpi_y = 0;
  if (FAILED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpi_x, &dpi_y)) || dpi_x == 0) {
    return 96;
  }
  return dpi_x;
}
