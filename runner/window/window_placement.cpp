#include "runner/window/window_placement.h"

#include <algorithm>

namespace {

constexpr double kBaseDpi = 96.0;
// Without a work area the window goes near the screen's top-left corner.
constexpr int32_t kFallbackOffset = 10;

LONG ScaleToDpi(int32_t value, UINT dpi) { return static_cast<LONG>(value * (dpi / kBaseDpi)); }

LONG Width(const RECT& rect) { return rect.right - rect.left; }
LONG Height(const RECT& rect) { return rect.bottom - rect.top; }

// Where a frame of `length` starts on an axis where the area runs from
// `area_start` to `area_end`: at `preferred` when the frame fits there,
// otherwise centred (C++ division truncates toward zero).
LONG StartOnAxis(LONG preferred, LONG length, LONG area_start, LONG area_end) {
  if (preferred >= area_start && preferred + length <= area_end) return preferred;
  return area_start + (area_end - area_start - length) / 2;
}

// The same, moved back as little as needed instead of centred.
LONG ClampOnAxis(LONG preferred, LONG length, LONG area_start, LONG area_end) {
  return std::max(area_start, std::min(preferred, area_end - length));
}

RECT FrameAround(LONG left, LONG top, SIZE client, const FrameMargins& margins) {
  return RECT{left, top, left + margins.left + client.cx + margins.right,
              top + margins.top + client.cy + margins.bottom};
}

WindowPlacement WithClientOf(const RECT& frame, const FrameMargins& margins) {
  const LONG client_width = Width(frame) - margins.left - margins.right;
  const LONG client_height = Height(frame) - margins.top - margins.bottom;
  return WindowPlacement{frame, SIZE{std::max(client_width, 0L), std::max(client_height, 0L)}};
}

WindowPlacement PlaceInWorkArea(SIZE client, const FrameMargins& margins, const RECT& area) {
  // The corner is placed as if the client area alone were centred, so that
  // a window that fits opens where it always has.
  const LONG preferred_left = area.left + std::max((Width(area) - client.cx) / 2, 0L);
  const LONG preferred_top = area.top + std::max((Height(area) - client.cy) / 2, 0L);
  const RECT wanted = FrameAround(preferred_left, preferred_top, client, margins);
  const LONG width = std::min(Width(wanted), Width(area));
  const LONG height = std::min(Height(wanted), Height(area));
  const LONG left = StartOnAxis(preferred_left, width, area.left, area.right);
  const LONG top = StartOnAxis(preferred_top, height, area.top, area.bottom);
  return WithClientOf(RECT{left, top, left + width, top + height}, margins);
}

WindowPlacement PlaceOnScreen(SIZE client, UINT dpi, const FrameMargins& margins,
                              const RECT& screen) {
  const LONG offset = ScaleToDpi(kFallbackOffset, dpi);
  RECT frame = FrameAround(screen.left + offset, screen.top + offset, client, margins);
  if (Width(screen) > 0 && Height(screen) > 0) frame = KeepWithinArea(frame, screen);
  return WithClientOf(frame, margins);
}

}  // namespace

SIZE ScaleToDpi(const LogicalSize& size, UINT dpi) {
  return SIZE{ScaleToDpi(size.width, dpi), ScaleToDpi(size.height, dpi)};
}

WindowPlacement PlaceWindow(const LogicalSize& size, UINT dpi, const FrameMargins& margins,
                            const std::optional<RECT>& work_area, const RECT& screen) {
  const SIZE client = ScaleToDpi(size, dpi);
  if (work_area) return PlaceInWorkArea(client, margins, *work_area);
  return PlaceOnScreen(client, dpi, margins, screen);
}

RECT KeepWithinArea(const RECT& window, const RECT& area) {
  const LONG width = std::min(Width(window), Width(area));
  const LONG height = std::min(Height(window), Height(area));
  const LONG left = ClampOnAxis(window.left, width, area.left, area.right);
  const LONG top = ClampOnAxis(window.top, height, area.top, area.bottom);
  return RECT{left, top, left + width, top + height};
}

std::optional<RECT> QueryPrimaryWorkArea() {
  RECT area = {};
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0)) return std::nullopt;
  // An empty area would shrink the window to nothing.
  if (Width(area) <= 0 || Height(area) <= 0) return std::nullopt;
  return area;
}
