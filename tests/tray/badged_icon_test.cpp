#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "runner/tray/tray_icon.h"
#include "tests/tray/icon_pixels.h"

namespace talvor::test {
namespace {

constexpr uint32_t kOpaqueBlue = 0xFF1030C0u;
constexpr uint32_t kWhite = 0x00FFFFFFu;

// Whether two pixels' colours differ by at most one step in each channel
// (rounding of alpha blending).
bool Near(uint32_t a, uint32_t b) {
  for (int shift : {0, 8, 16}) {
    const int difference = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (difference < -1 || difference > 1) return false;
  }
  return true;
}

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

constexpr uint32_t kBlack = 0x000000u;
constexpr uint32_t kGreen = 0x22C55Eu;  // RGB(34, 197, 94)
constexpr uint32_t kGrey = 0x94A3B8u;   // RGB(148, 163, 184)

const BadgeCase& BadgeCaseFor(int size) {
  for (const BadgeCase& badge_case : kBadgeCases) {
    if (badge_case.size == size) return badge_case;
  }
  ADD_FAILURE() << "no badge case for " << size << " px";
  return kBadgeCases[1];
}

// Over any background the badge shows opaque: its dot in its colour, its
// ring white.
void ExpectOpaqueBadgeOver(HICON icon, int size, uint32_t background, uint32_t badge) {
  const BadgeCase& expected = BadgeCaseFor(size);
  const IconPixels shown = RenderOver(icon, size, background);
  const LONG middle = (expected.ring.top + expected.ring.bottom) / 2;
  EXPECT_EQ(Rgb(shown.At((expected.dot.left + expected.dot.right) / 2, middle)), badge) << "the dot";
  EXPECT_EQ(Rgb(shown.At(expected.ring.left, middle)), kWhite) << "the ring";
  EXPECT_EQ(Rgb(shown.At(expected.ring.right - 1, middle)), kWhite) << "the ring";
}

// The badged icon's own mask lets everything through, at the icon's size: its
// colour image's alpha alone decides what shows.
void ExpectClearMaskOfSize(HICON icon, int size) {
  const IconPixels mask = ReadMaskPixels(icon);
  ASSERT_EQ(mask.width, size);
  ASSERT_EQ(mask.height, size);
  for (uint32_t pixel : mask.pixels) ASSERT_EQ(Rgb(pixel), kWhite) << "a mask pixel that is not clear";
}

// Drawing calls need not give the badge any alpha; without care it would be
// a hole through which the taskbar shows.
TEST(CreateBadgedIcon, BadgeIsVisibleOverTheTaskbarAndTheRestKeepsItsTransparency) {
  constexpr uint32_t kTranslucentBlue = 0x801030C0u;
  constexpr uint32_t kTaskbarGrey = 0x00404040u;
  const UniqueIcon base = MakeSolidIcon(32, kTranslucentBlue);
  ASSERT_TRUE(base);
  const UniqueIcon badged = CreateBadgedIcon(base.get(), kConnectedBadgeColor);
  ASSERT_TRUE(badged);

  ExpectOpaqueBadgeOver(badged.get(), 32, kTaskbarGrey, kGreen);
  const IconPixels shown = RenderOver(badged.get(), 32, kTaskbarGrey);
  const uint32_t beside_badge = Rgb(shown.At(29, 29));
  EXPECT_NE(beside_badge, kTaskbarGrey) << "the icon is drawn in the badge's corner";
  EXPECT_EQ(beside_badge, Rgb(shown.At(2, 2))) << "and as translucent there as elsewhere";
  // Straight, not premultiplied, colour: the base's translucent pixels are
  // kept as they were, not darkened by being blended twice.
  const IconPixels image = ReadColorPixels(badged.get());
  EXPECT_EQ(image.At(2, 2), kTranslucentBlue);
  EXPECT_EQ(image.At(29, 29), kTranslucentBlue);
  ExpectClearMaskOfSize(badged.get(), 32);
}

// An icon without an alpha channel is drawn as its mask says: opaque where the
// mask shows the image, clear where it does not; never see-through, never
// inverted. Each is checked pixel by pixel over black and over white, at sizes
// where a mask's rows are padded differently when made (to 16 bits) and when
// read (to 32): 16 px (2 and 4 bytes) and 48 px (6 and 8).
TEST(CreateBadgedIcon, IconsWithoutAlphaAreOpaqueWithinTheirMask) {
  for (int size : {16, 32, 48}) {
    struct Case {
      const char* name;
      UniqueIcon base;
      uint32_t body;
    };
    Case cases[] = {{"24-bit", Make24BitIcon(size, 0x1030C0u), 0x1030C0u},
                    {"monochrome", MakeMonochromeIcon(size), kWhite}};
    const RECT badge = BadgeCaseFor(size).ring;
    for (Case& base_case : cases) {
      SCOPED_TRACE(std::string(base_case.name) + ", " + std::to_string(size) + " px");
      ASSERT_TRUE(base_case.base);
      const UniqueIcon badged = CreateBadgedIcon(base_case.base.get(), kDisconnectedBadgeColor);
      ASSERT_TRUE(badged);
      ExpectClearMaskOfSize(badged.get(), size);
      for (uint32_t background : {kBlack, kWhite}) {
        SCOPED_TRACE("over " + std::to_string(background));
        const IconPixels shown = RenderOver(badged.get(), size, background);
        int wrong = 0;
        std::string first_wrong;
        for (int y = 0; y < size; ++y) {
          for (int x = 0; x < size; ++x) {
            if (x >= badge.left && y >= badge.top) continue;  // the badge's square
            // The base's mask clears its top left quarter.
            const uint32_t expected = x < size / 2 && y < size / 2 ? background : base_case.body;
            if (Rgb(shown.At(x, y)) == expected) continue;
            if (wrong++ == 0) first_wrong = "(" + std::to_string(x) + ", " + std::to_string(y) + ")";
          }
        }
        EXPECT_EQ(wrong, 0) << "pixels shown wrongly, the first at " << first_wrong;
        ExpectOpaqueBadgeOver(badged.get(), size, background, kGrey);
      }
    }
  }
}

// The system's application icon, which the tray falls back on, looks the same
// with the badge as without it outside the badge.
TEST(CreateBadgedIcon, SystemFallbackIconIsDrawnAsTheSystemDrawsIt) {
  const HICON system_icon = LoadIconW(nullptr, IDI_APPLICATION);
  ASSERT_NE(system_icon, nullptr);
  const UniqueIcon badged = CreateBadgedIcon(system_icon, kConnectedBadgeColor);
  ASSERT_TRUE(badged);
  ASSERT_EQ(ReadColorPixels(badged.get()).width, 32) << "the checks below assume 32 px";

  for (uint32_t background : {kBlack, kWhite}) {
    SCOPED_TRACE("over " + std::to_string(background));
    const IconPixels plain = RenderOver(system_icon, 32, background);
    const IconPixels shown = RenderOver(badged.get(), 32, background);
    int differing = 0;
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        if (x >= 20 && y >= 20) continue;  // the badge's square
        if (!Near(shown.At(x, y), plain.At(x, y))) ++differing;
      }
    }
    EXPECT_EQ(differing, 0);
    ExpectOpaqueBadgeOver(badged.get(), 32, background, kGreen);
  }
}

