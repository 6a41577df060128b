#include "ui/art_scale.h"

#include <algorithm>
#include <cstdlib>

int NearestArtScale(int32_t actual, int32_t base) {
  if (actual <= 0 || base <= 0) return 0;
  int best = 0;
  int64_t bestDistance = -1;
  for (int i = 0; i < static_cast<int>(kArtScales.size()); ++i) {
    // |actual / base - scale / 100| compared in whole numbers.
    const int64_t distance =
        std::abs(int64_t{actual} * 100 - int64_t{base} * kArtScales[static_cast<size_t>(i)]);
    if (bestDistance < 0 || distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  return best;
}

std::array<StretchPart, 9> NinePartStretch(PixelPoint source, PixelPoint target, int32_t left,
                                           int32_t top, int32_t right, int32_t bottom) {
  // The column and row edges of the source and of the target; the target's
  // corners shrink (right and bottom first) when the target is too small.
  const int32_t targetLeft = std::min(left, target.x);
  const int32_t targetRight = std::min(right, target.x - targetLeft);
  const int32_t targetTop = std::min(top, target.y);
  const int32_t targetBottom = std::min(bottom, target.y - targetTop);
  const int32_t sx[4] = {0, left, source.x - right, source.x};
  const int32_t sy[4] = {0, top, source.y - bottom, source.y};
  const int32_t tx[4] = {0, targetLeft, target.x - targetRight, target.x};
  const int32_t ty[4] = {0, targetTop, target.y - targetBottom, target.y};
  std::array<StretchPart, 9> parts{};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      StretchPart& part = parts[static_cast<size_t>(row * 3 + column)];
      part.source = {sx[column], sy[row], sx[column + 1], sy[row + 1]};
      part.target = {tx[column], ty[row], tx[column + 1], ty[row + 1]};
      // A clipped corner copies as much of the source as it shows.
      if (column != 1) {
        const int32_t width = part.target.right - part.target.left;
        if (column == 0) part.source.right = part.source.left + width;
        if (column == 2) part.source.left = part.source.right - width;
      }
      if (row != 1) {
        const int32_t height = part.target.bottom - part.target.top;
        if (row == 0) part.source.bottom = part.source.top + height;
        if (row == 2) part.source.top = part.source.bottom - height;
      }
    }
  }
  return parts;
}
