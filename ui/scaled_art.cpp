#include "ui/scaled_art.h"

#include <stdlib.h>

#include "ui/art_scale.h"
#include "ui/window.h"

namespace {

SIZE BitmapSize(HBITMAP picture) {
  BITMAP info{};
  GetObjectA(picture, sizeof info, &info);
  return {info.bmWidth, info.bmHeight};
}

// Runs `draw(source dc, target dc)` on a new screen-compatible bitmap of
// the given size; null when GDI refuses.
template <class Draw>
HBITMAP DrawNewBitmap(HBITMAP picture, int width, int height, Draw draw) {
  const HDC screen = GetDC(nullptr);
  const HDC source = CreateCompatibleDC(screen);
  const HDC target = CreateCompatibleDC(screen);
  HBITMAP result = CreateCompatibleBitmap(screen, width, height);
  if (source != nullptr && target != nullptr && result != nullptr) {
    const HGDIOBJ oldSource = SelectObject(source, picture);
    const HGDIOBJ oldTarget = SelectObject(target, result);
    draw(source, target);
    SelectObject(source, oldSource);
    SelectObject(target, oldTarget);
  }
  if (source != nullptr) DeleteDC(source);
  if (target != nullptr) DeleteDC(target);
  ReleaseDC(nullptr, screen);
  return result;
}

}  // namespace

HBITMAP LoadArtBitmap(UINT id, int scaleIndex) {
  return static_cast<HBITMAP>(LoadImageA(ModuleInstance(),
                                         MAKEINTRESOURCEA(ScaledBitmapId(id, scaleIndex)),
                                         IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

HIMAGELIST LoadArtStrip(UINT id, int scaleIndex, int cellWidth) {
  const int cell = ScaledSize(cellWidth, kArtScales[static_cast<size_t>(scaleIndex)]);
  return ImageList_LoadImageA(ModuleInstance(), MAKEINTRESOURCEA(ScaledBitmapId(id, scaleIndex)),
                              cell, 0, CLR_NONE, IMAGE_BITMAP, LR_CREATEDIBSECTION);
}

HBITMAP FitBitmap(HBITMAP picture, int width, int height) {
  if (picture == nullptr) return nullptr;
  const SIZE size = BitmapSize(picture);
  const auto close = [](LONG have, int want) { return abs(have - want) <= want / 25 + 1; };
  if (close(size.cx, width) && close(size.cy, height)) return picture;
  const HBITMAP fitted = DrawNewBitmap(picture, width, height, [&](HDC source, HDC target) {
    SetStretchBltMode(target, HALFTONE);
    SetBrushOrgEx(target, 0, 0, nullptr);
    StretchBlt(target, 0, 0, width, height, source, 0, 0, size.cx, size.cy, SRCCOPY);
  });
  DeleteObject(picture);
  return fitted;
}

HBITMAP StretchInNineParts(HBITMAP picture, int width, int height, int left, int top, int right,
                           int bottom) {
  const SIZE size = BitmapSize(picture);
  const auto parts = NinePartStretch({size.cx, size.cy}, {width, height}, left, top, right, bottom);
  return DrawNewBitmap(picture, width, height, [&](HDC source, HDC target) {
    // The stretched parts are even along their length, so no smoothing.
    SetStretchBltMode(target, COLORONCOLOR);
    for (const StretchPart& part : parts) {
      const PixelRect& s = part.source;
      const PixelRect& t = part.target;
      if (t.right <= t.left || t.bottom <= t.top) continue;
      StretchBlt(target, t.left, t.top, t.right - t.left, t.bottom - t.top, source, s.left, s.top,
                 s.right - s.left, s.bottom - s.top, SRCCOPY);
    }
  });
}
