// Test icons with known pixels, and reading an icon's pixels back.
#ifndef TALVOR_TESTS_TRAY_ICON_PIXELS_H_
#define TALVOR_TESTS_TRAY_ICON_PIXELS_H_

#include <windows.h>

#include <cstdint>
#include <vector>

#include "runner/win32_handles.h"

namespace talvor::test {

// Pixels as 0xAARRGGBB, rows from the top.
struct IconPixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  uint32_t At(int x, int y) const {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

// The COLORREF as it reads back from a 32-bit DIB, without alpha.
constexpr uint32_t DibRgb(COLORREF color) {
  return (static_cast<uint32_t>(GetRValue(color)) << 16) |
         (static_cast<uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
}

constexpr uint32_t Rgb(uint32_t pixel) { return pixel & 0x00FFFFFFu; }
constexpr uint32_t Alpha(uint32_t pixel) { return pixel >> 24; }

// A square 32-bit icon whose every pixel is `argb` (straight alpha).
UniqueIcon MakeSolidIcon(int size, uint32_t argb);

// A square monochrome icon (no colour bitmap; its mask is twice as high):
// white, with the top left quarter clear.
UniqueIcon MakeMonochromeIcon(int size);

// A square icon with a 24-bit colour bitmap, so without alpha: `rgb`, with the
// top left quarter clear by its mask.
UniqueIcon Make24BitIcon(int size, uint32_t rgb);

// The icon's colour bitmap as 32-bit pixels; empty when it has none.
IconPixels ReadColorPixels(HICON icon);

// The icon's AND mask as 32-bit pixels (white where the background is kept,
// black where the image replaces it), at the mask bitmap's own size.
IconPixels ReadMaskPixels(HICON icon);

// The icon drawn with DrawIconEx over a solid background, as the shell would
// show it.
IconPixels RenderOver(HICON icon, int size, uint32_t background_rgb);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_TRAY_ICON_PIXELS_H_
