#include "runner/window/window_placement.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <ostream>
#include <string>

namespace {

constexpr LogicalSize kMainWindow{440, 850};

// Frames as a DPI-aware window of the main window's style has them at each
// DPI (caption and fixed borders).
FrameMargins MarginsAt(UINT dpi) {
  switch (dpi) {
    case 96: return FrameMargins{3, 26, 3, 3};
    case 120: return FrameMargins{4, 32, 4, 4};
    case 144: return FrameMargins{4, 38, 4, 4};
    case 192: return FrameMargins{6, 51, 6, 6};
    default: return FrameMargins{7, 63, 7, 7};
  }
}

std::string Describe(const RECT& rect) {
  return "(" + std::to_string(rect.left) + ", " + std::to_string(rect.top) + ")-(" +
         std::to_string(rect.right) + ", " + std::to_string(rect.bottom) + ")";
}

struct Expected {
  RECT frame;
  SIZE client;
};

void ExpectPlacement(const WindowPlacement& placement, const Expected& expected) {
  EXPECT_EQ(Describe(placement.frame), Describe(expected.frame));
  EXPECT_EQ(placement.client.cx, expected.client.cx);
  EXPECT_EQ(placement.client.cy, expected.client.cy);
}

WindowPlacement Place(const RECT& work_area, UINT dpi) {
  return PlaceWindow(kMainWindow, dpi, MarginsAt(dpi), work_area, RECT{});
}

TEST(PlaceWindow, At96DpiAWindowThatFitsOpensWhereItAlwaysHas) {
  // The frame's corner where the 440 x 850 client area would be centred.
  ExpectPlacement(Place({0, 0, 1920, 1040}, 96), {{740, 95, 1186, 974}, {440, 850}});
  ExpectPlacement(Place({0, 0, 1920, 1080}, 96), {{740, 115, 1186, 994}, {440, 850}});
  // Taskbar on the left.
  ExpectPlacement(Place({60, 0, 1920, 1080}, 96), {{770, 115, 1216, 994}, {440, 850}});
  // An odd remainder is truncated.
  ExpectPlacement(Place({0, 0, 1441, 1081}, 96), {{500, 115, 946, 994}, {440, 850}});
  ExpectPlacement(Place({0, 0, 2560, 1440}, 96), {{1060, 295, 1506, 1174}, {440, 850}});
  ExpectPlacement(Place({0, 0, 3840, 2160}, 96), {{1700, 655, 2146, 1534}, {440, 850}});
  // A monitor left of and above the primary one.
  ExpectPlacement(Place({-1920, -1080, 0, 0}, 96), {{-1180, -965, -734, -86}, {440, 850}});
}

TEST(PlaceWindow, AWindowTallerThanTheWorkAreaFillsItsHeightAndKeepsItsWidth) {
  ExpectPlacement(Place({0, 0, 1366, 768}, 96), {{463, 0, 909, 768}, {440, 739}});
  ExpectPlacement(Place({0, 0, 1920, 1080}, 120), {{685, 0, 1243, 1080}, {550, 1044}});
  ExpectPlacement(Place({0, 0, 1920, 1080}, 144), {{630, 0, 1298, 1080}, {660, 1038}});
  ExpectPlacement(Place({0, 0, 1920, 1040}, 144), {{630, 0, 1298, 1040}, {660, 998}});
  ExpectPlacement(Place({60, 0, 1920, 1080}, 144), {{660, 0, 1328, 1080}, {660, 1038}});
  ExpectPlacement(Place({0, 0, 2560, 1440}, 192), {{840, 0, 1732, 1440}, {880, 1383}});
  ExpectPlacement(Place({0, 0, 3840, 2160}, 240), {{1370, 0, 2484, 2160}, {1100, 2090}});
  ExpectPlacement(Place({0, 40, 1366, 768}, 240), {{133, 40, 1247, 768}, {1100, 658}});
}

TEST(PlaceWindow, AWindowWiderThanTheWorkAreaFillsItsWidthToo) {
  ExpectPlacement(Place({0, 0, 800, 600}, 192), {{0, 0, 800, 600}, {788, 543}});
  ExpectPlacement(Place({100, 50, 500, 700}, 96), {{100, 50, 500, 700}, {394, 621}});
}

TEST(PlaceWindow, AWindowThatFitsOnlyWhenCentredIsCentred) {
  // 879 pixels high in 900: at the usual corner (25) it would end 4 pixels
  // below the area.
  ExpectPlacement(Place({0, 0, 1920, 900}, 96), {{740, 10, 1186, 889}, {440, 850}});
  // 446 wide in 448: the usual corner (4) would end 2 pixels past the edge.
  ExpectPlacement(Place({0, 0, 448, 1000}, 96), {{1, 75, 447, 954}, {440, 850}});
}

// Every listed work area at every listed DPI: the whole window in the area,
// centred, the client area scaled unless the area is too short for it (every
// listed area is wide enough). Client heights worked out by hand: the area's
// height less the frame's top and bottom where the frame would not fit.
TEST(PlaceWindow, EveryCommonScreenAndScaleKeepsTheWindowInsideAndCentred) {
  const UINT dpis[] = {96, 120, 144, 192, 240};
  const LONG client_widths[] = {440, 550, 660, 880, 1100};  // 440 units at each DPI
  struct Area {
    const char* name;
    RECT rect;
    LONG client_heights[5];  // at each DPI; 850 units are 850, 1062, 1275, 1700, 2125
  };
  const Area areas[] = {
      {"1366x768", {0, 0, 1366, 768}, {739, 732, 726, 711, 698}},
      {"1920x1080", {0, 0, 1920, 1080}, {850, 1044, 1038, 1023, 1010}},
      {"1920x1080, taskbar below", {0, 0, 1920, 1040}, {850, 1004, 998, 983, 970}},
      {"1920x1080, taskbar left", {60, 0, 1920, 1080}, {850, 1044, 1038, 1023, 1010}},
      {"2560x1440", {0, 0, 2560, 1440}, {850, 1062, 1275, 1383, 1370}},
      {"3840x2160", {0, 0, 3840, 2160}, {850, 1062, 1275, 1700, 2090}},
  };

  for (const Area& area : areas) {
    for (size_t scale = 0; scale < std::size(dpis); ++scale) {
      const UINT dpi = dpis[scale];
      SCOPED_TRACE(std::string(area.name) + " at " + std::to_string(dpi) + " DPI");
      const FrameMargins margins = MarginsAt(dpi);
      const WindowPlacement placement = Place(area.rect, dpi);
      const RECT& frame = placement.frame;
      EXPECT_EQ(placement.client.cx, client_widths[scale]);
      EXPECT_EQ(placement.client.cy, area.client_heights[scale]);
      EXPECT_EQ(frame.right - frame.left, margins.left + placement.client.cx + margins.right);
      EXPECT_EQ(frame.bottom - frame.top, margins.top + placement.client.cy + margins.bottom);
      EXPECT_GE(frame.left, area.rect.left);
      EXPECT_GE(frame.top, area.rect.top);
      EXPECT_LE(frame.right, area.rect.right);
      EXPECT_LE(frame.bottom, area.rect.bottom);

      // Centred up to the frame: the gaps on either side differ by no more
      // than the frame's thickness on that axis (and a truncated half).
      const LONG left_gap = frame.left - area.rect.left;
      const LONG right_gap = area.rect.right - frame.right;
      const LONG top_gap = frame.top - area.rect.top;
      const LONG bottom_gap = area.rect.bottom - frame.bottom;
      EXPECT_LE(std::labs(left_gap - right_gap), margins.left + margins.right + 1);
      EXPECT_LE(std::labs(top_gap - bottom_gap), margins.top + margins.bottom + 1);
    }
  }
}

TEST(PlaceWindow, WithoutAWorkAreaTheWindowOpensNearTheScreensCornerAndFitsTheScreen) {
  const RECT screen{0, 0, 1920, 1080};
  ExpectPlacement(PlaceWindow(kMainWindow, 96, MarginsAt(96), std::nullopt, screen),
                  {{10, 10, 456, 889}, {440, 850}});
  ExpectPlacement(PlaceWindow(kMainWindow, 144, MarginsAt(144), std::nullopt, screen),
                  {{15, 0, 683, 1080}, {660, 1038}});
  // Nothing known of the screen either.
  ExpectPlacement(PlaceWindow(kMainWindow, 144, MarginsAt(144), std::nullopt, RECT{}),
                  {{15, 15, 683, 1332}, {660, 1275}});
}

TEST(KeepWithinArea, MovesAndShrinksTheWindowAsLittleAsNeeded) {
  const RECT area{0, 0, 1920, 1040};
  EXPECT_EQ(Describe(KeepWithinArea({100, 120, 700, 900}, area)), Describe({100, 120, 700, 900}));
  EXPECT_EQ(Describe(KeepWithinArea({1500, 100, 2100, 500}, area)),
            Describe({1320, 100, 1920, 500}));
  EXPECT_EQ(Describe(KeepWithinArea({-50, -20, 550, 380}, area)), Describe({0, 0, 600, 400}));
  EXPECT_EQ(Describe(KeepWithinArea({300, 150, 968, 1467}, area)), Describe({300, 0, 968, 1040}));
  EXPECT_EQ(Describe(KeepWithinArea({-100, -100, 2100, 1300}, area)), Describe(area));
  // A second monitor left of the primary one.
  EXPECT_EQ(Describe(KeepWithinArea({-700, 900, -100, 1300}, {-1920, 0, 0, 1080})),
            Describe({-700, 680, -100, 1080}));
}

}  // namespace
