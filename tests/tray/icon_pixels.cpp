#include "tests/tray/icon_pixels.h"

#include <algorithm>

namespace talvor::test {

namespace {

BITMAPINFO TopDown32BitInfo(int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return info;
}

UniqueGdiObject CreateDib(int width, int height, uint32_t** pixels) {
  const ScopedGetDc screen(nullptr);
  BITMAPINFO info = TopDown32BitInfo(width, height);
  void* bits = nullptr;
  UniqueGdiObject dib(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  *pixels = static_cast<uint32_t*>(bits);
  return dib;
}

// A 1-bit bitmap of `width` x `height`, all bits `value`.
UniqueGdiObject CreateMaskBitmap(int width, int height, bool value) {
  const size_t stride = static_cast<size_t>((width + 15) / 16) * 2;
  const std::vector<uint8_t> bits(stride * static_cast<size_t>(height), value ? 0xFF : 0x00);
  return UniqueGdiObject(CreateBitmap(width, height, 1, 1, bits.data()));
}

// Bytes per row of a 1-bit bitmap given to CreateBitmap (whole 16-bit words).
size_t MaskStride(int width) { return static_cast<size_t>((width + 15) / 16) * 2; }

// Sets the bits of the top left quarter of a `size` x `size` 1-bit bitmap.
void SetTopLeftQuarter(std::vector<uint8_t>& bits, int size) {
  for (int y = 0; y < size / 2; ++y) {
    for (int x = 0; x < size / 2; ++x) {
      bits[static_cast<size_t>(y) * MaskStride(size) + static_cast<size_t>(x) / 8] |=
          static_cast<uint8_t>(0x80 >> (x % 8));
    }
  }
}

// A bitmap's pixels as 32-bit pixels, converted by the system whatever its
// own format.
IconPixels ReadBitmapPixels(HBITMAP bitmap) {
  BITMAP description{};
  if (bitmap == nullptr || GetObjectW(bitmap, sizeof(description), &description) == 0) return {};
  IconPixels result;
  result.width = description.bmWidth;
  result.height = description.bmHeight;
  result.pixels.resize(static_cast<size_t>(result.width) * static_cast<size_t>(result.height));
  BITMAPINFO read_info = TopDown32BitInfo(result.width, result.height);
  const ScopedGetDc screen(nullptr);
  if (GetDIBits(screen.get(), bitmap, 0, static_cast<UINT>(result.height), result.pixels.data(), &read_info,
                DIB_RGB_COLORS) != result.height) {
    return {};
  }
  return result;
}

}  // namespace

UniqueIcon MakeSolidIcon(int size, uint32_t argb) {
  uint32_t* pixels = nullptr;
  const UniqueGdiObject color = CreateDib(size, size, &pixels);
  if (!color) return {};
  std::fill(pixels, pixels + size * size, argb);
  const UniqueGdiObject mask = CreateMaskBitmap(size, size, false);
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmColor = static_cast<HBITMAP>(color.get());
  info.hbmMask = static_cast<HBITMAP>(mask.get());
  return UniqueIcon(CreateIconIndirect(&info));
}

UniqueIcon MakeMonochromeIcon(int size) {
  // Upper half: the AND mask; lower half: the XOR mask (white).
  const size_t stride = MaskStride(size);
  std::vector<uint8_t> bits(stride * static_cast<size_t>(size) * 2, 0x00);
  SetTopLeftQuarter(bits, size);
  std::fill(bits.begin() + static_cast<std::ptrdiff_t>(stride * static_cast<size_t>(size)),
            bits.end(), 0xFF);
  const UniqueGdiObject mask(CreateBitmap(size, size * 2, 1, 1, bits.data()));
  ICONINFO info{};
  info.fIcon = TRUE;
  info.hbmMask = static_cast<HBITMAP>(mask.get());
  return UniqueIcon(CreateIconIndirect(&info));
}

UniqueIcon Make24BitIcon(int size, uint32_t rgb) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = -size;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  const ScopedGetDc screen(nullptr);
  const UniqueGdiObject color(
      CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!color) return {};
  const size_t stride = (static_cast<size_t>(size) * 3 + 3) / 4 * 4;
  auto* const rows = static_cast<uint8_t*>(bits);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      uint8_t* pixel = rows + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 3;
      pixel[0] = static_cast<uint8_t>(rgb);
      pixel[1] = static_cast<uint8_t>(rgb >> 8);
      pixel[2] = static_cast<uint8_t>(rgb >> 16);
    }
  }
  std::vector<uint8_t> mask_bits(MaskStride(size) * static_cast<size_t>(size), 0x00);
  SetTopLeftQuarter(mask_bits, size);
  const UniqueGdiObject mask(CreateBitmap(size, size, 1, 1, mask_bits.data()));
  ICONINFO icon{};
  icon.fIcon = TRUE;
  icon.hbmColor = static_cast<HBITMAP>(color.get());
  icon.hbmMask = static_cast<HBITMAP>(mask.get());
  return UniqueIcon(CreateIconIndirect(&icon));
}

IconPixels ReadColorPixels(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return {};
  const UniqueGdiObject color(info.hbmColor);
  const UniqueGdiObject mask(info.hbmMask);
  return ReadBitmapPixels(static_cast<HBITMAP>(color.get()));
}

IconPixels ReadMaskPixels(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return {};
  const UniqueGdiObject color(info.hbmColor);
  const UniqueGdiObject mask(info.hbmMask);
  return ReadBitmapPixels(static_cast<HBITMAP>(mask.get()));
}

IconPixels RenderOver(HICON icon, int size, uint32_t background_rgb) {
  uint32_t* pixels = nullptr;
  const UniqueGdiObject dib = CreateDib(size, size, &pixels);
  const ScopedGetDc screen(nullptr);
  const UniqueMemoryDc dc(CreateCompatibleDC(screen.get()));
  IconPixels result;
  if (!dib || !dc) return result;
  {
    const ScopedSelectObject select(dc.get(), dib.get());
    std::fill(pixels, pixels + size * size, background_rgb);
    DrawIconEx(dc.get(), 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
    GdiFlush();
  }
  result.width = size;
  result.height = size;
  result.pixels.assign(pixels, pixels + size * size);
  return result;
}

}  // namespace talvor::test
