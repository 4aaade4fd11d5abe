#include "runner/window_origin.h"

#include <gtest/gtest.h>

namespace {

std::pair<int, int> OriginIn(LONG left, LONG top, LONG right, LONG bottom) {
  const WindowOrigin origin = CenteredWindowOrigin(RECT{left, top, right, bottom});
  return {origin.x, origin.y};
}

TEST(CenteredWindowOrigin, CentresTheWindowInTheWorkArea) {
  EXPECT_EQ(OriginIn(0, 0, 1920, 1040), std::make_pair(740, 95));
  // Taskbar on the left.
  EXPECT_EQ(OriginIn(60, 0, 1920, 1080), std::make_pair(770, 115));
  // An odd remainder is truncated.
  EXPECT_EQ(OriginIn(0, 0, 1441, 1081).first, 500);
  EXPECT_EQ(OriginIn(0, 0, 1441, 1081).second, 115);
}

TEST(CenteredWindowOrigin, KeepsTheWindowAtTheEdgeOfASmallWorkArea) {
  EXPECT_EQ(OriginIn(100, 50, 500, 800), std::make_pair(100, 50));
  EXPECT_EQ(OriginIn(-1920, 0, -1481, 1040), std::make_pair(-1920, 95));
  EXPECT_EQ(OriginIn(0, -900, 1920, -51), std::make_pair(740, -900));
}

TEST(CenteredWindowOrigin, FallsBackWithoutAWorkArea) {
  const WindowOrigin origin = CenteredWindowOrigin(std::nullopt);
  EXPECT_EQ(origin.x, 10);
  EXPECT_EQ(origin.y, 10);
}

}  // namespace
