#include "runner/window_origin.h"

#include <algorithm>

std::optional<RECT> QueryPrimaryWorkArea() {
  RECT area = {};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return std::nullopt;
  return area;
}

WindowOrigin CenteredWindowOrigin(const std::optional<RECT>& work_area) {
  if (!work_area) return WindowOrigin{10, 10};
  // C++ division truncates toward zero, as the placement requires.
  const int dx = (work_area->right - work_area->left - kInitialWindowWidth) / 2;
  const int dy = (work_area->bottom - work_area->top - kInitialWindowHeight) / 2;
  return WindowOrigin{static_cast<int>(work_area->left) + std::max(dx, 0),
                      static_cast<int>(work_area->top) + std::max(dy, 0)};
}