// Whether `bitmap` can be selected into a device context, which a bitmap that
// another device context holds cannot.
bool IsOutOfAnyDeviceContext(HBITMAP bitmap) {
  const ScopedGetDc screen(nullptr);
  const UniqueMemoryDc dc(CreateCompatibleDC(screen.get()));
  const HGDIOBJ previous = SelectObject(dc.get(), bitmap);
  if (previous == nullptr || previous == HGDI_ERROR) return false;
  SelectObject(dc.get(), previous);
  return true;
}

TEST(CreateBadgedIcon, IconIsMadeFromFinishedBitmapsOutsideAnyDeviceContext) {
  const UniqueIcon base = MakeSolidIcon(32, kOpaqueBlue);
  bool color_free = false;
  bool mask_free = false;
  uint32_t dot = 0;
  const UniqueIcon badged =
      CreateBadgedIcon(base.get(), kConnectedBadgeColor, [&](ICONINFO& info) -> HICON {
        color_free = IsOutOfAnyDeviceContext(info.hbmColor);
        mask_free = IsOutOfAnyDeviceContext(info.hbmMask);
        const HICON icon = CreateIconIndirect(&info);
        dot = Rgb(ReadColorPixels(icon).At(25, 25));
        return icon;
      });
  ASSERT_TRUE(badged);
  EXPECT_TRUE(color_free);
  EXPECT_TRUE(mask_free);
  EXPECT_EQ(dot, kGreen);
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
