// Where a window of a given size in 96-DPI units goes on a monitor: pure
// rules in physical pixels, and the queries of the primary monitor they need.
#ifndef TALVOR_RUNNER_WINDOW_WINDOW_PLACEMENT_H_
#define TALVOR_RUNNER_WINDOW_WINDOW_PLACEMENT_H_

#include <windows.h>

#include <cstdint>
#include <optional>

// A size in 96-DPI units.
struct LogicalSize {
  int32_t width = 0;
  int32_t height = 0;
};

// Thickness of a window's frame (caption and borders) on each side, in
// physical pixels.
struct FrameMargins {
  LONG left = 0;
  LONG top = 0;
  LONG right = 0;
  LONG bottom = 0;
};

// A window's rectangle on the screen and the client area inside it, in
// physical pixels.
struct WindowPlacement {
  RECT frame{};
  SIZE client{};
};

// `size` at `dpi`, each side truncated toward zero.
SIZE ScaleToDpi(const LogicalSize& size, UINT dpi);

// Opens a client area of `size` scaled to `dpi` with `margins` around it in
// `work_area`: the frame's top-left corner where the client area would be
// centred, as long as the whole frame then lies in the area; on an axis
// where it would not, the frame is centred on that axis, shrunk to the
// area's length when longer. Without a work area the frame goes 10 units
// right of and below the screen's origin, moved back and shrunk as little as
// needed to lie on `screen` (left alone when `screen` is empty).
WindowPlacement PlaceWindow(const LogicalSize& size, UINT dpi, const FrameMargins& margins,
                            const std::optional<RECT>& work_area, const RECT& screen);

// `window` moved, and shrunk where it is larger, as little as needed to lie
// within `area`.
RECT KeepWithinArea(const RECT& window, const RECT& area);

// The primary monitor's work area, or nothing when the system cannot tell.
std::optional<RECT> QueryPrimaryWorkArea();

#endif  // TALVOR_RUNNER_WINDOW_WINDOW_PLACEMENT_H_
