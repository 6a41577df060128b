// The artwork's size for a window: the nearest drawn scale, and the nine
// parts that stretch the background to the window.
#include <gtest/gtest.h>

#include <vector>

#include "ui/art_scale.h"

namespace {

TEST(ArtScale, PicksTheNearestDrawnScale) {
  const struct {
    int32_t actual, base;
    int expected;
  } cases[] = {
      {501, 501, 0},  {382, 382, 0},  // 96 DPI with the font the layout was made for
      {555, 501, 0},                  // 111 percent
      {584, 501, 1},                  // a larger fallback font: 117 percent
      {626, 501, 1},                  // 120 DPI
      {752, 501, 2},  {573, 382, 2},  // 144 DPI
      {700, 400, 2},  {701, 400, 3},  // 175 percent is a tie, the smaller wins
      {1002, 501, 3}, {3000, 501, 3}, {0, 501, 0}, {501, 0, 0}, {-5, 501, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NearestArtScale(c.actual, c.base), c.expected) << c.actual << "/" << c.base;
  }
  EXPECT_EQ(ScaledSize(30, 125), 38);  // 37.5 rounds up, as make_art.py does
  EXPECT_EQ(ScaledSize(501, 150), 752);
  EXPECT_EQ(ScaledBitmapId(220, 3), 3220u);
}

// Every target pixel belongs to exactly one part; corners keep their size
// and their source; edges keep their thickness.
void ExpectTiling(const std::array<StretchPart, 9>& parts, PixelPoint target) {
  std::vector<int> cover(static_cast<size_t>(target.x * target.y), 0);
  for (const StretchPart& part : parts) {
    for (int32_t y = part.target.top; y < part.target.bottom; ++y) {
      for (int32_t x = part.target.left; x < part.target.right; ++x) {
        ++cover[static_cast<size_t>(y * target.x + x)];
      }
    }
  }
  for (size_t i = 0; i < cover.size(); ++i) ASSERT_EQ(cover[i], 1) << "pixel " << i;
}

TEST(ArtScale, NinePartsCoverAnyWindowOnceWithTheCornersUnstretched) {
  const PixelPoint source{501, 382};
  for (const PixelPoint target :
       {PixelPoint{501, 382}, PixelPoint{584, 440}, PixelPoint{400, 300}, PixelPoint{1100, 800}}) {
    const auto parts = NinePartStretch(source, target, 260, 29, 1, 1);
    ExpectTiling(parts, target);
    // The title corner is copied 1:1 from the source's top left.
    EXPECT_EQ(parts[0].source, (PixelRect{0, 0, 260, 29}));
    EXPECT_EQ(parts[0].target, (PixelRect{0, 0, 260, 29}));
    // The bottom right corner is the source's last pixel, at the target's.
    EXPECT_EQ(parts[8].source, (PixelRect{500, 381, 501, 382}));
    EXPECT_EQ(parts[8].target, (PixelRect{target.x - 1, target.y - 1, target.x, target.y}));
    // The band stretches only across, the left edge only down.
    EXPECT_EQ(parts[1].source, (PixelRect{260, 0, 500, 29}));
    EXPECT_EQ(parts[1].target, (PixelRect{260, 0, target.x - 1, 29}));
    EXPECT_EQ(parts[3].target, (PixelRect{0, 29, 260, target.y - 1}));
  }
}

TEST(ArtScale, ATargetSmallerThanTheCornersClipsThem) {
  const PixelPoint target{200, 20};
  const auto parts = NinePartStretch({501, 382}, target, 260, 29, 1, 1);
  ExpectTiling(parts, target);
  EXPECT_EQ(parts[0].target, (PixelRect{0, 0, 200, 20}));
  EXPECT_EQ(parts[0].source, (PixelRect{0, 0, 200, 20}));
  for (size_t i = 1; i < parts.size(); ++i) {
    const PixelRect& t = parts[i].target;
    EXPECT_TRUE(t.left == t.right || t.top == t.bottom) << "part " << i;
  }
}

}  // namespace
