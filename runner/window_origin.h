// Where the main window first appears: centred in the primary monitor's work
// area, in the units the window host scales by the monitor's DPI.
#ifndef TALVOR_RUNNER_WINDOW_ORIGIN_H_
#define TALVOR_RUNNER_WINDOW_ORIGIN_H_

#include <windows.h>

#include <optional>

inline constexpr int kInitialWindowWidth = 440;
inline constexpr int kInitialWindowHeight = 850;

struct WindowOrigin {
  int x;
  int y;
};

// The primary monitor's work area, or nothing when the system cannot tell.
std::optional<RECT> QueryPrimaryWorkArea();

// Centres the initial window size in `work_area`, never left of or above it;
// (10, 10) without a work area.
WindowOrigin CenteredWindowOrigin(const std::optional<RECT>& work_area);

#endif  // TALVOR_RUNNER_WINDOW_ORIGIN_H_
