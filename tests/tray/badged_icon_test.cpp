#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "runner/tray/tray_icon.h"
#include "tests/tray/icon_pixels.h"

namespace talvor::test {
namespace {

constexpr uint32_t kOpaqueBlue = 0xFF1030C0u;
constexpr uint32_t kWhite = 0x00FFFFFFu;

struct BadgeCase {
  int size;
  RECT ring;
  RECT dot;
};

// Where the ring and the dot must lie for the common icon sizes.
const BadgeCase kBadgeCases[] = {
    {16, {7, 7, 15, 15}, {8, 8, 14, 14}},
    {32, {20, 20, 30, 30}, {21, 21, 29, 29}},
    {48, {29, 29, 45, 45}, {31, 31, 43, 43}},
    {64, {39, 39, 60, 60}, {42, 42, 57, 57}},
};

// The smallest rectangle (right and bottom exclusive) holding every pixel
// for which `selected` holds; empty when there is none.
template <typename Predicate>
RECT BoundsOf(const IconPixels& image, Predicate selected) {
  RECT bounds{image.width, image.height, 0, 0};
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (!selected(image.At(x, y))) continue;
      bounds.left = std::min<LONG>(bounds.left, x);
      bounds.top = std::min<LONG>(bounds.top, y);
      bounds.right = std::max<LONG>(bounds.right, x + 1);
      bounds.bottom = std::max<LONG>(bounds.bottom, y + 1);
    }
  }
  return bounds;
}

std::string Describe(const RECT& rect) {
  return "(" + std::to_string(rect.left) + ", " + std::to_string(rect.top) + ", " +
         std::to_string(rect.right) + ", " + std::to_string(rect.bottom) + ")";
}

void ExpectBadge(const IconPixels& image, const BadgeCase& expected, uint32_t badge) {
  const uint32_t base = Rgb(kOpaqueBlue);
  EXPECT_EQ(Describe(BoundsOf(image, [&](uint32_t pixel) { return Rgb(pixel) != base; })),
            Describe(expected.ring))
      << "the badge with its ring";
  EXPECT_EQ(Describe(BoundsOf(image, [&](uint32_t pixel) { return Rgb(pixel) == badge; })),
            Describe(expected.dot))
      << "the coloured dot";
  for (uint32_t pixel : image.pixels) {
    if (Rgb(pixel) == base) continue;
    EXPECT_TRUE(Rgb(pixel) == kWhite || Rgb(pixel) == badge) << std::hex << pixel;
    EXPECT_EQ(Alpha(pixel), 0xFFu) << "badge pixels are opaque";
  }
  const LONG middle = (expected.ring.top + expected.ring.bottom) / 2;
  EXPECT_EQ(Rgb(image.At(expected.ring.left, middle)), kWhite) << "the ring's left edge";
  EXPECT_EQ(Rgb(image.At((expected.dot.left + expected.dot.right) / 2, middle)), badge)
      << "the dot's centre";
}

TEST(CreateBadgedIcon, DrawsRingAndDotAtTheirPlaceForCommonSizes) {
  for (const BadgeCase& badge_case : kBadgeCases) {
    // Slate grey RGB(148, 163, 184) and green RGB(34, 197, 94).
    for (const auto& [color, expected_rgb] :
         {std::pair{kDisconnectedBadgeColor, 0x94A3B8u}, std::pair{kConnectedBadgeColor, 0x22C55Eu}}) {
      SCOPED_TRACE(std::to_string(badge_case.size) + " px, colour " + std::to_string(color));
      const UniqueIcon base = MakeSolidIcon(badge_case.size, kOpaqueBlue);
      ASSERT_TRUE(base);
      const UniqueIcon badged = CreateBadgedIcon(base.get(), color);
      ASSERT_TRUE(badged);
      const IconPixels image = ReadColorPixels(badged.get());
      ASSERT_EQ(image.width, badge_case.size);
      ASSERT_EQ(image.height, badge_case.size);
      ExpectBadge(image, badge_case, expected_rgb);
    }
  }
}

// Drawing leaves the badge's alpha at 0; without care the badge would be a
// hole through which the taskbar shows.
TEST(CreateBadgedIcon, BadgeIsVisibleOverTheTaskbarAndTheRestKeepsItsTransparency) {
  constexpr uint32_t kTranslucentBlue = 0x801030C0u;
  constexpr uint32_t kTaskbarGrey = 0x00404040u;
  const UniqueIcon base = MakeSolidIcon(32, kTranslucentBlue);
  ASSERT_TRUE(base);
  const UniqueIcon badged = CreateBadgedIcon(base.get(), kConnectedBadgeColor);
  ASSERT_TRUE(badged);

  const IconPixels shown = RenderOver(badged.get(), 32, kTaskbarGrey);
  EXPECT_EQ(Rgb(shown.At(25, 25)), DibRgb(kConnectedBadgeColor)) << "the dot";
  EXPECT_EQ(Rgb(shown.At(20, 25)), kWhite) << "the ring";
  const uint32_t beside_badge = Rgb(shown.At(29, 29));
  EXPECT_NE(beside_badge, kTaskbarGrey) << "the icon is drawn in the badge's corner";
  EXPECT_EQ(beside_badge, Rgb(shown.At(2, 2))) << "and as translucent there as elsewhere";
}

TEST(CreateBadgedIcon, MonochromeIconGivesHalfTheMaskHeight) {
  const UniqueIcon base = MakeMonochromeIcon(32);
  ASSERT_TRUE(base);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(base.get(), &info));
  const UniqueGdiObject mask(info.hbmMask);
  const UniqueGdiObject color(info.hbmColor);
  ASSERT_FALSE(color) << "the base icon must be monochrome for this case";
  BITMAP mask_bitmap{};
  ASSERT_NE(GetObjectW(mask.get(), sizeof(mask_bitmap), &mask_bitmap), 0);
  ASSERT_EQ(mask_bitmap.bmHeight, 64);

  const UniqueIcon badged = CreateBadgedIcon(base.get(), kDisconnectedBadgeColor);
  ASSERT_TRUE(badged);
  const IconPixels image = ReadColorPixels(badged.get());
  EXPECT_EQ(image.width, 32);
  EXPECT_EQ(image.height, 32);
  EXPECT_EQ(Rgb(image.At(25, 25)), DibRgb(kDisconnectedBadgeColor));
}

TEST(CreateBadgedIcon, NullOrDestroyedBaseGivesNoIcon) {
  EXPECT_FALSE(CreateBadgedIcon(nullptr, kConnectedBadgeColor));

  UniqueIcon destroyed = MakeSolidIcon(16, kOpaqueBlue);
  ASSERT_TRUE(destroyed);
  const HICON stale = destroyed.get();
  destroyed.reset();
  EXPECT_FALSE(CreateBadgedIcon(stale, kConnectedBadgeColor));
}

}  // namespace
}  // namespace talvor::test
